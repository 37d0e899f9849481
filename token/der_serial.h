#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace tarvona {

// The content bytes of a certificate's CKA_SERIAL_NUMBER, a DER INTEGER:
// the value without its tag byte and one-byte length. A value too short to
// hold both, or one with a long-form length (no X.509 serial needs one),
// has no content that can be matched or shown.
inline std::optional<std::span<const uint8_t>> SerialContent(std::span<const uint8_t> der) {
  if (der.size() < 2 || (der[1] & 0x80) != 0) return std::nullopt;
  return der.subspan(2);
}

}  // namespace tarvona
