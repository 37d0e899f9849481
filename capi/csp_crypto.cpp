#include "capi/csp_crypto.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "capi/implicit_rejection.h"
#include "common/result_code.h"
#include "encoding/bytes.h"
#include "encoding/pem.h"

namespace tarvona {
namespace {

using capi::Certificate;
using capi::DefaultProvider;
using capi::PublicKey;
using capi::HashAlgorithm;

std::optional<HashAlgorithm> HashAlgorithmOf(int32_t hash_type) {
  switch (hash_type) {
    case 0:
      return HashAlgorithm::kSha1;
    case 1:
      return HashAlgorithm::kMd2;
    case 2:
      return HashAlgorithm::kMd5;
    default:
      return std::nullopt;
  }
}

std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file, PEM-unwrapped when it begins with the certificate header.
int32_t ReadCertificateFile(std::span<const uint8_t> path_data, std::vector<uint8_t>& der) {
  std::string_view path = AsText(path_data);
  path = path.substr(0, path.find('\0'));
  if (path.size() >= CCspCrypto::kPathCapacity) return kInvalidArgument;
  // Only regular files: a FIFO or device named by script would block the
  // host or never end.
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::path(path), error)) {
    return kCertificateFileUnreadable;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(std::string(path).c_str(), "rb"));
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return kCertificateFileUnreadable;
  long size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return kCertificateFileUnreadable;
  if (static_cast<size_t>(size) > CCspCrypto::kCertificateTextCapacity) return kInvalidArgument;
  std::vector<uint8_t> content(static_cast<size_t>(size));
  if (std::fread(content.data(), 1, content.size(), file.get()) != content.size()) {
    return kCertificateFileUnreadable;
  }
  // Exactly the header at the very start; a byte-order mark or a blank line
  // first makes it DER.
  if (AsText(content).starts_with(kCertificateHeader)) {
    auto unwrapped = PemUnwrap(AsText(content));
    if (!unwrapped) return kInvalidArgument;
    der = std::move(*unwrapped);
  } else {
    der = std::move(content);
  }
  return kOk;
}

int32_t CopyOut(const std::vector<uint8_t>& bytes, std::span<uint8_t> area, size_t& length,
                int32_t too_long) {
  if (bytes.size() > area.size()) return too_long;
  std::copy(bytes.begin(), bytes.end(), area.begin());
  length = bytes.size();
  return kOk;
}

// True when `ciphertext` is one block for the key: as many bytes as the
// modulus and, as a number, below it (both least significant byte first).
// Anything else is visibly malformed; refusing it tells a page nothing that
// implicit rejection hides.
bool IsBlockForModulus(std::span<const uint8_t> ciphertext, std::span<const uint8_t> modulus) {
  while (!modulus.empty() && modulus.back() == 0) modulus = modulus.first(modulus.size() - 1);
  if (modulus.empty() || ciphertext.size() != modulus.size()) return false;
  return std::lexicographical_compare(ciphertext.rbegin(), ciphertext.rend(), modulus.rbegin(),
                                      modulus.rend());
}

}  // namespace

CCspCrypto::CCspCrypto(capi::CryptoPlatform& platform, capi::CertificatePicker& picker)
    : platform_(platform), picker_(picker) {}

CCspCrypto::~CCspCrypto() = default;

void CCspCrypto::SetCaller(std::string requester, int hangup) {
  requester_ = std::move(requester);
  hangup_ = hangup;
}

capi::Request CCspCrypto::RequestFor(capi::Purpose purpose) const {
  return {purpose, requester_, hangup_};
}

int32_t CCspCrypto::ChooseCertificate(int32_t source, CertificateData data,
                                      std::unique_ptr<Certificate>& certificate) {
  return Choose(capi::Purpose::kUse, source, data, certificate);
}

int32_t CCspCrypto::Choose(capi::Purpose purpose, int32_t source, CertificateData data,
                           std::unique_ptr<Certificate>& certificate) {
  switch (source) {
    case kSourceDialog:
      return ChooseInDialog(purpose, certificate);
    case kSourceSerial:
      return FindBySerial(data, certificate);
    case kSourcePem:
    case kSourceDer:
    case kSourceFile:
      if (!data) return kInvalidArgument;
      return Import(source, *data, certificate);
    default:
      return kInvalidArgument;
  }
}

int32_t CCspCrypto::ChooseInDialog(capi::Purpose purpose,
                                   std::unique_ptr<Certificate>& certificate) {
  certificate = picker_.ChooseFor(RequestFor(purpose));
  return certificate ? kOk : kStoreUnavailable;
}

int32_t CCspCrypto::FindBySerial(CertificateData serial,
                                 std::unique_ptr<Certificate>& certificate) {
  auto store = platform_.OpenPersonalStore();
  if (!store) return kStoreUnavailable;
  if (!serial) return kInvalidArgument;
  std::array<uint8_t, kSerialCapacity> buffer{};
  for (auto& candidate : *store) {
    std::vector<uint8_t> stored = candidate->SerialNumber();
    if (stored.size() > buffer.size()) continue;
    buffer.fill(0);
    size_t length = ReverseBytes(buffer, stored);
    // Same length and bytes: a leading 00 given or left out is a mismatch.
    if (CompareBytes(std::span(buffer).first(length), *serial) == 0) {
      certificate = std::move(candidate);
      return kOk;
    }
  }
  return kObjectNotFound;
}

int32_t CCspCrypto::Import(int32_t source, std::span<const uint8_t> data,
                           std::unique_ptr<Certificate>& certificate) {
  std::vector<uint8_t> der;
  if (source == kSourcePem) {
    if (data.size() > kCertificateTextCapacity) return kInvalidArgument;
    auto unwrapped = PemUnwrap(AsText(data));
    if (!unwrapped) return kInvalidArgument;
    der = std::move(*unwrapped);
  } else if (source == kSourceDer) {
    if (data.size() > kDerCapacity) return kInvalidArgument;
    der.assign(data.begin(), data.end());
  } else if (int32_t rc = ReadCertificateFile(data, der); rc != kOk) {
    return rc;
  }
  return platform_.ParseCertificate(der, certificate);
}

std::unique_ptr<capi::PrivateKeyProvider> CCspCrypto::AcquirePrivateKey(
    capi::Purpose purpose, const Certificate& certificate) {
  // The key may ask again while it is used, after this returns.
  return platform_.AcquirePrivateKeyAsking(
      certificate, [request = RequestFor(purpose), &picker = picker_](std::string_view store,
                                                                      int attempt) {
        return picker.AskPassword(request, store, attempt);
      });
}

int32_t CCspCrypto::SignWithCertificate(int32_t source, CertificateData serial, int32_t hash_type,
                                        std::span<const uint8_t> data, std::span<uint8_t> signature,
                                        size_t& signature_length) {
  // Signing needs the private key, which only the store holds.
  if (source != kSourceDialog && source != kSourceSerial) return kInvalidArgument;
  std::unique_ptr<Certificate> certificate;
  if (int32_t rc = Choose(capi::Purpose::kSign, source, serial, certificate); rc != kOk) {
    return rc;
  }
  auto provider = AcquirePrivateKey(capi::Purpose::kSign, *certificate);
  if (!provider) return kKeyUnavailable;
  auto algorithm = HashAlgorithmOf(hash_type);
  if (!algorithm) return kDigestFailed;
  auto digest = provider->Hash(*algorithm, data);
  if (!digest) return kDigestFailed;
  auto signed_hash = provider->SignHash(*algorithm, *digest);
  if (!signed_hash) return kDigestFailed;
  return CopyOut(*signed_hash, signature, signature_length, kDigestFailed);
}

int32_t CCspCrypto::ImportPublicKey(int32_t source, CertificateData certificate_data,
                                    std::unique_ptr<DefaultProvider>& provider,
                                    std::unique_ptr<PublicKey>& key) {
  if (source < kSourceDialog || source > kSourceFile) return kInvalidArgument;
  std::unique_ptr<Certificate> certificate;
  if (int32_t rc = ChooseCertificate(source, certificate_data, certificate); rc != kOk) {
    return rc;
  }
  provider = platform_.AcquireDefaultProvider();
  if (!provider) return kProviderUnavailable;
  key = provider->ImportPublicKey(*certificate);
  return key ? kOk : kKeyUnavailable;
}

int32_t CCspCrypto::VerifyWithCertificate(int32_t source, CertificateData certificate_data,
                                          int32_t hash_type, std::span<const uint8_t> data,
                                          std::span<const uint8_t> signature) {
  std::unique_ptr<DefaultProvider> provider;
  std::unique_ptr<PublicKey> key;
  if (int32_t rc = ImportPublicKey(source, certificate_data, provider, key); rc != kOk) return rc;
  auto algorithm = HashAlgorithmOf(hash_type);
  if (!algorithm) return kDigestFailed;
  auto digest = provider->Hash(*algorithm, data);
  if (!digest) return kDigestFailed;
  return key->VerifyHash(*algorithm, *digest, signature) ? kOk : kVerifyFailed;
}

int32_t CCspCrypto::EncryptToCertificate(int32_t source, CertificateData certificate_data,
                                         std::span<const uint8_t> data, std::span<uint8_t> output,
                                         size_t& output_length) {
  std::unique_ptr<DefaultProvider> provider;
  std::unique_ptr<PublicKey> key;
  if (int32_t rc = ImportPublicKey(source, certificate_data, provider, key); rc != kOk) return rc;
  auto block = key->Encrypt(data, output.size());
  if (!block) return kEncryptFailed;
  return CopyOut(*block, output, output_length, kEncryptFailed);
}

int32_t CCspCrypto::DecryptWithCertificate(int32_t source, CertificateData serial,
                                           std::span<const uint8_t> ciphertext,
                                           std::span<uint8_t> output, size_t& output_length) {
  if (source != kSourceDialog && source != kSourceSerial) return kInvalidArgument;
  std::unique_ptr<Certificate> certificate;
  if (int32_t rc = Choose(capi::Purpose::kDecrypt, source, serial, certificate); rc != kOk) {
    return rc;
  }
  auto provider = AcquirePrivateKey(capi::Purpose::kDecrypt, *certificate);
  if (!provider) return kKeyUnavailable;
  const std::vector<uint8_t> modulus = provider->Modulus();
  if (!IsBlockForModulus(ciphertext, modulus)) return kDecryptFailed;
  // Bad padding must not be an answer of its own, or any page allowed to
  // call could use the user's key as a padding oracle (and so decrypt or
  // sign what it likes). It gets a plaintext derived from a secret only the
  // key can make, its signature over a fixed label, and the ciphertext:
  // the same every time, and like any other. The secret is made whatever
  // the outcome, so both cost the same. A key that may not sign keeps the
  // plain failure.
  const capi::Sha1 sha1 = [&](std::span<const uint8_t> data) {
    return provider->Hash(capi::HashAlgorithm::kSha1, data);
  };
  const auto label = sha1({reinterpret_cast<const uint8_t*>(capi::kRejectionLabel.data()),
                           capi::kRejectionLabel.size()});
  const auto secret = label ? provider->SignHash(capi::HashAlgorithm::kSha1, *label)
                            : std::nullopt;
  std::vector<uint8_t> plaintext;
  switch (provider->Decrypt(ciphertext, plaintext)) {
    case capi::PrivateKeyProvider::Decrypted::kPlaintext:
      break;
    case capi::PrivateKeyProvider::Decrypted::kBadPadding: {
      // PKCS #1 v1.5 takes 11 bytes of a block.
      const size_t most = ciphertext.size() > 11 ? ciphertext.size() - 11 : 0;
      auto synthetic =
          secret ? capi::SyntheticPlaintext(sha1, *secret, ciphertext, most) : std::nullopt;
      if (!synthetic) return kDecryptFailed;
      plaintext = std::move(*synthetic);
      break;
    }
    case capi::PrivateKeyProvider::Decrypted::kFailed:
      return kDecryptFailed;
  }
  // Only a modulus of 1012 bytes or more can give this much; refused, not cut.
  return CopyOut(plaintext, output, output_length, kDecryptFailed);
}

}  // namespace tarvona
