#include "control/method_table.h"

#include <array>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "control/tarvona_control.h"

namespace tarvona {
namespace {

// An argument converted for one parameter type. Strings are viewed, not
// copied, so the argument must outlive the call; a value converted to text
// is kept in `converted`.
template <typename T>
struct Converted {
  T value{};
  Value converted;
};

template <typename T>
constexpr ValueType TypeTag() {
  if constexpr (std::is_same_v<T, int32_t>) return ValueType::kI4;
  if constexpr (std::is_same_v<T, int16_t>) return ValueType::kI2;
  if constexpr (std::is_same_v<T, std::string_view>) return ValueType::kBstr;
  if constexpr (std::is_same_v<T, std::string>) return ValueType::kBstr;
}

template <typename Int>
CallStatus Convert(const Value& arg, ValueConverter convert, Converted<Int>& out) {
  CallStatus status = convert(arg, TypeTag<Int>(), out.converted);
  if (status != CallStatus::kOk) return status;
  const auto* value = std::get_if<Int>(&out.converted);
  if (value == nullptr) return CallStatus::kTypeMismatch;
  out.value = *value;
  return CallStatus::kOk;
}

CallStatus Convert(const Value& arg, ValueConverter convert, Converted<std::string_view>& out) {
  if (const auto* s = std::get_if<std::string>(&arg)) {
    out.value = *s;
  } else {
    CallStatus status = convert(arg, ValueType::kBstr, out.converted);
    if (status != CallStatus::kOk) return status;
    const auto* text = std::get_if<std::string>(&out.converted);
    if (text == nullptr) return CallStatus::kTypeMismatch;
    out.value = *text;
  }
  // The method reads its text up to the first NUL, as 8-bit text would end.
  out.value = out.value.substr(0, out.value.find('\0'));
  return CallStatus::kOk;
}

using Invoker = CallStatus (*)(CTarvonaActiveXCtrl& control, std::span<const Value> args,
                               Value& result, ValueConverter convert, uint32_t* arg_error);

// A member bound to its method: how to call it and the signature it has,
// to be checked against the method table.
struct Bound {
  std::string_view name;
  Invoker invoke;
  ValueType result;
  std::array<ValueType, 8> params;
  size_t arity;

  constexpr bool Matches(const MethodInfo& method) const {
    if (method.name != name || method.result != result || method.params.size() != arity) {
      return false;
    }
    for (size_t i = 0; i < arity; ++i) {
      if (method.params[i].type != params[i]) return false;
    }
    return true;
  }
};

template <auto Member>
struct Binding;

template <typename R, typename... Args, R (CTarvonaActiveXCtrl::*Member)(Args...)>
struct Binding<Member> {
  static constexpr size_t kArity = sizeof...(Args);
  static_assert(kArity <= 8, "Bound holds eight parameter types");

  static CallStatus Invoke(CTarvonaActiveXCtrl& control, std::span<const Value> args, Value& result,
                           ValueConverter convert, uint32_t* arg_error) {
    if (args.size() != kArity) return CallStatus::kBadParamCount;
    std::tuple<Converted<Args>...> converted;
    CallStatus status = CallStatus::kOk;
    uint32_t failed_at = 0;
    [&]<size_t... I>(std::index_sequence<I...>) {
      // && stops at the first argument that does not convert.
      (void)(((status = Convert(args[I], convert, std::get<I>(converted))) == CallStatus::kOk ||
              (failed_at = static_cast<uint32_t>(I), false)) &&
             ...);
    }
    (std::index_sequence_for<Args...>{});
    if (status != CallStatus::kOk) {
      if (arg_error != nullptr) *arg_error = failed_at;
      return status;
    }
    result = std::apply(
        [&](auto&... c) { return Value(std::in_place_type<R>, (control.*Member)(c.value...)); },
        converted);
    return CallStatus::kOk;
  }

  static constexpr Bound Describe(std::string_view name) {
    return {name, &Invoke, TypeTag<R>(), {TypeTag<Args>()...}, kArity};
  }
};

#define TARVONA_BIND(name) Binding<&CTarvonaActiveXCtrl::name>::Describe(#name)

// In DISPID order.
constexpr std::array kBindings = {
    TARVONA_BIND(ConnectToken),
    TARVONA_BIND(DisconnectToken),
    TARVONA_BIND(Login),
    TARVONA_BIND(Logout),
    TARVONA_BIND(RetrieveSerial),
    TARVONA_BIND(ChangeSOPin),
    TARVONA_BIND(ChangeUserPin),
    TARVONA_BIND(UnblockUserPin),
    TARVONA_BIND(EnumCertificate),
    TARVONA_BIND(EnumPublicKey),
    TARVONA_BIND(EnumPrivateKey),
    TARVONA_BIND(GetAttribute),
    TARVONA_BIND(Encrypt),
    TARVONA_BIND(Decrypt),
    TARVONA_BIND(Hash),
    TARVONA_BIND(Sign),
    TARVONA_BIND(SignByCertSerial),
    TARVONA_BIND(Verify),
    TARVONA_BIND(VerifyByCertSerial),
    TARVONA_BIND(SignByCSP),
    TARVONA_BIND(VerifyByCSP),
    TARVONA_BIND(EncryptByCSP),
    TARVONA_BIND(DecryptByCSP),
    TARVONA_BIND(VerifyCertCRL),
    TARVONA_BIND(TokenInitialize),
    TARVONA_BIND(RetrieveAllTokenSerial),
};

#undef TARVONA_BIND

constexpr bool BindingsMatchTheTable() {
  if (kBindings.size() != MethodTable().size()) return false;
  for (size_t i = 0; i < kBindings.size(); ++i) {
    if (!kBindings[i].Matches(MethodTable()[i])) return false;
  }
  return true;
}
static_assert(BindingsMatchTheTable(),
              "every member has its method's name, DISPID position, result and parameter types");

}  // namespace

CallStatus Invoke(CTarvonaActiveXCtrl& control, int32_t dispid, std::span<const Value> args,
                  Value& result, ValueConverter convert, uint32_t* arg_error) {
  const MethodInfo* method = FindMethod(dispid);
  if (method == nullptr) return CallStatus::kMemberNotFound;
  // Nothing may escape into the caller: a method that cannot get memory
  // fails the call instead.
  try {
    return kBindings[static_cast<size_t>(dispid - 1)].invoke(control, args, result, convert,
                                                             arg_error);
  } catch (const std::bad_alloc&) {
    return CallStatus::kOutOfMemory;
  } catch (...) {
    return CallStatus::kUnexpected;
  }
}

}  // namespace tarvona
