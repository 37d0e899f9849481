#include "encoding/base64.h"

#include <array>

namespace tarvona {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 6-bit value of each alphabet character; '=' and anything else read as 0.
constexpr std::array<uint8_t, 256> MakeValueTable() {
  std::array<uint8_t, 256> table{};
  for (uint8_t v = 0; v < 64; ++v) table[static_cast<uint8_t>(kAlphabet[v])] = v;
  return table;
}

constexpr auto kValues = MakeValueTable();

}  // namespace

std::string Base64Encode(std::span<const uint8_t> bytes) {
  const size_t n = bytes.size();
  std::string text((n + 2) / 3 * 4, '=');
  char* out = text.data();
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t group =
        (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | uint32_t{bytes[i + 2]};
    out[0] = kAlphabet[group >> 18];
    out[1] = kAlphabet[(group >> 12) & 63];
    out[2] = kAlphabet[(group >> 6) & 63];
    out[3] = kAlphabet[group & 63];
    out += 4;
  }
  // The tail slots not written below keep the '=' the string was filled with.
  if (const size_t rest = n - i; rest > 0) {
    const uint32_t group =
        (uint32_t{bytes[i]} << 16) | (rest == 2 ? uint32_t{bytes[i + 1]} << 8 : 0u);
    out[0] = kAlphabet[group >> 18];
    out[1] = kAlphabet[(group >> 12) & 63];
    if (rest == 2) out[2] = kAlphabet[(group >> 6) & 63];
  }
  return text;
}

std::vector<uint8_t> Base64Decode(std::string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i + 4 <= text.size(); i += 4) {
    int padding = 0;
    uint8_t v[4];
    for (size_t j = 0; j < 4; ++j) {
      const char c = text[i + j];
      if (c == '=') ++padding;
      v[j] = kValues[static_cast<uint8_t>(c)];
    }
    // Any '=' ends the data wherever it sits in the group; pages send padding
    // in odd places and expect the bytes before it.
    if (padding >= 3) break;
    bytes.push_back(static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4)));
    if (padding == 2) break;
    bytes.push_back(static_cast<uint8_t>(((v[1] & 15) << 4) | (v[2] >> 2)));
    if (padding == 1) break;
    bytes.push_back(static_cast<uint8_t>(((v[2] & 3) << 6) | v[3]));
  }
  return bytes;
}

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

}  // namespace tarvona
