// The store road on CryptoAPI, through the core's CCspCrypto, against a
// "MY" store filled with the test PKI (a fresh Wine prefix's, under
// scripts/test-windows.sh). OpenSSL's signatures and ciphertext, made at
// build time, judge the byte order.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "capi/csp_crypto.h"
#include "common/result_code.h"
#include "testing/wine-store/store_filler.h"
#include "windows/cryptoapi/cryptoapi_platform.h"

namespace tarvona {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadData(const std::string& name) {
  std::ifstream file(testing::DefaultDataFolder() / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Bytes Reversed(const Bytes& bytes) { return {bytes.rbegin(), bytes.rend()}; }

const Bytes kHello = {'H', 'e', 'l', 'l', 'o'};

// Serial numbers, most significant byte first, as script gives them.
const Bytes kRsa1024 = {0x10, 0x01};
const Bytes kRsa2048 = {0x00, 0xC0, 0xFF, 0xEE, 0x01};
const Bytes kRsa4096 = {0x40, 0x96};
const Bytes kSerial2a = {0x2A};  // in the store without its key

// The dialog is not shown in these tests.
struct NoDialog final : capi::CertificatePicker {
  std::unique_ptr<capi::Certificate> Choose() override { return nullptr; }
};

class CryptoApiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testing::ResetStore());
    ASSERT_EQ(testing::FillStore(testing::DefaultDataFolder(), testing::StandardStoreEntries()),
              "");
  }

  int32_t Sign(const Bytes& serial, int32_t hash_type, const Bytes& data, Bytes& signature) {
    signature.assign(1000, 0);
    size_t length = signature.size();
    int32_t rc =
        csp_.SignWithCertificate(kSourceSerial, serial, hash_type, data, signature, length);
    signature.resize(rc == kOk ? length : 0);
    return rc;
  }
  int32_t Encrypt(int32_t source, const Bytes& certificate, const Bytes& data, Bytes& out) {
    out.assign(1000, 0);
    size_t length = out.size();
    int32_t rc = csp_.EncryptToCertificate(source, certificate, data, out, length);
    out.resize(rc == kOk ? length : 0);
    return rc;
  }
  int32_t Decrypt(const Bytes& serial, const Bytes& ciphertext, Bytes& out) {
    out.assign(1000, 0);
    size_t length = out.size();
    int32_t rc = csp_.DecryptWithCertificate(kSourceSerial, serial, ciphertext, out, length);
    out.resize(rc == kOk ? length : 0);
    return rc;
  }

  NoDialog picker_;
  CCspCrypto csp_{capi::cryptoapi::UserCryptoPlatform(), picker_};
};

TEST_F(CryptoApiTest, TheStoreShowsWhatWasFilledIn) {
  auto store = capi::cryptoapi::UserCryptoPlatform().OpenPersonalStore();
  ASSERT_TRUE(store);
  ASSERT_EQ(store->size(), testing::StandardStoreEntries().size());
  int with_key = 0;
  bool found = false;
  for (const auto& certificate : *store) {
    with_key += certificate->HoldsPrivateKey() ? 1 : 0;
    if (certificate->SerialNumber() == Reversed(kRsa2048)) {
      found = true;
      capi::CertificateSummary summary = certificate->Summary();
      EXPECT_EQ(summary.subject, "Tarvona Test rsa2048");
      EXPECT_EQ(summary.issuer, "Tarvona Test rsa2048");
      EXPECT_EQ(summary.expires.size(), 10u);
      EXPECT_EQ(summary.expires[4], '-');
    }
  }
  EXPECT_TRUE(found) << "the serial number comes least significant byte first, sign byte kept";
  EXPECT_EQ(with_key, 4) << "serial2a is there without its key";
}

TEST_F(CryptoApiTest, SignsAndVerifiesWithEachHash) {
  const Bytes der = ReadData("rsa2048.cert.der");
  struct Case {
    int32_t hash_type;
    const char* openssl;  // OpenSSL's signature of "Hello", where it has the hash
  };
  for (const Case& c :
       {Case{0, "rsa2048.hello.sha1.sig"}, Case{1, nullptr}, Case{2, "rsa2048.hello.md5.sig"}}) {
    SCOPED_TRACE(c.hash_type);
    Bytes signature;
    ASSERT_EQ(Sign(kRsa2048, c.hash_type, kHello, signature), kOk);
    ASSERT_EQ(signature.size(), 256u);
    if (c.openssl != nullptr) {
      EXPECT_EQ(signature, Reversed(ReadData(c.openssl)));
    }
    EXPECT_EQ(csp_.VerifyWithCertificate(kSourceDer, der, c.hash_type, kHello, signature), kOk);
    EXPECT_EQ(csp_.VerifyWithCertificate(kSourceSerial, kRsa2048, c.hash_type, kHello, signature),
              kOk);
    EXPECT_EQ(csp_.VerifyWithCertificate(kSourceDer, der, (c.hash_type + 1) % 3, kHello, signature),
              kVerifyFailed);
    EXPECT_EQ(csp_.VerifyWithCertificate(kSourceDer, der, c.hash_type,
                                         Bytes{'J', 'e', 'l', 'l', 'o'}, signature),
              kVerifyFailed);
    EXPECT_EQ(csp_.VerifyWithCertificate(kSourceDer, der, c.hash_type, kHello, Reversed(signature)),
              kVerifyFailed);
  }
  // The certificate as PEM text and as a file gives the same answer.
  Bytes signature;
  ASSERT_EQ(Sign(kRsa2048, 0, kHello, signature), kOk);
  Bytes pem = ReadData("rsa2048.cert.pem");
  pem.push_back(0);
  EXPECT_EQ(csp_.VerifyWithCertificate(kSourcePem, pem, 0, kHello, signature), kOk);
  std::string path = (testing::DefaultDataFolder() / "rsa2048.cert.pem").string();
  EXPECT_EQ(
      csp_.VerifyWithCertificate(kSourceFile, Bytes(path.c_str(), path.c_str() + path.size() + 1),
                                 0, kHello, signature),
      kOk);
  EXPECT_EQ(Sign(kRsa2048, 3, kHello, signature), kDigestFailed);
  EXPECT_EQ(csp_.VerifyWithCertificate(kSourceDer, der, 3, kHello, Bytes(256)), kDigestFailed);
  // No data: the hash of no bytes, never a null buffer.
  ASSERT_EQ(Sign(kRsa1024, 0, {}, signature), kOk);
  EXPECT_EQ(csp_.VerifyWithCertificate(kSourceSerial, kRsa1024, 0, {}, signature), kOk);
}

TEST_F(CryptoApiTest, EncryptsAndDecryptsEachKeySize) {
  struct Case {
    const char* name;
    Bytes serial;
    size_t modulus;
  };
  for (const Case& c : {Case{"rsa1024", kRsa1024, 128}, Case{"rsa2048", kRsa2048, 256},
                        Case{"rsa4096", kRsa4096, 512}}) {
    SCOPED_TRACE(c.name);
    const Bytes der = ReadData(std::string(c.name) + ".cert.der");
    Bytes first, second, plaintext;
    ASSERT_EQ(Encrypt(kSourceDer, der, kHello, first), kOk);
    ASSERT_EQ(Encrypt(kSourceSerial, c.serial, kHello, second), kOk);
    EXPECT_EQ(first.size(), c.modulus);
    EXPECT_EQ(second.size(), c.modulus);
    EXPECT_NE(first, second) << "random padding";
    ASSERT_EQ(Decrypt(c.serial, first, plaintext), kOk);
    EXPECT_EQ(plaintext, kHello);
    ASSERT_EQ(Decrypt(c.serial, second, plaintext), kOk);
    EXPECT_EQ(plaintext, kHello);
    // The longest data the key takes, and one byte more.
    EXPECT_EQ(Encrypt(kSourceDer, der, Bytes(c.modulus - 11, 0x5A), first), kOk);
    EXPECT_EQ(Encrypt(kSourceDer, der, Bytes(c.modulus - 10, 0x5A), first), kEncryptFailed);
  }
  // The platform alone keeps a block out of an area too small for it.
  auto provider = capi::cryptoapi::UserCryptoPlatform().AcquireDefaultProvider();
  ASSERT_TRUE(provider);
  std::unique_ptr<capi::Certificate> certificate;
  ASSERT_EQ(capi::cryptoapi::UserCryptoPlatform().ParseCertificate(ReadData("rsa2048.cert.der"),
                                                                   certificate),
            kOk);
  auto key = provider->ImportPublicKey(*certificate);
  ASSERT_TRUE(key);
  EXPECT_FALSE(key->Encrypt(kHello, 255));
  EXPECT_TRUE(key->Encrypt(kHello, 256));

  Bytes plaintext;
  const Bytes openssl = ReadData("rsa2048.hello.enc");
  ASSERT_EQ(openssl.size(), 256u);
  ASSERT_EQ(Decrypt(kRsa2048, Reversed(openssl), plaintext), kOk);
  EXPECT_EQ(plaintext, kHello);
  // In PKCS #1 byte order the block's padding is bad: the answer is no
  // failure of its own, but bytes that are no plaintext, the same each time.
  // Its last byte (the most significant here) cleared keeps it below the
  // modulus, whatever key the test data holds: a number at or above it is
  // no ciphertext at all, and fails.
  Bytes wrong = openssl;
  wrong.back() = 0;
  ASSERT_EQ(Decrypt(kRsa2048, wrong, plaintext), kOk) << "PKCS #1 byte order";
  EXPECT_NE(plaintext, kHello);
  Bytes again;
  ASSERT_EQ(Decrypt(kRsa2048, wrong, again), kOk);
  EXPECT_EQ(again, plaintext);
}

// CryptDecrypt overruns a buffer shorter than the key's block: such a
// ciphertext must never reach it, whether the core or the platform alone
// is asked.
TEST_F(CryptoApiTest, CiphertextsNotOfTheKeySizeAreRefused) {
  auto store = capi::cryptoapi::UserCryptoPlatform().OpenPersonalStore();
  ASSERT_TRUE(store);
  std::unique_ptr<capi::PrivateKeyProvider> key;
  for (const auto& certificate : *store) {
    if (certificate->SerialNumber() == Reversed(kRsa2048)) {
      key = capi::cryptoapi::UserCryptoPlatform().AcquirePrivateKey(*certificate);
    }
  }
  ASSERT_TRUE(key);
  ASSERT_EQ(key->Modulus().size(), 256u);
  for (size_t length : {0u, 1u, 100u, 128u, 255u, 257u, 512u}) {
    SCOPED_TRACE(length);
    const Bytes ciphertext(length, 0x01);
    Bytes plaintext;
    EXPECT_EQ(Decrypt(kRsa2048, ciphertext, plaintext), kDecryptFailed);
    EXPECT_EQ(key->Decrypt(ciphertext, plaintext), capi::PrivateKeyProvider::Decrypted::kFailed);
  }
  // A block of the right size at or above the modulus.
  Bytes plaintext;
  EXPECT_EQ(Decrypt(kRsa2048, Bytes(256, 0xFF), plaintext), kDecryptFailed);
}

TEST_F(CryptoApiTest, ACertificateWithoutItsKeyServesOnlyItsPublicKey) {
  Bytes out;
  EXPECT_EQ(Sign(kSerial2a, 0, kHello, out), kKeyUnavailable);
  EXPECT_EQ(Decrypt(kSerial2a, Bytes(256, 0x01), out), kKeyUnavailable);
  ASSERT_EQ(Encrypt(kSourceSerial, kSerial2a, kHello, out), kOk);
  EXPECT_EQ(out.size(), 256u);
  EXPECT_EQ(csp_.VerifyWithCertificate(kSourceSerial, kSerial2a, 0, kHello, Bytes(256, 0x01)),
            kVerifyFailed);
}

TEST_F(CryptoApiTest, CertificatesThatAreNotThere) {
  Bytes out;
  EXPECT_EQ(Sign({0xC0, 0xFF, 0xEE, 0x01}, 0, kHello, out), kObjectNotFound)
      << "without the sign byte";
  EXPECT_EQ(Decrypt({}, Bytes(256, 0x01), out), kObjectNotFound);
  EXPECT_EQ(Encrypt(kSourceDer, Bytes{0x30, 0x03, 0x02, 0x01, 0x01}, kHello, out),
            kNotACertificate);
}

}  // namespace
}  // namespace tarvona
