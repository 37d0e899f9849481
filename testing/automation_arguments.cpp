#include "testing/automation_arguments.h"

#include <oleauto.h>

#include <string>

#include "linux/com/wide_text.h"

namespace tarvona::testing {
namespace {

struct HeldVariant {
  VARIANT v;
  HeldVariant() { VariantInit(&v); }
  ~HeldVariant() { VariantClear(&v); }
};

}  // namespace

CallStatus ConvertArgument(const Value& from, ValueType to, Value& out) {
  if (to == ValueType::kEmpty) {
    out = from;
    return CallStatus::kOk;
  }
  HeldVariant given, converted;
  if (const auto* i2 = std::get_if<int16_t>(&from)) {
    given.v.vt = VT_I2;
    given.v.iVal = *i2;
  } else if (const auto* i4 = std::get_if<int32_t>(&from)) {
    given.v.vt = VT_I4;
    given.v.lVal = *i4;
  } else if (const auto* i8 = std::get_if<int64_t>(&from)) {
    given.v.vt = VT_I8;
    given.v.llVal = *i8;
  } else if (const auto* text = std::get_if<std::string>(&from)) {
    const std::u16string wide = linux_com::Utf8ToUtf16(*text);
    given.v.vt = VT_BSTR;
    given.v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (given.v.bstrVal == nullptr) return CallStatus::kOutOfMemory;
  } else {
    given.v.vt = VT_NULL;
  }
  const HRESULT hr = VariantChangeType(&converted.v, &given.v, 0, static_cast<VARTYPE>(to));
  if (hr == DISP_E_OVERFLOW) return CallStatus::kOverflow;
  if (hr == E_OUTOFMEMORY) return CallStatus::kOutOfMemory;
  if (FAILED(hr)) return CallStatus::kTypeMismatch;
  switch (converted.v.vt) {
    case VT_I2:
      out = static_cast<int16_t>(converted.v.iVal);
      break;
    case VT_I4:
      out = static_cast<int32_t>(converted.v.lVal);
      break;
    case VT_BSTR:
      out = linux_com::Utf16ToUtf8({converted.v.bstrVal, SysStringLen(converted.v.bstrVal)});
      break;
    default:
      return CallStatus::kTypeMismatch;
  }
  return CallStatus::kOk;
}

}  // namespace tarvona::testing
