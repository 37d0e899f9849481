#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result_code.h"

// What the certificate store road needs of the platform: the current user's
// personal certificate store and the RSA providers. Byte strings cross this
// interface in CryptoAPI's order (serial numbers, signatures and ciphertexts
// least significant byte first), so a CryptoAPI implementation passes them
// through and others convert.
namespace tarvona::capi {

enum class HashAlgorithm { kSha1, kMd2, kMd5 };

// Whether a certificate is within its validity now.
enum class Validity { kValid, kExpired, kNotYetValid };

// What a selection dialog shows of one certificate.
struct CertificateSummary {
  std::string subject;                   // the common name, or the whole name when it has none
  std::string issuer;                    // likewise
  std::string expires;                   // the last day of validity, YYYY-MM-DD (UTC)
  std::string valid_from;                // the first day of validity, likewise
  Validity validity = Validity::kValid;  // at the time of the summary
};

// One certificate; released when destroyed.
class Certificate {
 public:
  virtual ~Certificate() = default;
  // The content bytes of the DER serial number INTEGER (sign byte included),
  // least significant first.
  virtual std::vector<uint8_t> SerialNumber() const = 0;
  virtual CertificateSummary Summary() const = 0;
  // True when the store holds the certificate's private key, as far as it
  // can tell without unlocking anything. Platforms that cannot tell say
  // true.
  virtual bool HoldsPrivateKey() const { return true; }
};

// Asks the user for the password of the key store named `store`; `attempt`
// counts from 1. nullopt when the user gives none.
using PasswordPrompt =
    std::function<std::optional<std::string>(std::string_view store, int attempt)>;

// A certificate's public key in the default provider.
class PublicKey {
 public:
  virtual ~PublicKey() = default;
  // True when `signature` is the PKCS #1 v1.5 signature of the DigestInfo
  // for `digest`.
  virtual bool VerifyHash(HashAlgorithm algorithm, std::span<const uint8_t> digest,
                          std::span<const uint8_t> signature) = 0;
  // One PKCS #1 v1.5 block; nullopt when the data is too long for the key or
  // the block would be longer than `capacity`.
  virtual std::optional<std::vector<uint8_t>> Encrypt(std::span<const uint8_t> data,
                                                      size_t capacity) = 0;
};

// A provider: hashing, and the keys it holds or imports.
class Provider {
 public:
  virtual ~Provider() = default;
  virtual std::optional<std::vector<uint8_t>> Hash(HashAlgorithm algorithm,
                                                   std::span<const uint8_t> data) = 0;
};

// The default RSA provider, for work with any certificate's public key.
class DefaultProvider : public Provider {
 public:
  // Null when the certificate's key cannot be imported (not RSA, say).
  virtual std::unique_ptr<PublicKey> ImportPublicKey(const Certificate& certificate) = 0;
};

// The provider that holds a store certificate's private key.
class PrivateKeyProvider : public Provider {
 public:
  // PKCS #1 v1.5 signature of the DigestInfo for `digest`.
  virtual std::optional<std::vector<uint8_t>> SignHash(HashAlgorithm algorithm,
                                                       std::span<const uint8_t> digest) = 0;
  // Decrypts one PKCS #1 v1.5 block into `plaintext`. The caller has
  // checked that the block is the key's size and below its modulus.
  // kBadPadding: the key decrypted it, and the padding is not PKCS #1's.
  enum class Decrypted { kPlaintext, kBadPadding, kFailed };
  virtual Decrypted Decrypt(std::span<const uint8_t> ciphertext,
                            std::vector<uint8_t>& plaintext) = 0;
  // The key's public modulus, least significant byte first; empty when it
  // cannot be read.
  virtual std::vector<uint8_t> Modulus() = 0;
};

class CryptoPlatform {
 public:
  virtual ~CryptoPlatform() = default;

  // Every certificate of the personal store, in an order that does not
  // change while the store does not; nullopt when the store cannot be
  // opened.
  virtual std::optional<std::vector<std::unique_ptr<Certificate>>> OpenPersonalStore() = 0;

  // kOk with the certificate; kNotACertificate when the bytes are not one
  // DER X.509 certificate; kProviderUnavailable when nothing can be parsed.
  virtual int32_t ParseCertificate(std::span<const uint8_t> der,
                                   std::unique_ptr<Certificate>& certificate) = 0;

  // Null when the certificate has no private key the user can reach.
  virtual std::unique_ptr<PrivateKeyProvider> AcquirePrivateKey(const Certificate& certificate) = 0;
  // The same where the key store may be locked: `ask` gets its password
  // from the user, within the call. Platforms without locked stores need
  // not override.
  virtual std::unique_ptr<PrivateKeyProvider> AcquirePrivateKeyAsking(
      const Certificate& certificate, const PasswordPrompt& ask) {
    (void)ask;
    return AcquirePrivateKey(certificate);
  }

  // Null when the default provider cannot be had, even after creating the
  // user's key database.
  virtual std::unique_ptr<DefaultProvider> AcquireDefaultProvider() = 0;
};

}  // namespace tarvona::capi
