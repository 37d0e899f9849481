#include <functional>
#include <string>

#include "control/method_table.h"
#include "testing/token_road_fixture.h"

namespace tarvona {
namespace {

using testing::Bytes;
using testing::Digest;
using testing::DigestOf;
using testing::VerifiesWith;

class CryptoMethodsTest : public testing::TokenRoadTest {
 protected:
  void SetUp() override {
    TokenRoadTest::SetUp();
    LogIn();
    private_key_ = control_->EnumPrivateKey(handle_, 0);
    public_key_ = control_->EnumPublicKey(handle_, 0);
    certificate_pem_ = control_->GetAttribute(handle_, control_->EnumCertificate(handle_, 0), 1);
  }

  int32_t private_key_ = 0;
  int32_t public_key_ = 0;
  std::string certificate_pem_;
};

TEST_F(CryptoMethodsTest, HashMatchesOpenSslAndRefusesOtherTypes) {
  EXPECT_EQ(control_->Hash(handle_, 0, "616263"), HexEncode(DigestOf(Digest::kSha1, Bytes("abc"))));
  EXPECT_EQ(control_->Hash(handle_, 2, "616263"), HexEncode(DigestOf(Digest::kMd5, Bytes("abc"))));
  EXPECT_EQ(control_->Hash(handle_, 0, "6"), HexEncode(DigestOf(Digest::kSha1, {})));
  EXPECT_EQ(control_->Hash(handle_, 0, "0a0B"), control_->Hash(handle_, 0, "0A0B"));
  EXPECT_EQ(control_->Hash(handle_, 0, ""), "");
  EXPECT_EQ(control_->Hash(handle_, 3, "616263"), "");
  EXPECT_EQ(control_->Hash(handle_, -1, "616263"), "");
  EXPECT_EQ(control_->Hash(handle_ + 1, 0, "616263"), "");

  // MD2 reaches the token as MD2; SoftHSM has none.
  tarvona_trace_clear();
  EXPECT_EQ(control_->Hash(handle_, 1, "616263"), "");
  auto init = TracedEntries("C_DigestInit");
  ASSERT_EQ(init.size(), 1u);
  EXPECT_EQ(init[0].mechanism, CKM_MD2);
  EXPECT_EQ(TracedEntries("C_Digest").size(), 0u);  // no digest after a failed init
}

TEST_F(CryptoMethodsTest, SignaturesVerifyOnTheTokenAndWithOpenSsl) {
  const std::string data = "48656C6C6F";  // "Hello"
  for (auto [type, digest] : {std::pair{0, Digest::kSha1}, std::pair{2, Digest::kMd5}}) {
    std::string signature = control_->Sign(handle_, private_key_, type, data);
    ASSERT_EQ(signature.size(), 512u);
    EXPECT_TRUE(VerifiesWith(certificate_pem_, digest, Bytes("Hello"), HexDecode(signature)));
    EXPECT_EQ(control_->Verify(handle_, public_key_, static_cast<int16_t>(type), data, signature),
              kOk);
    EXPECT_EQ(control_->Verify(handle_, public_key_, static_cast<int16_t>(type), "48656C6C6E",
                               signature),
              kVerifyFailed);
  }
  auto signs = TracedEntries("C_SignInit");
  EXPECT_EQ(signs[0].mechanism, CKM_SHA1_RSA_PKCS);
  EXPECT_EQ(signs[1].mechanism, CKM_MD5_RSA_PKCS);
  EXPECT_EQ(TracedEntries("C_Sign")[0].length2, 1024u);  // capacity told to the token

  EXPECT_EQ(control_->Sign(handle_, private_key_, 1, data), "");
  EXPECT_EQ(TracedEntries("C_SignInit").back().mechanism, CKM_MD2_RSA_PKCS);
}

TEST_F(CryptoMethodsTest, OtherHashTypesSignTheBytesAsGiven) {
  // A DigestInfo for SHA-256, the way pages sign modern hashes.
  auto hash = DigestOf(Digest::kSha256, Bytes("Hello"));
  std::string digest_info = "3031300D060960864801650304020105000420" + HexEncode(hash);
  std::string signature = control_->Sign(handle_, private_key_, 7, digest_info);
  EXPECT_TRUE(VerifiesWith(certificate_pem_, Digest::kSha256, Bytes("Hello"), HexDecode(signature)));
  EXPECT_EQ(TracedEntries("C_SignInit").back().mechanism, CKM_RSA_PKCS);
  // The short hash type widens with its sign: -1 is raw too.
  EXPECT_EQ(control_->Verify(handle_, public_key_, -1, digest_info, signature), kOk);
  EXPECT_EQ(TracedEntries("C_VerifyInit").back().mechanism, CKM_RSA_PKCS);
  EXPECT_EQ(control_->Sign(handle_, private_key_, -5, "00"), control_->Sign(handle_, private_key_, 3, "00"));
}

TEST_F(CryptoMethodsTest, EncryptionCrossesOverWithOpenSsl) {
  std::string ciphertext = control_->Encrypt(handle_, public_key_, 0, "00ff7f");
  ASSERT_EQ(ciphertext.size(), 512u);
  EXPECT_EQ(testing::DecryptWith(KeyPath("rsa2048"), HexDecode(ciphertext)),
            (std::vector<uint8_t>{0x00, 0xFF, 0x7F}));
  EXPECT_EQ(control_->Decrypt(handle_, private_key_, 0, ciphertext), "00FF7F");

  auto from_openssl = testing::EncryptTo(certificate_pem_, Bytes("secret"));
  EXPECT_EQ(control_->Decrypt(handle_, private_key_, 99, HexEncode(from_openssl)),
            HexEncode(Bytes("secret")));
  EXPECT_EQ(TracedEntries("C_Decrypt").back().length2, 256u);  // the ciphertext's own length

  EXPECT_EQ(control_->Encrypt(handle_, public_key_, 0, ""), "");
  EXPECT_EQ(control_->Encrypt(handle_, public_key_, 0, std::string(2 * 246, 'A')), "");  // too long
  EXPECT_EQ(control_->Decrypt(handle_, private_key_, 0, ""), "");
  std::string tampered = ciphertext;
  tampered[10] = tampered[10] == 'A' ? 'B' : 'A';
  EXPECT_NE(control_->Decrypt(handle_, private_key_, 0, tampered), "00FF7F");
}

TEST_F(CryptoMethodsTest, SerialRoadFindsTheKeyPairThroughTheCertificate) {
  std::string signature = control_->SignByCertSerial(handle_, kRsa2048Serial, 0, "616263");
  ASSERT_EQ(signature.size(), 512u);
  EXPECT_TRUE(VerifiesWith(certificate_pem_, Digest::kSha1, Bytes("abc"), HexDecode(signature)));
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, "00c0ffee01", 0, "616263", signature), kOk);
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, "616264", signature),
            kVerifyFailed);

  // The serial is the bare content: no tag and length, no dropped zero.
  EXPECT_EQ(control_->SignByCertSerial(handle_, "020500C0FFEE01", 0, "616263"), "");
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, "C0FFEE01", 0, "616263", signature),
            kObjectNotFound);

  tarvona_trace_clear();
  EXPECT_EQ(control_->SignByCertSerial(handle_, "0", 0, "616263"), "");
  EXPECT_EQ(control_->SignByCertSerial(handle_, kRsa2048Serial, 0, ""), "");
  EXPECT_TRUE(TracedCalls().empty());  // refused before reaching the token

  EXPECT_EQ(control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, "", signature),
            kInvalidArgument);
  EXPECT_EQ(control_->VerifyByCertSerial(handle_ + 1, kRsa2048Serial, 0, "", signature),
            kModuleNotReady);
}

// Text that decodes to no bytes or to one byte reaches the token as a
// zero-length input or an output area too small for any result; neither may
// leave a Cryptoki operation active, or the session refuses every later
// search and operation.
TEST_F(CryptoMethodsTest, EmptyAndShortTextLeaveTheSessionUsable) {
  const std::string signature = control_->Sign(handle_, private_key_, 0, "00");
  const std::pair<const char*, std::function<void(const std::string&)>> methods[] = {
      {"Hash", [&](const std::string& t) { control_->Hash(handle_, 0, t); }},
      {"Sign", [&](const std::string& t) { control_->Sign(handle_, private_key_, 0, t); }},
      {"Verify data",
       [&](const std::string& t) { control_->Verify(handle_, public_key_, 0, t, signature); }},
      {"Verify signature",
       [&](const std::string& t) { control_->Verify(handle_, public_key_, 0, "00", t); }},
      {"Encrypt", [&](const std::string& t) { control_->Encrypt(handle_, public_key_, 0, t); }},
      {"Decrypt", [&](const std::string& t) { control_->Decrypt(handle_, private_key_, 0, t); }},
      {"SignByCertSerial",
       [&](const std::string& t) { control_->SignByCertSerial(handle_, kRsa2048Serial, 0, t); }},
      {"VerifyByCertSerial data",
       [&](const std::string& t) {
         control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, t, signature);
       }},
      {"VerifyByCertSerial signature",
       [&](const std::string& t) {
         control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, "00", t);
       }},
  };
  const std::string sha1_of_00 = HexEncode(DigestOf(Digest::kSha1, std::vector<uint8_t>{0x00}));
  for (const auto& [name, call] : methods) {
    for (const std::string text : {"", "A", "ABC"}) {
      SCOPED_TRACE(std::string(name) + " of \"" + text + "\"");
      tarvona_trace_clear();
      call(text);
      for (const char* single_part : {"C_Digest", "C_Sign", "C_Encrypt", "C_Decrypt"}) {
        for (const auto& entry : TracedEntries(single_part)) EXPECT_FALSE(entry.no_output);
      }
      EXPECT_EQ(control_->Hash(handle_, 0, "00"), sha1_of_00);
      EXPECT_NE(control_->EnumCertificate(handle_, 0), kObjectNotFound);
    }
  }
}

TEST_F(CryptoMethodsTest, AnOperationTheModuleWillNotFinishEndsWithItsSession) {
  // The token refuses the room it asked for, so the signature cannot be run
  // to its end.
  tarvona_fault_inject(0, "C_Sign", CKR_BUFFER_TOO_SMALL, 1, 2);
  EXPECT_EQ(control_->Sign(handle_, private_key_, 0, "00"), "");
  auto calls = TracedCalls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
            (std::vector<std::string>{"C_OpenSession", "C_CloseSession"}));
  // Still logged in, with the same keys.
  EXPECT_EQ(control_->Sign(handle_, private_key_, 0, "00").size(), 512u);
  EXPECT_EQ(control_->Hash(handle_, 0, "00").size(), 40u);
}

TEST_F(CryptoMethodsTest, KeySizesMeetTheCapacities) {
  tokens_.ImportKeyPair("alpha", "rsa1024", {0x10});
  tokens_.ImportKeyPair("alpha", "rsa4096", {0x40});
  Connect();
  LogIn();
  EXPECT_EQ(control_->SignByCertSerial(handle_, "1001", 0, "00").size(), 256u);
  // A 512-byte signature does not fit the 256 bytes of the serial road...
  EXPECT_EQ(control_->SignByCertSerial(handle_, "4096", 0, "00"), "");
  // ...and the refused signature leaves no operation behind in the session.
  EXPECT_EQ(control_->SignByCertSerial(handle_, "1001", 0, "00").size(), 256u);
  // ...but comes back whole from Sign.
  int32_t key = 0;
  for (int32_t i = 0; (key = control_->EnumPrivateKey(handle_, i)) != kObjectNotFound; ++i) {
    std::string signature = control_->Sign(handle_, key, 0, "616263");
    if (signature.size() == 1024u) {
      EXPECT_TRUE(VerifiesWith(CertificatePem("rsa4096"), Digest::kSha1, Bytes("abc"),
                               HexDecode(signature)));
      return;
    }
  }
  ADD_FAILURE() << "no 4096-bit signature";
}

TEST_F(CryptoMethodsTest, FailuresComeBackInEachMethodsForm) {
  EXPECT_EQ(control_->Sign(handle_ + 1, private_key_, 0, "00"), "");
  EXPECT_EQ(control_->Verify(handle_ + 1, public_key_, 0, "00", "00"), kModuleNotReady);
  EXPECT_EQ(control_->Encrypt(handle_, private_key_ + 1000, 0, "00"), "");

  ASSERT_EQ(control_->Logout(handle_), kOk);
  EXPECT_EQ(control_->Sign(handle_, private_key_, 0, "00"), "");  // needs the user
  EXPECT_EQ(control_->SignByCertSerial(handle_, kRsa2048Serial, 0, "00"), "");
  EXPECT_EQ(control_->Hash(handle_, 0, "00").size(), 40u);  // no login needed

  ASSERT_EQ(control_->DisconnectToken(handle_), kOk);
  EXPECT_EQ(control_->Hash(handle_, 0, "00"), "");
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, "00", "00"),
            kModuleNotReady);
}

TEST_F(CryptoMethodsTest, OversizedCertificateIdsAreRefusedNotCopied) {
  tokens_.ImportKeyPair("alpha", "rsa1024", std::vector<uint8_t>(300, 0xAB));
  Connect();
  LogIn();
  EXPECT_EQ(control_->SignByCertSerial(handle_, "1001", 0, "00"), "");
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, "1001", 0, "00", "00"), kObjectNotFound);
}

}  // namespace
}  // namespace tarvona
