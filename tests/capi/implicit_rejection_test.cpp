#include "capi/implicit_rejection.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

#include "encoding/hex.h"

namespace tarvona::capi {
namespace {

const Sha1 kSha1 = [](std::span<const uint8_t> data) {
  std::vector<uint8_t> digest(SHA_DIGEST_LENGTH);
  SHA1(data.data(), data.size(), digest.data());
  return std::optional(digest);
};

std::vector<uint8_t> Text(std::string_view text) { return {text.begin(), text.end()}; }

TEST(ImplicitRejectionTest, HmacMatchesTheKnownAnswers) {
  // RFC 2202's cases for a short key, a key of the block size's order, and
  // a key longer than the block (hashed first).
  struct Case {
    std::vector<uint8_t> key;
    std::string message;
    const char* mac;
  };
  const Case cases[] = {
      {std::vector<uint8_t>(20, 0x0B), "Hi There", "B617318655057264E28BC0B6FB378C8EF146BE00"},
      {Text("Jefe"), "what do ya want for nothing?", "EFFCDF6AE5EB2FA2D27416D5F184DF9C259A7C79"},
      {std::vector<uint8_t>(80, 0xAA), "Test Using Larger Than Block-Size Key - Hash Key First",
       "AA4AE5E15272D00E95705637CE8A3B55ED402112"},
  };
  for (const Case& c : cases) {
    auto mac = HmacSha1(kSha1, c.key, Text(c.message));
    ASSERT_TRUE(mac);
    EXPECT_EQ(HexEncode(*mac), c.mac) << c.message;
  }
}

TEST(ImplicitRejectionTest, SyntheticPlaintextsAreFixedPerKeyAndCiphertext) {
  const std::vector<uint8_t> secret(256, 0x5A), other_secret(256, 0xA5);
  std::vector<uint8_t> ciphertext(256, 0x33);
  const auto first = SyntheticPlaintext(kSha1, secret, ciphertext, 245);
  ASSERT_TRUE(first);
  EXPECT_LE(first->size(), 245u);
  EXPECT_EQ(SyntheticPlaintext(kSha1, secret, ciphertext, 245), first);
  EXPECT_NE(SyntheticPlaintext(kSha1, other_secret, ciphertext, 245), first);
  ciphertext[0] ^= 1;
  EXPECT_NE(SyntheticPlaintext(kSha1, secret, ciphertext, 245), first);
  // Lengths spread over the whole range, never past it.
  size_t longest = 0;
  for (uint8_t i = 0; i < 64; ++i) {
    ciphertext[1] = i;
    const auto plaintext = SyntheticPlaintext(kSha1, secret, ciphertext, 117);
    ASSERT_TRUE(plaintext);
    ASSERT_LE(plaintext->size(), 117u);
    longest = std::max(longest, plaintext->size());
  }
  EXPECT_GT(longest, 60u);
  EXPECT_EQ(SyntheticPlaintext(kSha1, secret, ciphertext, 0)->size(), 0u);
}

}  // namespace
}  // namespace tarvona::capi
