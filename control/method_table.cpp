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

using com::HRESULT;
using com::Variant;
using com::VarType;

// An argument converted for one parameter type. Strings are viewed, not
// copied, so the argument must outlive the call; a value converted to text
// is kept in `converted`.
template <typename T>
struct Converted {
  T value{};
  Variant converted;
};

template <typename T>
constexpr VarType TypeTag() {
  if constexpr (std::is_same_v<T, int32_t>) return VarType::kI4;
  if constexpr (std::is_same_v<T, int16_t>) return VarType::kI2;
  if constexpr (std::is_same_v<T, std::string_view>) return VarType::kBstr;
  if constexpr (std::is_same_v<T, std::string>) return VarType::kBstr;
}

// Arguments convert as the automation layer of script hosts converts them
// (VariantChangeType).
template <typename Int>
HRESULT Convert(const Variant& arg, Converted<Int>& out) {
  HRESULT hr = com::ChangeType(arg, TypeTag<Int>(), &out.converted);
  if (com::Succeeded(hr)) out.value = std::get<Int>(out.converted);
  return hr;
}

HRESULT Convert(const Variant& arg, Converted<std::string_view>& out) {
  if (const auto* s = std::get_if<std::string>(&arg)) {
    out.value = *s;
  } else {
    HRESULT hr = com::ChangeType(arg, VarType::kBstr, &out.converted);
    if (com::Failed(hr)) return hr;
    out.value = std::get<std::string>(out.converted);
  }
  // The method reads its text up to the first NUL, as 8-bit text would end.
  out.value = out.value.substr(0, out.value.find('\0'));
  return com::S_OK;
}

template <auto Member>
struct Binding;

template <typename R, typename... Args, R (CTarvonaActiveXCtrl::*Member)(Args...)>
struct Binding<Member> {
  static constexpr VarType kResult = TypeTag<R>();
  static constexpr size_t kArity = sizeof...(Args);

  static HRESULT Invoke(CTarvonaActiveXCtrl& control, std::span<const Variant> args,
                        Variant& result, uint32_t* arg_error) {
    if (args.size() != kArity) return com::DISP_E_BADPARAMCOUNT;
    std::tuple<Converted<Args>...> converted;
    HRESULT hr = com::S_OK;
    uint32_t failed_at = 0;
    [&]<size_t... I>(std::index_sequence<I...>) {
      // && stops at the first argument that does not convert.
      (void)((com::Succeeded(hr = Convert(args[I], std::get<I>(converted))) ||
              (failed_at = static_cast<uint32_t>(I), false)) &&
             ...);
    }(std::index_sequence_for<Args...>{});
    if (com::Failed(hr)) {
      if (arg_error != nullptr) *arg_error = failed_at;
      return hr;
    }
    result = std::apply(
        [&](auto&... c) { return Variant(std::in_place_type<R>, (control.*Member)(c.value...)); },
        converted);
    return com::S_OK;
  }

  template <typename... Names>
  static constexpr std::array<ParamInfo, kArity> Params(Names... names) {
    static_assert(sizeof...(Names) == kArity, "one name per parameter");
    return {ParamInfo{names, TypeTag<Args>()}...};
  }
};

#define TARVONA_METHOD(dispid, name, ...)                                                   \
  MethodInfo {                                                                              \
    dispid, #name, Binding<&CTarvonaActiveXCtrl::name>::kResult, kParams_##name,             \
        &Binding<&CTarvonaActiveXCtrl::name>::Invoke                                        \
  }
#define TARVONA_PARAMS(name, ...) \
  constexpr auto kParams_##name = Binding<&CTarvonaActiveXCtrl::name>::Params(__VA_ARGS__)

// Parameter names are the type library's.
constexpr std::array<ParamInfo, 0> kParams_ConnectToken{};
TARVONA_PARAMS(DisconnectToken, "SessionID");
TARVONA_PARAMS(Login, "SessionID", "strUserPin");
TARVONA_PARAMS(Logout, "SessionID");
TARVONA_PARAMS(RetrieveSerial, "SessionID");
TARVONA_PARAMS(ChangeSOPin, "SessionID", "strCurrSOPin", "strNewSOPin");
TARVONA_PARAMS(ChangeUserPin, "SessionID", "strCurrUserPin", "strNewUserPin");
TARVONA_PARAMS(UnblockUserPin, "SessionID", "strSOPin", "strUserPin");
TARVONA_PARAMS(EnumCertificate, "SessionID", "lngCert");
TARVONA_PARAMS(EnumPublicKey, "SessionID", "lngPublic");
TARVONA_PARAMS(EnumPrivateKey, "SessionID", "lngPrivate");
TARVONA_PARAMS(GetAttribute, "SessionID", "lngObject", "lngAttribute");
TARVONA_PARAMS(Encrypt, "SessionID", "lngKey", "reserved", "strPlainText");
TARVONA_PARAMS(Decrypt, "SessionID", "lngKey", "reserved", "lngCipherText");
TARVONA_PARAMS(Hash, "SessionID", "lngHashType", "strPlainText");
TARVONA_PARAMS(Sign, "SessionID", "lngKey", "lngHashType", "strPlainText");
TARVONA_PARAMS(SignByCertSerial, "SessionID", "certserial", "HashType", "plaintext");
TARVONA_PARAMS(Verify, "SessionID", "lngKey", "lngHashType", "strPlainText", "strSignText");
TARVONA_PARAMS(VerifyByCertSerial, "SessionID", "certserial", "HashType", "plaintext",
               "signature");
TARVONA_PARAMS(SignByCSP, "SessionID", "certType", "certData", "HashType", "plaintext");
TARVONA_PARAMS(VerifyByCSP, "SessionID", "CertDataType", "certData", "HashType", "plaintext",
               "signature");
TARVONA_PARAMS(EncryptByCSP, "SessionID", "CertDataType", "certData", "reserved", "plaintext");
TARVONA_PARAMS(DecryptByCSP, "SessionID", "CertDataType", "certData", "reserved",
               "ciphertext");
TARVONA_PARAMS(VerifyCertCRL, "SessionID", "CertDataType", "certData");
TARVONA_PARAMS(TokenInitialize, "SessionID", "strSOPin", "strNewUserPin", "strNewTokenName");
TARVONA_PARAMS(RetrieveAllTokenSerial, "SessionID");

constexpr std::array kMethods = {
    TARVONA_METHOD(1, ConnectToken),
    TARVONA_METHOD(2, DisconnectToken),
    TARVONA_METHOD(3, Login),
    TARVONA_METHOD(4, Logout),
    TARVONA_METHOD(5, RetrieveSerial),
    TARVONA_METHOD(6, ChangeSOPin),
    TARVONA_METHOD(7, ChangeUserPin),
    TARVONA_METHOD(8, UnblockUserPin),
    TARVONA_METHOD(9, EnumCertificate),
    TARVONA_METHOD(10, EnumPublicKey),
    TARVONA_METHOD(11, EnumPrivateKey),
    TARVONA_METHOD(12, GetAttribute),
    TARVONA_METHOD(13, Encrypt),
    TARVONA_METHOD(14, Decrypt),
    TARVONA_METHOD(15, Hash),
    TARVONA_METHOD(16, Sign),
    TARVONA_METHOD(17, SignByCertSerial),
    TARVONA_METHOD(18, Verify),
    TARVONA_METHOD(19, VerifyByCertSerial),
    TARVONA_METHOD(20, SignByCSP),
    TARVONA_METHOD(21, VerifyByCSP),
    TARVONA_METHOD(22, EncryptByCSP),
    TARVONA_METHOD(23, DecryptByCSP),
    TARVONA_METHOD(24, VerifyCertCRL),
    TARVONA_METHOD(25, TokenInitialize),
    TARVONA_METHOD(26, RetrieveAllTokenSerial),
};

#undef TARVONA_PARAMS
#undef TARVONA_METHOD

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::span<const MethodInfo> MethodTable() { return kMethods; }

const MethodInfo* FindMethod(std::string_view name) {
  for (const MethodInfo& method : kMethods) {
    if (EqualsIgnoringCase(method.name, name)) return &method;
  }
  return nullptr;
}

const MethodInfo* FindMethod(int32_t dispid) {
  if (dispid < 1 || dispid > static_cast<int32_t>(kMethods.size())) return nullptr;
  return &kMethods[static_cast<size_t>(dispid - 1)];
}

HRESULT Invoke(CTarvonaActiveXCtrl& control, int32_t dispid, std::span<const Variant> args,
               Variant& result, uint32_t* arg_error) {
  const MethodInfo* method = FindMethod(dispid);
  if (method == nullptr) return com::DISP_E_MEMBERNOTFOUND;
  // Nothing may escape into the caller: a method that cannot get memory
  // fails the call instead.
  try {
    return method->invoke(control, args, result, arg_error);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return com::E_UNEXPECTED;
  }
}

}  // namespace tarvona
