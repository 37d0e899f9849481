#include "capi/implicit_rejection.h"

#include <algorithm>
#include <array>

namespace tarvona::capi {
namespace {

constexpr size_t kBlock = 64;  // SHA-1's input block

std::span<const uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::vector<uint8_t> Joined(std::initializer_list<std::span<const uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (auto part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace

std::optional<std::vector<uint8_t>> HmacSha1(const Sha1& sha1, std::span<const uint8_t> key,
                                             std::span<const uint8_t> message) {
  std::array<uint8_t, kBlock> padded{};
  if (key.size() > kBlock) {
    auto hashed = sha1(key);
    if (!hashed || hashed->size() > kBlock) return std::nullopt;
    std::copy(hashed->begin(), hashed->end(), padded.begin());
  } else {
    std::copy(key.begin(), key.end(), padded.begin());
  }
  std::array<uint8_t, kBlock> inner_pad{};
  std::array<uint8_t, kBlock> outer_pad{};
  for (size_t i = 0; i < kBlock; ++i) {
    inner_pad[i] = static_cast<uint8_t>(padded[i] ^ 0x36);
    outer_pad[i] = static_cast<uint8_t>(padded[i] ^ 0x5C);
  }
  auto inner = sha1(Joined({inner_pad, message}));
  if (!inner) return std::nullopt;
  return sha1(Joined({outer_pad, *inner}));
}

std::optional<std::vector<uint8_t>> SyntheticPlaintext(const Sha1& sha1,
                                                       std::span<const uint8_t> secret,
                                                       std::span<const uint8_t> ciphertext,
                                                       size_t most) {
  // One key per ciphertext, then a counter-mode stream under it.
  auto derived = HmacSha1(sha1, secret, ciphertext);
  if (!derived) return std::nullopt;
  auto length_bytes = HmacSha1(sha1, *derived, BytesOf("length"));
  if (!length_bytes || length_bytes->size() < 2) return std::nullopt;
  const size_t length = ((size_t{(*length_bytes)[0]} << 8) | (*length_bytes)[1]) % (most + 1);
  std::vector<uint8_t> plaintext;
  for (uint32_t counter = 0; plaintext.size() < length; ++counter) {
    const std::array<uint8_t, 4> count = {
        static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
        static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
    auto part = HmacSha1(sha1, *derived, Joined({count, BytesOf("message")}));
    if (!part || part->empty()) return std::nullopt;
    plaintext.insert(plaintext.end(), part->begin(), part->end());
  }
  plaintext.resize(length);
  return plaintext;
}

}  // namespace tarvona::capi
