// The store road's platform on CryptoAPI: the current user's "MY" store,
// the provider that holds a store certificate's private key, and the
// default PROV_RSA_FULL provider for any certificate's public key.
#include "windows/cryptoapi/cryptoapi_platform.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <utility>

#include "common/result_code.h"
#include "windows/cryptoapi/cryptoapi_handles.h"
#include "windows/cryptoapi/cryptoapi_store.h"

namespace tarvona::capi::cryptoapi {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// CryptoAPI is handed no null buffer, not even for no bytes; empty input
// points here.
constexpr BYTE kNoBytes[1] = {0};

const BYTE* DataOf(std::span<const uint8_t> bytes) {
  return bytes.empty() ? kNoBytes : bytes.data();
}

ALG_ID AlgorithmOf(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kSha1:
      return CALG_SHA1;
    case HashAlgorithm::kMd2:
      return CALG_MD2;
    case HashAlgorithm::kMd5:
      return CALG_MD5;
  }
  return 0;
}

// A name of the certificate as CertGetNameStringA gives it (ANSI code
// page); empty when it has none.
std::string NameString(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* parameter) {
  DWORD size = CertGetNameStringA(certificate, type, flags, parameter, nullptr, 0);
  if (size <= 1) return {};
  std::string text(size, '\0');
  size = CertGetNameStringA(certificate, type, flags, parameter, text.data(), size);
  text.resize(size > 0 ? size - 1 : 0);
  return text;
}

// The common name, or the whole name when it has none.
std::string NameText(PCCERT_CONTEXT certificate, DWORD flags) {
  std::string text =
      NameString(certificate, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>(szOID_COMMON_NAME));
  if (!text.empty()) return text;
  DWORD format = CERT_X500_NAME_STR;
  return NameString(certificate, CERT_NAME_RDN_TYPE, flags, &format);
}

// YYYY-MM-DD, in UTC; empty when the time cannot be read.
std::string DayText(const FILETIME& time) {
  SYSTEMTIME day{};
  if (!FileTimeToSystemTime(&time, &day)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", day.wYear, day.wMonth, day.wDay);
  return text;
}

class CapiCertificate final : public Certificate {
 public:
  explicit CapiCertificate(CertificateContext context) : context_(std::move(context)) {}

  // CryptoAPI keeps it least significant byte first, as the core expects.
  Bytes SerialNumber() const override {
    const CRYPT_INTEGER_BLOB& serial = context_.get()->pCertInfo->SerialNumber;
    return Bytes(serial.pbData, serial.pbData + serial.cbData);
  }

  CertificateSummary Summary() const override {
    CertificateSummary summary;
    summary.subject = NameText(context_.get(), 0);
    summary.issuer = NameText(context_.get(), CERT_NAME_ISSUER_FLAG);
    summary.valid_from = DayText(context_.get()->pCertInfo->NotBefore);
    summary.expires = DayText(context_.get()->pCertInfo->NotAfter);
    summary.validity = ValidityNow(context_.get());
    return summary;
  }

  bool HoldsPrivateKey() const override { return cryptoapi::HoldsPrivateKey(context_.get()); }

  PCCERT_CONTEXT get() const { return context_.get(); }

 private:
  CertificateContext context_;
};

// The RSA block size of a key in bytes; 0 when it cannot be read.
DWORD BlockBytes(HCRYPTKEY key) {
  DWORD bits = 0;
  DWORD size = sizeof bits;
  if (!CryptGetKeyParam(key, KP_BLOCKLEN, reinterpret_cast<BYTE*>(&bits), &size, 0)) return 0;
  return bits / 8;
}

// A provider handle and the hash it made last. The core hashes the data and
// then signs or verifies that digest; keeping the hash object lets the
// signature be made from the object the data went into, as CryptoAPI's
// callers do. Shared by the provider and the keys it imported, which it
// outlives.
struct ProviderState {
  ProviderHandle provider;
  HashHandle hash;
  ALG_ID hash_algorithm = 0;
  Bytes digest;

  std::optional<Bytes> Hash(HashAlgorithm algorithm, std::span<const uint8_t> data) {
    hash.reset();
    digest.clear();
    if (data.size() > ULONG_MAX) return std::nullopt;
    HashHandle made;
    if (!CryptCreateHash(provider.get(), AlgorithmOf(algorithm), 0, 0, made.out())) {
      return std::nullopt;
    }
    if (!CryptHashData(made.get(), DataOf(data), static_cast<DWORD>(data.size()), 0)) {
      return std::nullopt;
    }
    DWORD size = 0;
    if (!CryptGetHashParam(made.get(), HP_HASHVAL, nullptr, &size, 0) || size == 0) {
      return std::nullopt;
    }
    Bytes value(size);
    if (!CryptGetHashParam(made.get(), HP_HASHVAL, value.data(), &size, 0)) return std::nullopt;
    value.resize(size);
    hash = std::move(made);
    hash_algorithm = AlgorithmOf(algorithm);
    digest = value;
    return value;
  }

  // The hash object holding `value`: the last one made when it matches,
  // otherwise a new one given the value.
  HCRYPTHASH HashHolding(HashAlgorithm algorithm, std::span<const uint8_t> value,
                         HashHandle& made) {
    if (hash && hash_algorithm == AlgorithmOf(algorithm) &&
        std::equal(digest.begin(), digest.end(), value.begin(), value.end())) {
      return hash.get();
    }
    if (!CryptCreateHash(provider.get(), AlgorithmOf(algorithm), 0, 0, made.out()) ||
        !CryptSetHashParam(made.get(), HP_HASHVAL, DataOf(value), 0)) {
      return 0;
    }
    return made.get();
  }
};

class CapiPublicKey final : public PublicKey {
 public:
  CapiPublicKey(std::shared_ptr<ProviderState> state, KeyHandle key)
      : state_(std::move(state)), key_(std::move(key)) {}

  // The signature as CryptSignHashA makes it: least significant byte first.
  bool VerifyHash(HashAlgorithm algorithm, std::span<const uint8_t> digest,
                  std::span<const uint8_t> signature) override {
    if (signature.size() > ULONG_MAX) return false;
    HashHandle made;
    HCRYPTHASH hash = state_->HashHolding(algorithm, digest, made);
    if (hash == 0) return false;
    return CryptVerifySignatureA(hash, DataOf(signature), static_cast<DWORD>(signature.size()),
                                 key_.get(), nullptr, 0) != FALSE;
  }

  std::optional<Bytes> Encrypt(std::span<const uint8_t> data, size_t capacity) override {
    const DWORD block = BlockBytes(key_.get());
    // Refused here rather than left to the provider: the block must fit
    // the caller's area, and PKCS #1 v1.5 needs 11 bytes of padding.
    if (block == 0 || block > capacity || data.size() + 11 > block) return std::nullopt;
    // CryptEncrypt works in place and writes a whole block.
    Bytes buffer(std::max<size_t>(block, data.size()));
    std::copy(data.begin(), data.end(), buffer.begin());
    DWORD length = static_cast<DWORD>(data.size());
    if (!CryptEncrypt(key_.get(), 0, TRUE, 0, buffer.data(), &length,
                      static_cast<DWORD>(buffer.size())) ||
        length != block) {
      return std::nullopt;
    }
    buffer.resize(length);
    return buffer;
  }

 private:
  std::shared_ptr<ProviderState> state_;  // declared first: the key goes before its provider
  KeyHandle key_;
};

class CapiDefaultProvider final : public DefaultProvider {
 public:
  explicit CapiDefaultProvider(std::shared_ptr<ProviderState> state) : state_(std::move(state)) {}

  std::optional<Bytes> Hash(HashAlgorithm algorithm, std::span<const uint8_t> data) override {
    return state_->Hash(algorithm, data);
  }

  std::unique_ptr<PublicKey> ImportPublicKey(const Certificate& certificate) override {
    const auto* capi_certificate = dynamic_cast<const CapiCertificate*>(&certificate);
    if (capi_certificate == nullptr) return nullptr;
    KeyHandle key;
    if (!CryptImportPublicKeyInfo(state_->provider.get(), kEncoding,
                                  &capi_certificate->get()->pCertInfo->SubjectPublicKeyInfo,
                                  key.out())) {
      return nullptr;
    }
    return std::make_unique<CapiPublicKey>(state_, std::move(key));
  }

 private:
  std::shared_ptr<ProviderState> state_;
};

class CapiPrivateKeyProvider final : public PrivateKeyProvider {
 public:
  CapiPrivateKeyProvider(std::shared_ptr<ProviderState> state, KeyHandle key)
      : state_(std::move(state)), key_(std::move(key)) {}

  std::optional<Bytes> Hash(HashAlgorithm algorithm, std::span<const uint8_t> data) override {
    return state_->Hash(algorithm, data);
  }

  // With the key-exchange key, as the store's keys are imported; least
  // significant byte first.
  std::optional<Bytes> SignHash(HashAlgorithm algorithm, std::span<const uint8_t> digest) override {
    HashHandle made;
    HCRYPTHASH hash = state_->HashHolding(algorithm, digest, made);
    if (hash == 0) return std::nullopt;
    DWORD size = 0;
    if (!CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size) || size == 0) {
      return std::nullopt;
    }
    Bytes signature(size);
    if (!CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size)) {
      return std::nullopt;
    }
    signature.resize(size);
    return signature;
  }

  // CryptDecrypt works in place on one whole block whatever length it is
  // told: a shorter buffer is overrun (under Wine a 1- to 128-byte
  // ciphertext for a 2048-bit key corrupts the heap). Only a ciphertext of
  // exactly the key's block size goes to it, in a buffer of that size. The
  // providers report a block whose padding is wrong as NTE_BAD_DATA.
  Decrypted Decrypt(std::span<const uint8_t> ciphertext, Bytes& plaintext) override {
    const DWORD block = BlockBytes(key_.get());
    if (block == 0 || ciphertext.size() != block) return Decrypted::kFailed;
    plaintext.assign(ciphertext.begin(), ciphertext.end());
    DWORD length = block;
    if (!CryptDecrypt(key_.get(), 0, TRUE, 0, plaintext.data(), &length) || length > block) {
      const bool bad_padding = GetLastError() == static_cast<DWORD>(NTE_BAD_DATA);
      plaintext.clear();
      return bad_padding ? Decrypted::kBadPadding : Decrypted::kFailed;
    }
    plaintext.resize(length);
    return Decrypted::kPlaintext;
  }

  // From the key's public blob: BLOBHEADER, RSAPUBKEY, then the modulus,
  // least significant byte first.
  Bytes Modulus() override {
    DWORD size = 0;
    if (!CryptExportKey(key_.get(), 0, PUBLICKEYBLOB, 0, nullptr, &size)) return {};
    Bytes blob(size);
    if (!CryptExportKey(key_.get(), 0, PUBLICKEYBLOB, 0, blob.data(), &size)) return {};
    constexpr size_t kHeader = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    if (size < kHeader) return {};
    RSAPUBKEY public_key{};
    std::copy_n(blob.data() + sizeof(BLOBHEADER), sizeof public_key,
                reinterpret_cast<uint8_t*>(&public_key));
    const size_t modulus = public_key.bitlen / 8;
    if (public_key.magic != 0x31415352 /* "RSA1" */ || modulus == 0 || size - kHeader < modulus) {
      return {};
    }
    return Bytes(blob.begin() + kHeader, blob.begin() + static_cast<ptrdiff_t>(kHeader + modulus));
  }

 private:
  std::shared_ptr<ProviderState> state_;  // declared first: the key goes before its provider
  KeyHandle key_;
};

class CapiCryptoPlatform final : public CryptoPlatform {
 public:
  std::optional<std::vector<std::unique_ptr<Certificate>>> OpenPersonalStore() override {
    StoreHandle store = OpenMyStore();
    if (!store) return std::nullopt;
    std::vector<std::unique_ptr<Certificate>> certificates;
    // Each call frees the context it is given; the copy kept outlives the
    // store, which CryptoAPI holds open for it.
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store.get(), nullptr);
         context != nullptr; context = CertEnumCertificatesInStore(store.get(), context)) {
      certificates.push_back(
          WrapCertificate(CertificateContext(CertDuplicateCertificateContext(context))));
    }
    return certificates;
  }

  int32_t ParseCertificate(std::span<const uint8_t> der,
                           std::unique_ptr<Certificate>& certificate) override {
    if (der.empty() || der.size() > ULONG_MAX) return kNotACertificate;
    CertificateContext context(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                            static_cast<DWORD>(der.size())));
    if (!context) return kNotACertificate;
    certificate = WrapCertificate(std::move(context));
    return kOk;
  }

  // The provider named by the certificate's key properties, and its
  // key-exchange key: the store's keys serve both signing and decryption.
  std::unique_ptr<PrivateKeyProvider> AcquirePrivateKey(const Certificate& certificate) override {
    const auto* capi_certificate = dynamic_cast<const CapiCertificate*>(&certificate);
    if (capi_certificate == nullptr) return nullptr;
    auto state = std::make_shared<ProviderState>();
    HCRYPTPROV provider = 0;
    DWORD key_spec = 0;
    BOOL caller_frees = FALSE;
    if (!CryptAcquireCertificatePrivateKey(capi_certificate->get(), 0, nullptr, &provider,
                                           &key_spec, &caller_frees)) {
      return nullptr;
    }
    // A handle CryptoAPI keeps cached with the certificate is not ours to
    // release: take a reference of our own, so it is released the same way.
    if (!caller_frees && !CryptContextAddRef(provider, nullptr, 0)) return nullptr;
    *state->provider.out() = provider;
    KeyHandle key;
    if (!CryptGetUserKey(state->provider.get(), AT_KEYEXCHANGE, key.out())) return nullptr;
    return std::make_unique<CapiPrivateKeyProvider>(std::move(state), std::move(key));
  }

  // The user's default container of the default RSA full provider, made
  // when the user has none yet.
  std::unique_ptr<DefaultProvider> AcquireDefaultProvider() override {
    auto state = std::make_shared<ProviderState>();
    if (!CryptAcquireContextA(state->provider.out(), nullptr, nullptr, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextA(state->provider.out(), nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET)) {
      return nullptr;
    }
    return std::make_unique<CapiDefaultProvider>(std::move(state));
  }
};

}  // namespace

StoreHandle OpenMyStore() {
  return StoreHandle(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
}

Validity ValidityNow(PCCERT_CONTEXT certificate) {
  // Against the current time: -1 before the first day, 1 after the last.
  const LONG compared = CertVerifyTimeValidity(nullptr, certificate->pCertInfo);
  if (compared < 0) return Validity::kNotYetValid;
  if (compared > 0) return Validity::kExpired;
  return Validity::kValid;
}

bool HoldsPrivateKey(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  return CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                           &size) != FALSE;
}

std::unique_ptr<Certificate> WrapCertificate(CertificateContext certificate) {
  return std::make_unique<CapiCertificate>(std::move(certificate));
}

CryptoPlatform& UserCryptoPlatform() {
  static CapiCryptoPlatform platform;
  return platform;
}

}  // namespace tarvona::capi::cryptoapi
