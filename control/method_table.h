#pragma once

#include <cstdint>
#include <span>

#include "common/automation.h"
#include "control/method_metadata.h"

namespace tarvona {

class CTarvonaActiveXCtrl;

// The whole call: argument count and types are checked against the method
// table (kBadParamCount, kTypeMismatch, kOverflow); an unknown DISPID is
// kMemberNotFound. Each argument goes through `convert`, the platform's
// automation conversion, to its parameter's type; on a failure *arg_error
// is set to the position of the offending argument. A string argument
// reaches the method up to its first NUL. Never throws.
CallStatus Invoke(CTarvonaActiveXCtrl& control, int32_t dispid, std::span<const Value> args,
                  Value& result, ValueConverter convert, uint32_t* arg_error = nullptr);

}  // namespace tarvona
