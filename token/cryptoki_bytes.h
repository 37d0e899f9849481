#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "token/cryptoki.h"

namespace tarvona {

// Cryptoki takes input bytes through non-const pointers and some modules
// refuse a null pointer even with a length of 0, so empty input is passed as
// a valid pointer to nothing.
inline CK_BYTE_PTR InputBytes(std::span<const uint8_t> bytes) {
  static CK_BYTE nothing = 0;
  return bytes.empty() ? &nothing : const_cast<CK_BYTE_PTR>(bytes.data());
}

inline CK_UTF8CHAR_PTR InputText(std::string_view text) {
  return InputBytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

}  // namespace tarvona
