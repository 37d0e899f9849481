#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvona {

// RFC 4648 base64, standard alphabet, "=" padding, no line breaks.
std::string Base64Encode(std::span<const uint8_t> bytes);

// Decodes text that holds Base64 characters only (the armour reader filters
// first). Groups of four are decoded until the first group holding "=":
// one "=" gives two bytes, two give one, more give none; decoding stops
// there. A trailing partial group is ignored. Never fails.
std::vector<uint8_t> Base64Decode(std::string_view text);

// True for A-Z, a-z, 0-9, '+', '/' and '='.
bool IsBase64Char(char c);

}  // namespace tarvona
