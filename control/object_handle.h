#pragma once

#include <cstdint>
#include <optional>

#include "token/cryptoki.h"

namespace tarvona {

// Object handles cross to script as 32-bit longs, and Cryptoki handles are
// wider here. A handle is handed out as its 32-bit pattern (values above
// 0x7FFFFFFF come out negative and go back unchanged); a handle that needs
// more than 32 bits is never handed out, since cut short it would name
// another object.
inline std::optional<int32_t> HandleToScript(CK_OBJECT_HANDLE handle) {
  if (handle > UINT32_MAX) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(handle));
}

inline CK_OBJECT_HANDLE HandleFromScript(int32_t value) {
  return static_cast<uint32_t>(value);
}

}  // namespace tarvona
