#pragma once

#include "com/hresult.h"
#include "common/automation.h"

namespace tarvona::com {

// The automation values of this emulation are the control's own values:
// integers and UTF-8 strings, tagged with automation's type numbers.
using Variant = ::tarvona::Value;
using VarType = ::tarvona::ValueType;
using ::tarvona::TypeOf;

// VariantChangeType for these types: integers convert between widths and
// to decimal text, decimal text converts to integers. DISP_E_OVERFLOW when
// the number does not fit, DISP_E_TYPEMISMATCH for anything else.
// kEmpty asks for the value unchanged.
HRESULT ChangeType(const Variant& from, VarType to, Variant* out);

// ChangeType as the control's argument converter.
CallStatus ConvertArgument(const Value& from, ValueType to, Value& out);

}  // namespace tarvona::com
