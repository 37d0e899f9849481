#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvona {

// Two upper-case hex digits per byte, most significant nibble first.
std::string HexEncode(std::span<const uint8_t> bytes);

// Lenient decoding, never refused: characters are taken in pairs and an odd
// last character is ignored. '0'-'9' are 0-9, 'A'-'Z' and 'a'-'z' are 10-35,
// any other character counts as its own 8-bit code; each pair gives
// (first * 16 + second) mod 256. So "zz" gives 0x53 and "G0" gives 0x00.
std::vector<uint8_t> HexDecode(std::string_view text);

}  // namespace tarvona
