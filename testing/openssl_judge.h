#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// OpenSSL as an independent judge of what the control produces.
namespace tarvona::testing {

enum class Digest { kSha1, kMd5, kSha256, kNone };

std::vector<uint8_t> DigestOf(Digest digest, std::span<const uint8_t> data);

// PKCS #1 v1.5 verification against the public key of a PEM certificate.
// kNone verifies a raw CKM_RSA_PKCS signature: the signature must recover
// exactly `data`.
bool VerifiesWith(const std::string& certificate_pem, Digest digest,
                  std::span<const uint8_t> data, std::span<const uint8_t> signature);

// PKCS #1 v1.5 signature with a private key PEM file (most significant byte first).
std::vector<uint8_t> SignWith(const std::string& key_pem_path, Digest digest,
                              std::span<const uint8_t> data);

// PKCS #1 v1.5 encryption to a certificate's key, and decryption with a
// private key PEM file (empty on failure).
std::vector<uint8_t> EncryptTo(const std::string& certificate_pem, std::span<const uint8_t> data);
std::vector<uint8_t> DecryptWith(const std::string& key_pem_path,
                                 std::span<const uint8_t> ciphertext);
// A ciphertext of the key's size whose PKCS #1 padding is bad: 00 02 and
// then no zero byte to end the padding, encrypted raw.
std::vector<uint8_t> BadPaddingTo(const std::string& certificate_pem);

// The RSA modulus of a PEM certificate's key, most significant byte first.
std::vector<uint8_t> ModulusOf(const std::string& certificate_pem);

std::vector<uint8_t> Bytes(std::string_view text);

}  // namespace tarvona::testing
