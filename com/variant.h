#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "com/hresult.h"

namespace tarvona::com {

// The argument and result values of a dispatch call: what a script engine
// hands over for integers and strings. Strings are UTF-8. `std::monostate`
// stands for an empty or unsupported value (null, a boolean, a fraction).
using Variant = std::variant<std::monostate, int16_t, int32_t, int64_t, std::string>;

// The automation type tags of the values above.
enum class VarType : uint16_t { kEmpty = 0, kI2 = 2, kI4 = 3, kBstr = 8, kI8 = 20 };

inline VarType TypeOf(const Variant& v) {
  static constexpr VarType kTypes[] = {VarType::kEmpty, VarType::kI2, VarType::kI4,
                                       VarType::kI8, VarType::kBstr};
  return kTypes[v.index()];
}

// VariantChangeType for these types: integers convert between widths and
// to decimal text, decimal text converts to integers. DISP_E_OVERFLOW when
// the number does not fit, DISP_E_TYPEMISMATCH for anything else.
// kEmpty asks for the value unchanged.
HRESULT ChangeType(const Variant& from, VarType to, Variant* out);

}  // namespace tarvona::com
