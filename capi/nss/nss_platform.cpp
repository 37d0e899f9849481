// The certificate store road's platform on NSS: the personal store is the
// user's NSS database (the one Chromium uses for client certificates), and
// its software token is both the certificates' provider and the default one.
#include "capi/nss/nss_platform.h"

#include <prtime.h>
#include <secerr.h>
#include <string.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <tuple>

#include "capi/crypto_platform.h"
#include "capi/nss/nss_context.h"
#include "capi/nss/nss_handles.h"
#include "common/result_code.h"

namespace tarvona::capi {
namespace {

using nss::CertificateListPtr;
using nss::CertificatePtr;
using nss::DigestInfoPtr;
using nss::ItemPtr;
using nss::NssText;
using nss::PrivateKeyPtr;
using nss::PublicKeyPtr;
using nss::SlotPtr;

using Bytes = std::vector<uint8_t>;

// NSS may refuse a null pointer even with length 0; empty input points here.
constexpr unsigned char kNoBytes[1] = {0};

const unsigned char* DataOf(std::span<const uint8_t> bytes) {
  return bytes.empty() ? kNoBytes : bytes.data();
}

SECItem ItemOf(std::span<const uint8_t> bytes) {
  return {siBuffer, const_cast<unsigned char*>(DataOf(bytes)),
          static_cast<unsigned int>(bytes.size())};
}

// CryptoAPI keeps RSA blocks least significant byte first; NSS, like
// PKCS #1, most significant first.
Bytes Reversed(std::span<const uint8_t> bytes) { return {bytes.rbegin(), bytes.rend()}; }

SECOidTag OidOf(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kSha1:
      return SEC_OID_SHA1;
    case HashAlgorithm::kMd2:
      return SEC_OID_MD2;
    case HashAlgorithm::kMd5:
      return SEC_OID_MD5;
  }
  return SEC_OID_UNKNOWN;
}

size_t DigestLength(HashAlgorithm algorithm) { return algorithm == HashAlgorithm::kSha1 ? 20 : 16; }

std::optional<Bytes> HashWithNss(HashAlgorithm algorithm, std::span<const uint8_t> data) {
  if (data.size() > INT32_MAX) return std::nullopt;
  Bytes digest(DigestLength(algorithm));
  if (PK11_HashBuf(OidOf(algorithm), digest.data(), DataOf(data),
                   static_cast<PRInt32>(data.size())) != SECSuccess) {
    return std::nullopt;
  }
  return digest;
}

// The DigestInfo that PKCS #1 v1.5 signs: the algorithm's identifier with
// NULL parameters, and the digest. Signing it with CKM_RSA_PKCS rather than
// with a hash-and-sign mechanism keeps NSS's signature policy, which refuses
// MD2 and MD5, out of the way of the hash types script may ask for.
std::optional<Bytes> DigestInfoOf(HashAlgorithm algorithm, std::span<const uint8_t> digest) {
  DigestInfoPtr info(SGN_CreateDigestInfo(OidOf(algorithm), DataOf(digest),
                                          static_cast<unsigned int>(digest.size())));
  if (!info) return std::nullopt;
  ItemPtr encoded(SEC_ASN1EncodeItem(nullptr, nullptr, info.get(), sgn_DigestInfoTemplate));
  if (!encoded) return std::nullopt;
  return Bytes(encoded->data, encoded->data + encoded->len);
}

std::string NameText(const CERTName& name) {
  NssText text(CERT_GetCommonName(&name));
  if (!text) text.reset(CERT_NameToAscii(const_cast<CERTName*>(&name)));
  return text ? std::string(text.get()) : std::string();
}

// YYYY-MM-DD, in UTC.
std::string DayText(PRTime time) {
  PRExplodedTime exploded{};
  PR_ExplodeTime(time, PR_GMTParameters, &exploded);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", exploded.tm_year, exploded.tm_month + 1,
                exploded.tm_mday);
  return text;
}

class NssCertificate final : public Certificate {
 public:
  explicit NssCertificate(CertificatePtr certificate) : certificate_(std::move(certificate)) {}

  Bytes SerialNumber() const override {
    const SECItem& serial = certificate_->serialNumber;
    return Reversed({serial.data, serial.len});
  }

  CertificateSummary Summary() const override {
    CertificateSummary summary;
    summary.subject = NameText(certificate_->subject);
    summary.issuer = NameText(certificate_->issuer);
    PRTime not_before = 0;
    PRTime not_after = 0;
    if (CERT_GetCertTimes(certificate_.get(), &not_before, &not_after) == SECSuccess) {
      summary.valid_from = DayText(not_before);
      summary.expires = DayText(not_after);
    }
    switch (CERT_CheckCertValidTimes(certificate_.get(), PR_Now(), PR_FALSE)) {
      case secCertTimeExpired:
        summary.validity = Validity::kExpired;
        break;
      case secCertTimeNotValidYet:
        summary.validity = Validity::kNotYetValid;
        break;
      default:
        break;
    }
    return summary;
  }

  // NSS marks certificates whose key a token holds as the user's own; it
  // knows so without the store's password.
  bool HoldsPrivateKey() const override { return CERT_IsUserCert(certificate_.get()) != PR_FALSE; }

  CERTCertificate* get() const { return certificate_.get(); }

 private:
  CertificatePtr certificate_;
};

class NssPublicKey final : public PublicKey {
 public:
  explicit NssPublicKey(PublicKeyPtr key) : key_(std::move(key)) {}

  bool VerifyHash(HashAlgorithm algorithm, std::span<const uint8_t> digest,
                  std::span<const uint8_t> signature) override {
    auto info = DigestInfoOf(algorithm, digest);
    if (!info || signature.size() > UINT_MAX) return false;
    Bytes block = Reversed(signature);
    SECItem signature_item = ItemOf(block);
    SECItem info_item = ItemOf(*info);
    return PK11_VerifyWithMechanism(key_.get(), CKM_RSA_PKCS, nullptr, &signature_item, &info_item,
                                    nullptr) == SECSuccess;
  }

  std::optional<Bytes> Encrypt(std::span<const uint8_t> data, size_t capacity) override {
    unsigned int modulus = SECKEY_PublicKeyStrength(key_.get());
    if (modulus == 0 || modulus > capacity || data.size() > UINT_MAX) return std::nullopt;
    // Always room for a whole block: NSS cuts the output to a smaller area
    // without a word.
    Bytes block(modulus);
    unsigned int length = 0;
    if (PK11_PubEncrypt(key_.get(), CKM_RSA_PKCS, nullptr, block.data(), &length, modulus,
                        DataOf(data), static_cast<unsigned int>(data.size()),
                        nullptr) != SECSuccess ||
        length != modulus) {
      return std::nullopt;
    }
    return Reversed(block);
  }

 private:
  PublicKeyPtr key_;
};

class NssDefaultProvider final : public DefaultProvider {
 public:
  std::optional<Bytes> Hash(HashAlgorithm algorithm, std::span<const uint8_t> data) override {
    return HashWithNss(algorithm, data);
  }

  std::unique_ptr<PublicKey> ImportPublicKey(const Certificate& certificate) override {
    const auto* nss_certificate = dynamic_cast<const NssCertificate*>(&certificate);
    if (nss_certificate == nullptr) return nullptr;
    PublicKeyPtr key(CERT_ExtractPublicKey(nss_certificate->get()));
    if (!key || SECKEY_GetPublicKeyType(key.get()) != rsaKey) return nullptr;
    return std::make_unique<NssPublicKey>(std::move(key));
  }
};

// The password prompt of one private key, handed to NSS as the key's
// window context: NSS asks through it whenever the key's store must be
// unlocked, while the key is found and while it is used.
struct Unlocking {
  static constexpr int kAttempts = 3;
  PasswordPrompt ask;
  int attempts = 0;
  bool ended = false;  // cancelled, or out of attempts: NSS asks no more
};

// NSS's password callback, for the whole process. Calls that bring no
// prompt (listing the store, say) unlock nothing.
char* PasswordFor(PK11SlotInfo* slot, PRBool, void* context) {
  auto* unlocking = static_cast<Unlocking*>(context);
  if (unlocking == nullptr || !unlocking->ask || unlocking->ended) return nullptr;
  if (++unlocking->attempts > Unlocking::kAttempts) {
    unlocking->ended = true;
    return nullptr;
  }
  std::optional<std::string> password =
      unlocking->ask(PK11_GetTokenName(slot), unlocking->attempts);
  if (!password) {
    unlocking->ended = true;
    return nullptr;
  }
  char* copy = PORT_Strdup(password->c_str());
  explicit_bzero(password->data(), password->size());
  return copy;
}

class NssPrivateKeyProvider final : public PrivateKeyProvider {
 public:
  NssPrivateKeyProvider(std::unique_ptr<Unlocking> unlocking, PrivateKeyPtr key)
      : unlocking_(std::move(unlocking)), key_(std::move(key)) {}

  std::optional<Bytes> Hash(HashAlgorithm algorithm, std::span<const uint8_t> data) override {
    return HashWithNss(algorithm, data);
  }

  std::optional<Bytes> SignHash(HashAlgorithm algorithm, std::span<const uint8_t> digest) override {
    auto info = DigestInfoOf(algorithm, digest);
    int length = PK11_SignatureLen(key_.get());
    if (!info || length <= 0) return std::nullopt;
    Bytes signature(static_cast<size_t>(length));
    SECItem signature_item = ItemOf(signature);
    SECItem info_item = ItemOf(*info);
    if (PK11_SignWithMechanism(key_.get(), CKM_RSA_PKCS, nullptr, &signature_item, &info_item) !=
        SECSuccess) {
      return std::nullopt;
    }
    signature.resize(signature_item.len);
    return Reversed(signature);
  }

  // NSS's softoken answers a block whose padding is wrong with bytes
  // derived from the key and the block (implicit rejection); a module that
  // reports it instead gives bad data.
  Decrypted Decrypt(std::span<const uint8_t> ciphertext, Bytes& plaintext) override {
    int modulus = PK11_GetPrivateModulusLen(key_.get());
    if (modulus <= 0 || ciphertext.empty() || ciphertext.size() > UINT_MAX) {
      return Decrypted::kFailed;
    }
    Bytes block = Reversed(ciphertext);
    plaintext.assign(static_cast<size_t>(modulus), 0);
    unsigned int length = 0;
    if (PK11_PrivDecryptPKCS1(key_.get(), plaintext.data(), &length,
                              static_cast<unsigned int>(plaintext.size()), block.data(),
                              static_cast<unsigned int>(block.size())) != SECSuccess) {
      plaintext.clear();
      return PORT_GetError() == SEC_ERROR_BAD_DATA ? Decrypted::kBadPadding : Decrypted::kFailed;
    }
    plaintext.resize(length);
    return Decrypted::kPlaintext;
  }

  Bytes Modulus() override {
    ItemPtr modulus(SECITEM_AllocItem(nullptr, nullptr, 0));
    if (!modulus || PK11_ReadRawAttribute(PK11_TypePrivKey, key_.get(), CKA_MODULUS,
                                          modulus.get()) != SECSuccess) {
      return {};
    }
    return Reversed({modulus->data, modulus->len});
  }

 private:
  std::unique_ptr<Unlocking> unlocking_;  // outlives the key, which points to it
  PrivateKeyPtr key_;
};

// Trust anchors and intermediates the user imported belong to other stores
// (CryptoAPI's Root and CA); they stay out unless the user holds their key.
bool IsAuthorityWithoutKey(CERTCertificate* certificate) {
  CERTCertTrust trust{};
  if (CERT_GetCertTrust(certificate, &trust) != SECSuccess) return false;
  unsigned int flags = trust.sslFlags | trust.emailFlags | trust.objectSigningFlags;
  if ((flags & (CERTDB_VALID_CA | CERTDB_TRUSTED_CA)) == 0) return false;
  SlotPtr slot(PK11_KeyForCertExists(certificate, nullptr, nullptr));
  return !slot;
}

// The store's order: subject, then issuer (as the dialog shows them), then
// serial number (as a number), then the DER bytes. NSS lists in no fixed
// order: newest import first.
struct OrderKey {
  std::string subject;
  std::string issuer;
  size_t serial_length = 0;
  Bytes serial;
  Bytes der;
  CERTCertificate* certificate = nullptr;

  explicit OrderKey(CERTCertificate* c) : certificate(c) {
    subject = NameText(c->subject);
    issuer = NameText(c->issuer);
    const SECItem& s = c->serialNumber;
    const uint8_t* begin = s.data;
    const uint8_t* end = s.data + s.len;
    begin = std::find_if(begin, end, [](uint8_t byte) { return byte != 0; });
    serial.assign(begin, end);
    serial_length = serial.size();
    der.assign(c->derCert.data, c->derCert.data + c->derCert.len);
  }

  bool operator<(const OrderKey& other) const {
    return std::tie(subject, issuer, serial_length, serial, der) <
           std::tie(other.subject, other.issuer, other.serial_length, other.serial, other.der);
  }
};

class NssCryptoPlatform final : public CryptoPlatform {
 public:
  std::optional<std::vector<std::unique_ptr<Certificate>>> OpenPersonalStore() override {
    if (!nss::OpenContext(nss::DatabaseUse::kExisting)) return std::nullopt;
    CertificateListPtr list(PK11_ListCerts(PK11CertListUnique, nullptr));
    if (!list) return std::nullopt;
    std::vector<OrderKey> keys;
    for (CERTCertListNode* node = CERT_LIST_HEAD(list.get()); !CERT_LIST_END(node, list.get());
         node = CERT_LIST_NEXT(node)) {
      if (!IsAuthorityWithoutKey(node->cert)) keys.emplace_back(node->cert);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::unique_ptr<Certificate>> store;
    store.reserve(keys.size());
    for (const OrderKey& key : keys) {
      store.push_back(
          std::make_unique<NssCertificate>(CertificatePtr(CERT_DupCertificate(key.certificate))));
    }
    return store;
  }

  int32_t ParseCertificate(std::span<const uint8_t> der,
                           std::unique_ptr<Certificate>& certificate) override {
    // Parsing needs NSS up; the default provider, which verify and encrypt
    // acquire next, would make the database anyway.
    if (!nss::OpenContext(nss::DatabaseUse::kCreate)) return kProviderUnavailable;
    if (der.empty() || der.size() > UINT_MAX) return kNotACertificate;
    SECItem item = ItemOf(der);
    // A temporary certificate: it lives in memory only, never in the store.
    // NSS refuses one whose issuer and serial number a different database
    // certificate already has.
    CertificatePtr parsed(
        CERT_NewTempCertificate(CERT_GetDefaultCertDB(), &item, nullptr, PR_FALSE, PR_TRUE));
    if (!parsed) return kNotACertificate;
    certificate = std::make_unique<NssCertificate>(std::move(parsed));
    return kOk;
  }

  std::unique_ptr<PrivateKeyProvider> AcquirePrivateKey(const Certificate& certificate) override {
    return AcquirePrivateKeyAsking(certificate, {});
  }

  // A store with a primary password is unlocked within the call; NSS keeps
  // it unlocked for the rest of the process.
  std::unique_ptr<PrivateKeyProvider> AcquirePrivateKeyAsking(const Certificate& certificate,
                                                              const PasswordPrompt& ask) override {
    const auto* nss_certificate = dynamic_cast<const NssCertificate*>(&certificate);
    if (nss_certificate == nullptr) return nullptr;
    auto unlocking = std::make_unique<Unlocking>(Unlocking{ask});
    PK11_SetPasswordFunc(PasswordFor);
    PrivateKeyPtr key(PK11_FindKeyByAnyCert(nss_certificate->get(), unlocking.get()));
    if (!key || SECKEY_GetPrivateKeyType(key.get()) != rsaKey) return nullptr;
    return std::make_unique<NssPrivateKeyProvider>(std::move(unlocking), std::move(key));
  }

  std::unique_ptr<DefaultProvider> AcquireDefaultProvider() override {
    if (!nss::OpenContext(nss::DatabaseUse::kCreate)) return nullptr;
    return std::make_unique<NssDefaultProvider>();
  }
};

}  // namespace

namespace nss {

CryptoPlatform& UserCryptoPlatform() {
  static NssCryptoPlatform platform;
  return platform;
}

}  // namespace nss
}  // namespace tarvona::capi
