#include "encoding/base64.h"

#include <array>
#include <cstring>

namespace tarvona {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 6-bit value of each alphabet character; anything else reads as 0. '='
// also reads as 0 but carries kPad, so one OR over a group tells whether
// it holds padding.
constexpr uint8_t kPad = 0x80;

constexpr std::array<uint8_t, 256> MakeValueTable() {
  std::array<uint8_t, 256> table{};
  for (uint8_t v = 0; v < 64; ++v) table[static_cast<uint8_t>(kAlphabet[v])] = v;
  table['='] = kPad;
  return table;
}

constexpr auto kValues = MakeValueTable();

// The two characters of every 12-bit value, so a 3-byte group is written as
// two table copies.
constexpr std::array<char, 2 * 4096> MakePairTable() {
  std::array<char, 2 * 4096> table{};
  for (size_t v = 0; v < 4096; ++v) {
    table[2 * v] = kAlphabet[v >> 6];
    table[2 * v + 1] = kAlphabet[v & 63];
  }
  return table;
}

constexpr auto kPairs = MakePairTable();

// The 12-bit value of every pair of characters, and kPairPad when either
// holds padding: a group of four decodes with two lookups.
constexpr uint16_t kPairPad = 0x8000;

// Built in place in static storage: not on the stack (it is 128 KiB), and
// not on the heap, where it would be lost when a module holding it is
// unloaded.
struct PairTable {
  PairTable() {
    for (size_t first = 0; first < 256; ++first) {
      for (size_t second = 0; second < 256; ++second) {
        const uint8_t a = kValues[first];
        const uint8_t b = kValues[second];
        values[first | second << 8] =
            ((a | b) & kPad) ? kPairPad : static_cast<uint16_t>(a << 6 | b);
      }
    }
  }
  std::array<uint16_t, 65536> values;
};

const std::array<uint16_t, 65536>& PairValues() {
  static const PairTable table;
  return table.values;
}

}  // namespace

std::string Base64Encode(std::span<const uint8_t> bytes) {
  const size_t n = bytes.size();
  std::string text((n + 2) / 3 * 4, '=');
  char* out = text.data();
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t group =
        (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | uint32_t{bytes[i + 2]};
    std::memcpy(out, &kPairs[2 * (group >> 12)], 2);
    std::memcpy(out + 2, &kPairs[2 * (group & 4095)], 2);
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
  std::vector<uint8_t> bytes(text.size() / 4 * 3);
  uint8_t* out = bytes.data();
  const auto* in = reinterpret_cast<const uint8_t*>(text.data());
  const auto& pairs = PairValues();
  for (size_t i = 0; i + 4 <= text.size(); i += 4) {
    const uint32_t high = pairs[in[i] | in[i + 1] << 8];
    const uint32_t low = pairs[in[i + 2] | in[i + 3] << 8];
    if (((high | low) & kPairPad) == 0) {
      const uint32_t group = high << 12 | low;
      out[0] = static_cast<uint8_t>(group >> 16);
      out[1] = static_cast<uint8_t>(group >> 8);
      out[2] = static_cast<uint8_t>(group);
      out += 3;
      continue;
    }
    const uint8_t v0 = kValues[in[i]];
    const uint8_t v1 = kValues[in[i + 1]];
    const uint8_t v2 = kValues[in[i + 2]];
    const uint8_t v3 = kValues[in[i + 3]];
    // Any '=' ends the data wherever it sits in the group; pages send padding
    // in odd places and expect the bytes before it. A '=' slot counts as 0.
    const int padding = (v0 >> 7) + (v1 >> 7) + (v2 >> 7) + (v3 >> 7);
    const uint8_t b0 = static_cast<uint8_t>(((v0 & 63) << 2) | ((v1 & 63) >> 4));
    const uint8_t b1 = static_cast<uint8_t>(((v1 & 63) << 4) | ((v2 & 63) >> 2));
    if (padding <= 2) *out++ = b0;
    if (padding == 1) *out++ = b1;
    break;
  }
  bytes.resize(static_cast<size_t>(out - bytes.data()));
  return bytes;
}

bool IsBase64Char(char c) {
  const auto u = static_cast<uint8_t>(c);
  return kValues[u] != 0 || u == 'A';
}

}  // namespace tarvona
