#include "encoding/hex.h"

#include <array>

namespace tarvona {
namespace {

// Two output characters per byte value, so encoding is one lookup and one
// two-byte copy per input byte.
constexpr std::array<std::array<char, 2>, 256> MakePairTable() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<std::array<char, 2>, 256> table{};
  for (size_t i = 0; i < table.size(); ++i) {
    table[i] = {kDigits[i >> 4], kDigits[i & 0xF]};
  }
  return table;
}

// Callers feed unchecked page text, so every character has a value: letters
// run on past 'F' up to 35 and anything else stands for its own code.
constexpr std::array<uint8_t, 256> MakeValueTable() {
  std::array<uint8_t, 256> table{};
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i);
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = static_cast<uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<uint8_t>(c - 'a' + 10);
  return table;
}

constexpr auto kPairs = MakePairTable();
constexpr auto kValues = MakeValueTable();

}  // namespace

std::string HexEncode(std::span<const uint8_t> bytes) {
  std::string text(bytes.size() * 2, '\0');
  char* out = text.data();
  for (uint8_t b : bytes) {
    const auto& pair = kPairs[b];
    out[0] = pair[0];
    out[1] = pair[1];
    out += 2;
  }
  return text;
}

std::vector<uint8_t> HexDecode(std::string_view text) {
  std::vector<uint8_t> bytes(text.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t high = kValues[static_cast<uint8_t>(text[2 * i])];
    const uint8_t low = kValues[static_cast<uint8_t>(text[2 * i + 1])];
    // Unsigned arithmetic wraps, giving the mod 256 that callers rely on.
    bytes[i] = static_cast<uint8_t>(high * 16u + low);
  }
  return bytes;
}

}  // namespace tarvona
