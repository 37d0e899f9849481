#pragma once

#include "common/automation.h"

namespace tarvona::testing {

// The control's arguments converted as the module converts them: through
// VariantChangeType (the Linux COM runtime's). Null goes as VT_NULL, which
// converts to no parameter type; kEmpty asks for the value unchanged.
CallStatus ConvertArgument(const Value& from, ValueType to, Value& out);

}  // namespace tarvona::testing
