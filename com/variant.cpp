#include "com/variant.h"

#include <charconv>
#include <limits>
#include <string>

namespace tarvona::com {

static_assert(AutomationHresult(CallStatus::kMemberNotFound) == DISP_E_MEMBERNOTFOUND &&
              AutomationHresult(CallStatus::kBadParamCount) == DISP_E_BADPARAMCOUNT &&
              AutomationHresult(CallStatus::kTypeMismatch) == DISP_E_TYPEMISMATCH &&
              AutomationHresult(CallStatus::kOverflow) == DISP_E_OVERFLOW &&
              AutomationHresult(CallStatus::kOutOfMemory) == E_OUTOFMEMORY &&
              AutomationHresult(CallStatus::kUnexpected) == E_UNEXPECTED);
namespace {

template <typename Int>
HRESULT Narrow(int64_t wide, Variant* out) {
  if (wide < std::numeric_limits<Int>::min() || wide > std::numeric_limits<Int>::max()) {
    return DISP_E_OVERFLOW;
  }
  *out = static_cast<Int>(wide);
  return S_OK;
}

}  // namespace

HRESULT ChangeType(const Variant& from, VarType to, Variant* out) {
  if (to == VarType::kEmpty || TypeOf(from) == to) {
    *out = from;
    return S_OK;
  }
  int64_t wide = 0;
  if (const auto* text = std::get_if<std::string>(&from)) {
    if (to == VarType::kBstr) return DISP_E_TYPEMISMATCH;
    const char* end = text->data() + text->size();
    auto [ptr, ec] = std::from_chars(text->data(), end, wide);
    if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (ec != std::errc() || ptr != end || text->empty()) return DISP_E_TYPEMISMATCH;
  } else if (std::holds_alternative<std::monostate>(from)) {
    return DISP_E_TYPEMISMATCH;
  } else {
    std::visit(
        [&](const auto& v) {
          if constexpr (std::is_integral_v<std::decay_t<decltype(v)>>) wide = v;
        },
        from);
  }
  switch (to) {
    case VarType::kI2:
      return Narrow<int16_t>(wide, out);
    case VarType::kI4:
      return Narrow<int32_t>(wide, out);
    case VarType::kI8:
      *out = wide;
      return S_OK;
    case VarType::kBstr:
      *out = std::to_string(wide);
      return S_OK;
    case VarType::kEmpty:
      break;
  }
  return DISP_E_TYPEMISMATCH;
}

CallStatus ConvertArgument(const Value& from, ValueType to, Value& out) {
  switch (ChangeType(from, to, &out)) {
    case S_OK:
      return CallStatus::kOk;
    case DISP_E_OVERFLOW:
      return CallStatus::kOverflow;
    default:
      return CallStatus::kTypeMismatch;
  }
}

}  // namespace tarvona::com
