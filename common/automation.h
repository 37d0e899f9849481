#pragma once

#include <cstdint>
#include <string>
#include <variant>

// The values a scripting host hands to the control's methods and gets back,
// and the ways a call can fail before a method runs. Each platform's module
// translates between these and its own automation types (VARIANT, HRESULT).
namespace tarvona {

// An argument or result: what a script engine hands over for integers and
// strings. Strings are UTF-8. `std::monostate` stands for an empty or
// unsupported value (null, a boolean, a fraction).
using Value = std::variant<std::monostate, int16_t, int32_t, int64_t, std::string>;

// The type of a value, numbered as automation numbers its type tags.
enum class ValueType : uint16_t { kEmpty = 0, kI2 = 2, kI4 = 3, kBstr = 8, kI8 = 20 };

inline ValueType TypeOf(const Value& v) {
  static constexpr ValueType kTypes[] = {ValueType::kEmpty, ValueType::kI2, ValueType::kI4,
                                         ValueType::kI8, ValueType::kBstr};
  return kTypes[v.index()];
}

// Why a call did not reach its method, or failed in it.
enum class CallStatus {
  kOk,
  kMemberNotFound,  // no method with that DISPID
  kBadParamCount,   // the wrong number of arguments
  kTypeMismatch,    // an argument that does not convert to its parameter's type
  kOverflow,        // a number that does not fit its parameter's type
  kOutOfMemory,
  kUnexpected,
};

// The automation error (HRESULT) a call with this status reports; the
// numbers are automation's own, the same on every platform.
constexpr int32_t AutomationHresult(CallStatus status) {
  switch (status) {
    case CallStatus::kOk:
      return 0;  // S_OK
    case CallStatus::kMemberNotFound:
      return static_cast<int32_t>(0x80020003);  // DISP_E_MEMBERNOTFOUND
    case CallStatus::kBadParamCount:
      return static_cast<int32_t>(0x8002000E);  // DISP_E_BADPARAMCOUNT
    case CallStatus::kTypeMismatch:
      return static_cast<int32_t>(0x80020005);  // DISP_E_TYPEMISMATCH
    case CallStatus::kOverflow:
      return static_cast<int32_t>(0x8002000A);  // DISP_E_OVERFLOW
    case CallStatus::kOutOfMemory:
      return static_cast<int32_t>(0x8007000E);  // E_OUTOFMEMORY
    case CallStatus::kUnexpected:
      break;
  }
  return static_cast<int32_t>(0x8000FFFF);  // E_UNEXPECTED
}

// Converts an argument to a parameter's type as the platform's automation
// layer does (VariantChangeType): kOk, kTypeMismatch or kOverflow.
// ValueType::kEmpty asks for the value unchanged.
using ValueConverter = CallStatus (*)(const Value& from, ValueType to, Value& out);

}  // namespace tarvona
