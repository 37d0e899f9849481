// The four store methods end to end on an NSS database, OpenSSL judging.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "testing/openssl_judge.h"
#include "testing/test_library_loader.h"
#include "tests/capi/store_test.h"

namespace tarvona {
namespace {

using testing::Bytes;
using testing::DataFile;
using testing::DecryptWith;
using testing::Der;
using testing::Digest;
using testing::EncryptTo;
using testing::KeyPath;
using testing::kHello;
using testing::Pem;
using testing::Reversed;
using testing::SignWith;
using testing::VerifiesWith;

constexpr char kRsa2048[] = "00C0FFEE01";
constexpr char kRsa1024[] = "1001";
constexpr char kNoKey[] = "2A";  // serial2a, stored without its key
// RFC 1319's MD2 digest of "abc" in its DigestInfo (OpenSSL has no MD2).
constexpr char kMd2OfAbc[] = "3020300C06082A864886F70D020205000410DA853B0D3F88D99B30283A69E6DED6BB";

std::string Flipped(const std::string& hex) { return HexEncode(Reversed(HexDecode(hex))); }

std::string NotAfter(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  std::tm time{};
  ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &time);
  X509_free(certificate);
  BIO_free(bio);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &time);
  return text;
}

class CspMethodsTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    database_.ImportKeyPair("rsa2048");
    database_.ImportKeyPair("rsa1024");
    database_.AddCertificate(DataFile("serial2a.cert.der"), "serial2a");
    control_ = std::make_unique<CTarvonaActiveXCtrl>(no_modules_, capi::nss::UserCryptoPlatform(),
                                                     picker_);
  }
  void TearDown() override {
    control_.reset();
    StoreTest::TearDown();
  }

  std::string Sign(const std::string& serial, int32_t hash_type, const std::string& data) {
    return control_->SignByCSP(0, kSourceSerial, serial, hash_type, data);
  }
  int32_t Verify(int32_t source, const std::string& certificate, const std::string& signature,
                 int32_t hash_type = 0, const std::string& data = kHello) {
    return control_->VerifyByCSP(0, source, certificate, hash_type, data, signature);
  }
  std::string Encrypt(const std::string& serial, const std::string& data) {
    return control_->EncryptByCSP(0, kSourceSerial, serial, 0, data);
  }
  std::string Decrypt(const std::string& serial, const std::string& ciphertext) {
    return control_->DecryptByCSP(0, kSourceSerial, serial, 0, ciphertext);
  }

  testing::DirectoryLoader no_modules_{"/nonexistent"};  // the store needs no token
  testing::ScriptedPicker picker_{capi::nss::UserCryptoPlatform()};
  std::unique_ptr<CTarvonaActiveXCtrl> control_;
};

TEST_F(CspMethodsTest, SignaturesArePkcs1LeastSignificantByteFirst) {
  for (auto [type, digest] : {std::pair{0, Digest::kSha1}, std::pair{2, Digest::kMd5}}) {
    std::string ours = Sign(kRsa2048, type, kHello);
    ASSERT_EQ(ours.size(), 512u);
    EXPECT_TRUE(VerifiesWith(Pem("rsa2048"), digest, Bytes("Hello"), HexDecode(Flipped(ours))));
    EXPECT_EQ(Verify(kSourceSerial, kRsa2048, ours, type), kOk);
    auto theirs = SignWith(KeyPath("rsa2048"), digest, Bytes("Hello"));
    EXPECT_EQ(Verify(kSourceSerial, kRsa2048, HexEncode(Reversed(theirs)), type), kOk);
  }
  std::string md2 = Sign(kRsa2048, 1, "616263");
  EXPECT_TRUE(
      VerifiesWith(Pem("rsa2048"), Digest::kNone, HexDecode(kMd2OfAbc), HexDecode(Flipped(md2))));
  EXPECT_EQ(Verify(kSourceSerial, kRsa2048, md2, 1, "616263"), kOk);
  std::string of_nothing = Sign(kRsa1024, 0, "");
  EXPECT_TRUE(VerifiesWith(Pem("rsa1024"), Digest::kSha1, {}, HexDecode(Flipped(of_nothing))));

  std::string signature = Sign(kRsa2048, 0, kHello);
  EXPECT_EQ(Verify(kSourceSerial, kRsa2048, signature, 2), kVerifyFailed);
  EXPECT_EQ(Verify(kSourceSerial, kRsa2048, signature, 0, "48656C6C6E"), kVerifyFailed);
  EXPECT_EQ(Verify(kSourceSerial, kRsa2048, Flipped(signature)), kVerifyFailed);
  EXPECT_EQ(Verify(kSourceSerial, kRsa1024, signature), kVerifyFailed);
}

TEST_F(CspMethodsTest, EveryFormOfAGivenCertificateAgrees) {
  // rsa2048b is not in the store: only the certificate itself names it.
  std::string signature =
      HexEncode(Reversed(SignWith(KeyPath("rsa2048b"), Digest::kSha1, Bytes("Hello"))));
  std::string pem = Pem("rsa2048b");
  size_t body = pem.find('\n') + 1;
  std::string bare = pem.substr(body, pem.find("-----END") - body);

  EXPECT_EQ(Verify(kSourcePem, pem, signature), kOk);
  EXPECT_EQ(Verify(kSourcePem, bare, signature), kOk);
  EXPECT_EQ(Verify(kSourceDer, HexEncode(Der("rsa2048b")), signature), kOk);
  EXPECT_EQ(Verify(kSourceFile, DataFile("rsa2048b.cert.pem"), signature), kOk);
  EXPECT_EQ(Verify(kSourceFile, DataFile("rsa2048b.cert.der"), signature), kOk);
  EXPECT_EQ(Verify(kSourceDer, HexEncode(Der("rsa2048")), signature), kVerifyFailed);
  EXPECT_EQ(Verify(kSourceSerial, "02048B", signature), kObjectNotFound);

  EXPECT_EQ(Verify(kSourcePem, pem.substr(0, pem.find("-----END")), signature), kInvalidArgument);
  EXPECT_EQ(Verify(kSourceDer, "3082", signature), kNotACertificate);
  EXPECT_EQ(Verify(5, pem, signature), kInvalidArgument);
  auto file = [&](const std::string& name, const std::string& text) {
    return database_.WriteFile(name, Bytes(text));
  };
  EXPECT_EQ(Verify(kSourceFile, file("bom.pem", "\xEF\xBB\xBF" + pem), signature),
            kNotACertificate);
  EXPECT_EQ(Verify(kSourceFile, file("cut.pem", pem.substr(0, 200)), signature), kInvalidArgument);
  EXPECT_EQ(Verify(kSourceFile, file("empty.der", ""), signature), kNotACertificate);
  EXPECT_EQ(Verify(kSourceFile, DataFile("missing.pem"), signature), kCertificateFileUnreadable);
  EXPECT_EQ(Verify(kSourceFile, database_.directory(), signature), kCertificateFileUnreadable);
}

TEST_F(CspMethodsTest, SerialNumbersMatchByteForByte) {
  std::string signature = Sign(kRsa2048, 0, kHello);
  EXPECT_EQ(Verify(kSourceSerial, "00c0ffee01", signature), kOk);
  EXPECT_EQ(Verify(kSourceSerial, "C0FFEE01", signature), kObjectNotFound);
  EXPECT_EQ(Verify(kSourceSerial, "0000C0FFEE01", signature), kObjectNotFound);
  EXPECT_EQ(Verify(kSourceSerial, "", signature), kObjectNotFound);

  // A certificate without its key verifies and encrypts, no more.
  auto theirs = SignWith(KeyPath("serial2a"), Digest::kSha1, Bytes("Hello"));
  EXPECT_EQ(Verify(kSourceSerial, kNoKey, HexEncode(Reversed(theirs))), kOk);
  std::string ciphertext = Encrypt(kNoKey, kHello);
  EXPECT_EQ(DecryptWith(KeyPath("serial2a"), HexDecode(Flipped(ciphertext))), Bytes("Hello"));
  EXPECT_EQ(Sign(kNoKey, 0, kHello), "");
  EXPECT_EQ(Decrypt(kNoKey, ciphertext), "");
}

TEST_F(CspMethodsTest, HashTypesOtherThanTheThreeFailOnceTheCertificateIsFound) {
  std::string signature = Sign(kRsa2048, 0, kHello);
  EXPECT_EQ(Sign(kRsa2048, 3, kHello), "");
  EXPECT_EQ(Verify(kSourceSerial, kRsa2048, signature, 3), kDigestFailed);
  EXPECT_EQ(Verify(kSourceSerial, kRsa2048, signature, -1), kDigestFailed);
  EXPECT_EQ(Verify(kSourceSerial, "99", signature, 3), kObjectNotFound);
}

TEST_F(CspMethodsTest, SessionIdAndReservedAreNotExamined) {
  for (int32_t any : {0, -1, 0x12345}) {  // no token was ever connected
    std::string signature = control_->SignByCSP(any, kSourceSerial, kRsa2048, 0, kHello);
    EXPECT_EQ(control_->VerifyByCSP(any, kSourceSerial, kRsa2048, 0, kHello, signature), kOk);
    std::string ciphertext = control_->EncryptByCSP(any, kSourceSerial, kRsa2048, any, kHello);
    EXPECT_EQ(control_->DecryptByCSP(any, kSourceSerial, kRsa2048, any, ciphertext), kHello);
  }
}

TEST_F(CspMethodsTest, EncryptionRoundTripsWithOpenSsl) {
  std::string first = Encrypt(kRsa2048, "48656c6c6f");
  std::string second = Encrypt(kRsa2048, kHello);
  ASSERT_EQ(first.size(), 512u);
  EXPECT_EQ(second.size(), 512u);
  EXPECT_NE(first, second);
  EXPECT_EQ(DecryptWith(KeyPath("rsa2048"), HexDecode(Flipped(first))), Bytes("Hello"));
  EXPECT_EQ(Decrypt(kRsa2048, first), kHello);
  auto theirs = EncryptTo(Pem("rsa2048"), Bytes("Hello"));
  EXPECT_EQ(Decrypt(kRsa2048, HexEncode(Reversed(theirs))), kHello);

  std::string to_file =
      control_->EncryptByCSP(0, kSourceFile, DataFile("rsa1024.cert.pem"), 0, kHello);
  EXPECT_EQ(Decrypt(kRsa1024, to_file), kHello);
  EXPECT_EQ(Encrypt(kRsa1024, std::string(2 * 117, 'A')).size(), 256u);
  EXPECT_EQ(Encrypt(kRsa1024, std::string(2 * 118, 'A')), "");
  // No bytes decrypt to the empty string, as a failure does.
  std::string of_nothing = Encrypt(kRsa2048, "");
  EXPECT_EQ(DecryptWith(KeyPath("rsa2048"), HexDecode(Flipped(of_nothing))), Bytes(""));
  EXPECT_EQ(Decrypt(kRsa2048, of_nothing), "");
}

TEST_F(CspMethodsTest, TamperedCiphertextNeverGivesThePlaintextBack) {
  const std::string secret = "5365637265742070617373776F7264";
  std::string ciphertext = Encrypt(kRsa2048, secret);
  ASSERT_EQ(Decrypt(kRsa2048, ciphertext), secret);
  // Implicit rejection: a bad block may decrypt to noise, never to the text.
  EXPECT_NE(Decrypt(kRsa2048, Flipped(ciphertext)), secret);
  for (size_t digit : {0u, 2u, 256u, 510u}) {
    std::string tampered = ciphertext;
    tampered[digit] = tampered[digit] == '0' ? '1' : '0';
    EXPECT_NE(Decrypt(kRsa2048, tampered), secret) << digit;
  }
  EXPECT_EQ(Decrypt(kRsa2048, ciphertext.substr(0, 510)), "");
}

TEST_F(CspMethodsTest, SignAndDecryptTakeOnlyStoreCertificates) {
  std::string ciphertext = Encrypt(kRsa2048, kHello);
  const std::pair<int32_t, std::string> given[] = {{kSourcePem, Pem("rsa2048")},
                                                   {kSourceDer, HexEncode(Der("rsa2048"))},
                                                   {kSourceFile, DataFile("rsa2048.cert.pem")}};
  for (const auto& [source, data] : given) {
    EXPECT_EQ(control_->SignByCSP(0, source, data, 0, kHello), "") << source;
    EXPECT_EQ(control_->DecryptByCSP(0, source, data, 0, ciphertext), "") << source;
  }
}

TEST_F(CspMethodsTest, TheDialogShowsTheStoreInItsOrder) {
  picker_.answer = 1;
  std::string signature = control_->SignByCSP(0, kSourceDialog, "ignored", 0, kHello);
  EXPECT_TRUE(
      VerifiesWith(Pem("rsa2048"), Digest::kSha1, Bytes("Hello"), HexDecode(Flipped(signature))));
  // Signing offers only the certificates whose key the store holds.
  EXPECT_EQ(picker_.shown.size(), 2u);
  picker_.answer = 2;
  EXPECT_EQ(Verify(kSourceDialog, "", signature), kVerifyFailed);  // serial2a's key did not sign
  ASSERT_EQ(picker_.shown.size(), 3u);
  EXPECT_EQ(picker_.shown[0].subject, "Tarvona Test rsa1024");
  EXPECT_EQ(picker_.shown[2].subject, "Tarvona Test serial2a");
  EXPECT_EQ(picker_.shown[1].issuer, "Tarvona Test rsa2048");
  EXPECT_EQ(picker_.shown[1].expires, NotAfter(Pem("rsa2048")));

  picker_.answer = std::nullopt;
  EXPECT_EQ(Verify(kSourceDialog, "", signature), kStoreUnavailable);
}

// A certificate out of its validity comes after the others, though its
// subject sorts first in the store, and says why; a position chosen in the
// list is the certificate shown there.
TEST_F(CspMethodsTest, TheDialogListsCertificatesOutOfTheirValidityLast) {
  database_.MakeKeyPair("expired", "CN=Tarvona Test aaa expired", -24, 12);
  database_.MakeKeyPair("future", "CN=Tarvona Test aab future", 12, 12);
  picker_.answer = 0;
  const std::string signature = control_->SignByCSP(0, kSourceDialog, "", 0, kHello);
  const struct {
    const char* subject;
    capi::Validity validity;
  } listed[] = {{"Tarvona Test rsa1024", capi::Validity::kValid},
                {"Tarvona Test rsa2048", capi::Validity::kValid},
                {"Tarvona Test aaa expired", capi::Validity::kExpired},
                {"Tarvona Test aab future", capi::Validity::kNotYetValid}};
  ASSERT_EQ(picker_.shown.size(), std::size(listed));
  for (size_t i = 0; i < std::size(listed); ++i) {
    EXPECT_EQ(picker_.shown[i].subject, listed[i].subject) << i;
    EXPECT_EQ(picker_.shown[i].validity, listed[i].validity) << i;
  }
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y-%m-%d", std::gmtime(&now));
  EXPECT_LT(picker_.shown[2].expires, today);
  EXPECT_GT(picker_.shown[3].valid_from, today);
  EXPECT_LE(picker_.shown[0].valid_from, today);
  EXPECT_TRUE(
      VerifiesWith(Pem("rsa1024"), Digest::kSha1, Bytes("Hello"), HexDecode(Flipped(signature))));
  // Verification lists serial2a (no key) among the valid ones too.
  picker_.answer = 3;
  EXPECT_EQ(Verify(kSourceDialog, "", signature), kVerifyFailed);
  ASSERT_EQ(picker_.shown.size(), 5u);
  EXPECT_EQ(picker_.shown[3].subject, "Tarvona Test aaa expired");
  picker_.answer = 0;
  EXPECT_EQ(Verify(kSourceDialog, "", signature), kOk);
}

}  // namespace
}  // namespace tarvona
