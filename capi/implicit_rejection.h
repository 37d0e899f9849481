#pragma once

// The answer to a ciphertext whose PKCS #1 padding is bad, on a platform
// whose provider reports bad padding as a failure: bytes that look like a
// plaintext, derived from a secret only the key can make and from the
// ciphertext, so the same ciphertext always gives the same bytes and a
// caller cannot tell bad padding from success (no padding oracle).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tarvona::capi {

// SHA-1 of the given bytes, as the platform computes it.
using Sha1 = std::function<std::optional<std::vector<uint8_t>>(std::span<const uint8_t>)>;

// What the key signs (PKCS #1 v1.5, deterministic) to make the secret.
inline constexpr std::string_view kRejectionLabel = "tarvona implicit rejection";

// HMAC-SHA-1 of `message` under `key`; nullopt when hashing fails.
std::optional<std::vector<uint8_t>> HmacSha1(const Sha1& sha1, std::span<const uint8_t> key,
                                             std::span<const uint8_t> message);

// A plaintext of 0 to `most` bytes from `secret` and `ciphertext`; nullopt
// when hashing fails.
std::optional<std::vector<uint8_t>> SyntheticPlaintext(const Sha1& sha1,
                                                       std::span<const uint8_t> secret,
                                                       std::span<const uint8_t> ciphertext,
                                                       size_t most);

}  // namespace tarvona::capi
