#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "capi/certificate_picker.h"
#include "capi/crypto_platform.h"

namespace tarvona {

// Where the certificate of an operation comes from (certType, CertDataType).
inline constexpr int32_t kSourceDialog = 0;  // the user picks one in the selection dialog
inline constexpr int32_t kSourceSerial = 1;  // data: serial number bytes, most significant first
inline constexpr int32_t kSourcePem = 2;     // data: PEM text or bare Base64, NUL-terminated
inline constexpr int32_t kSourceDer = 3;     // data: DER bytes
inline constexpr int32_t kSourceFile = 4;    // data: path of a PEM or DER file, NUL-terminated

// The certificate data of an operation: nullopt means none was given.
using CertificateData = std::optional<std::span<const uint8_t>>;

// The control's certificate store road: signs, verifies, encrypts and
// decrypts with a certificate chosen by the user, found in the personal
// store by serial number, or given. Keeps nothing between calls; every
// certificate, key and provider is released before an operation returns.
// Each operation returns a result code.
class CCspCrypto {
 public:
  // Working buffer capacities. Longer inputs are refused (1004), a store
  // certificate with a longer serial number matches nothing.
  static constexpr size_t kSerialCapacity = 100;
  static constexpr size_t kCertificateTextCapacity = 4096;  // terminator included
  static constexpr size_t kDerCapacity = 4096;
  static constexpr size_t kPathCapacity = 260;  // terminator included

  CCspCrypto(capi::CryptoPlatform& platform, capi::CertificatePicker& picker);
  virtual ~CCspCrypto();
  CCspCrypto(const CCspCrypto&) = delete;
  CCspCrypto& operator=(const CCspCrypto&) = delete;

  // Who the operations work for: the dialogs they show name `requester` (a
  // web origin; empty for a program, the default) and close as soon as
  // `hangup` (the host's input; -1 for none) hangs up.
  void SetCaller(std::string requester, int hangup);

  // 0 with the certificate; 1004, 1011, 1301, 1302, 1304, or 1305 when no
  // provider can parse a given certificate. The caller has checked `source`
  // against those its operation accepts. The dialog (source 0) offers every
  // certificate of the store.
  int32_t ChooseCertificate(int32_t source, CertificateData data,
                            std::unique_ptr<capi::Certificate>& certificate);

  // Signing and decryption: the dialog offers only the certificates whose
  // private key the store holds, and a store locked by a password asks for
  // it within the call (no password given: 1303, as for an unreachable key).

  // Sources 0 and 1. Hash types 0, 1, 2 are SHA-1, MD2, MD5. The signature
  // is written to the start of `signature` and its length to
  // `signature_length`.
  int32_t SignWithCertificate(int32_t source, CertificateData serial, int32_t hash_type,
                              std::span<const uint8_t> data, std::span<uint8_t> signature,
                              size_t& signature_length);
  // Sources 0 to 4. 0 for a valid signature, 1007 for an invalid one.
  int32_t VerifyWithCertificate(int32_t source, CertificateData certificate, int32_t hash_type,
                                std::span<const uint8_t> data, std::span<const uint8_t> signature);
  // Sources 0 to 4. `output` is the capacity; a longer block fails (1008).
  int32_t EncryptToCertificate(int32_t source, CertificateData certificate,
                               std::span<const uint8_t> data, std::span<uint8_t> output,
                               size_t& output_length);
  // Sources 0 and 1. A ciphertext not of the key's size or not below its
  // modulus fails (1009), as does a plaintext longer than `output`; a block
  // with bad padding decrypts to bytes that are no plaintext (implicit
  // rejection).
  int32_t DecryptWithCertificate(int32_t source, CertificateData serial,
                                 std::span<const uint8_t> ciphertext, std::span<uint8_t> output,
                                 size_t& output_length);

 private:
  int32_t Choose(capi::Purpose purpose, int32_t source, CertificateData data,
                 std::unique_ptr<capi::Certificate>& certificate);
  int32_t ChooseInDialog(capi::Purpose purpose, std::unique_ptr<capi::Certificate>& certificate);
  capi::Request RequestFor(capi::Purpose purpose) const;
  std::unique_ptr<capi::PrivateKeyProvider> AcquirePrivateKey(capi::Purpose purpose,
                                                              const capi::Certificate& certificate);
  int32_t FindBySerial(CertificateData serial, std::unique_ptr<capi::Certificate>& certificate);
  int32_t Import(int32_t source, std::span<const uint8_t> data,
                 std::unique_ptr<capi::Certificate>& certificate);
  // Verify and encrypt: any source; the certificate's public key in the
  // default provider.
  int32_t ImportPublicKey(int32_t source, CertificateData certificate_data,
                          std::unique_ptr<capi::DefaultProvider>& provider,
                          std::unique_ptr<capi::PublicKey>& key);

  capi::CryptoPlatform& platform_;
  capi::CertificatePicker& picker_;
  std::string requester_;
  int hangup_ = -1;
};

}  // namespace tarvona
