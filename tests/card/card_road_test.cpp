// The token road on a smart card, as a user's card is reached: an emulated
// CAC card behind pcscd, OpenSC's PKCS #11 module registered with p11-kit,
// the control on its default road (no variable names a module), driven
// through tarvona-host. Runs inside testing/card/card-rig.sh, which gives the
// card's PIN and certificate.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "encoding/hex.h"
#include "testing/host_lines_client.h"
#include "testing/openssl_handles.h"
#include "testing/openssl_judge.h"
#include "tests/card/card_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;
using testing::Digest;
using testing::Environment;

testing::X509Certificate ParsePem(const std::string& pem) {
  testing::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return testing::X509Certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

// The serial's content bytes as OpenSSL reads them from the certificate,
// the DER leading zero included.
std::string SerialText(X509* certificate) {
  unsigned char* der = nullptr;
  int size = i2d_ASN1_INTEGER(X509_get0_serialNumber(certificate), &der);
  std::vector<uint8_t> bytes(der, der + (size > 0 ? size : 0));
  OPENSSL_free(der);
  return bytes.size() > 2 ? HexEncode(std::span(bytes).subspan(2)) : "";
}

class CardRoadTest : public testing::RegisteredModuleTest {
 protected:
  ~CardRoadTest() override { EXPECT_EQ(host_.Finish(), 0); }

  void SetUp() override {
    // The default road: adaptors to p11-kit's proxy, which knows OpenSC.
    testing::ExpectInsideTheRig();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(certificate_) << "no card certificate at " << Environment("TARVONA_CARD_CERT");
    ASSERT_EQ(Send({{"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}})["object"], 1);
    session_ = Call("ConnectToken", json::array());
    ASSERT_TRUE(session_.is_number_integer());
    ASSERT_GE(session_.get<int64_t>(), 0x10000) << "the card's token is not seen";
  }

  json Send(json request) { return host_.Send(std::move(request)); }
  json Call(const std::string& method, json params) {
    return host_.Call(method, std::move(params));
  }
  std::string Text(const std::string& method, json params) {
    return host_.Text(method, std::move(params));
  }

  const std::string pin_ = Environment("TARVONA_CARD_PIN");
  const std::string certificate_pem_ = testing::ReadText(Environment("TARVONA_CARD_CERT"));
  const testing::X509Certificate certificate_ = ParsePem(certificate_pem_);
  testing::HostLinesClient host_{TARVONA_HOST_PATH};
  json session_;
};

TEST_F(CardRoadTest, EveryObjectMethodWorksOnTheCard) {
  ASSERT_EQ(Call("Login", {session_, pin_}), 0);

  // One certificate and its key pair. OpenSC's handles are addresses: script
  // gets numbers that fit, distinct, and the same each time an object is found.
  json certificate = Call("EnumCertificate", {session_, 0});
  json private_key = Call("EnumPrivateKey", {session_, 0});
  json public_key = Call("EnumPublicKey", {session_, 0});
  std::set<int64_t> handles;
  for (const json& handle : {certificate, private_key, public_key}) {
    ASSERT_TRUE(handle.is_number_integer()) << handle;
    EXPECT_TRUE(handle.get<int64_t>() < 1001 || handle.get<int64_t>() > 1011) << handle;
    handles.insert(handle.get<int64_t>());
  }
  EXPECT_EQ(handles.size(), 3u);
  EXPECT_EQ(Call("EnumCertificate", {session_, 0}), certificate);
  EXPECT_EQ(Call("EnumPrivateKey", {session_, 0}), private_key);
  EXPECT_EQ(Call("EnumCertificate", {session_, 1}), 1011);
  EXPECT_EQ(Call("EnumPrivateKey", {session_, 1}), 1011);

  // The certificate's value, its ID (the keys' too) and its serial, judged
  // against the certificate the card was made from.
  testing::X509Certificate read = ParsePem(Text("GetAttribute", {session_, certificate, 1}));
  ASSERT_TRUE(read);
  EXPECT_EQ(testing::DerOf(read.get()), testing::DerOf(certificate_.get()));
  std::string id = Text("GetAttribute", {session_, certificate, 2});
  EXPECT_FALSE(id.empty());
  EXPECT_EQ(Text("GetAttribute", {session_, private_key, 2}), id);
  EXPECT_EQ(Text("GetAttribute", {session_, public_key, 2}), id);
  const std::string serial = Text("GetAttribute", {session_, certificate, 3});
  EXPECT_EQ(serial, SerialText(certificate_.get()));

  // Signatures by handle and by serial, each checked by OpenSSL and by the card.
  const std::string data = "5061792031303020455552";  // "Pay 100 EUR"
  const std::vector<uint8_t> bytes = HexDecode(data);
  const std::vector<uint8_t> sha256_info = [&] {
    std::vector<uint8_t> info = HexDecode("3031300D060960864801650304020105000420");
    std::vector<uint8_t> digest = testing::DigestOf(Digest::kSha256, bytes);
    info.insert(info.end(), digest.begin(), digest.end());
    return info;
  }();
  struct Case {
    const char* name;
    json key_or_serial;
    int hash_type;
    std::vector<uint8_t> signed_bytes;
    Digest digest;
  };
  for (const Case& c : {Case{"Sign SHA-1", private_key, 0, bytes, Digest::kSha1},
                        Case{"Sign MD5", private_key, 2, bytes, Digest::kMd5},
                        Case{"Sign raw DigestInfo", private_key, 3, sha256_info, Digest::kSha256},
                        Case{"SignByCertSerial SHA-1", serial, 0, bytes, Digest::kSha1},
                        Case{"SignByCertSerial raw", serial, 7, sha256_info, Digest::kSha256}}) {
    SCOPED_TRACE(c.name);
    const bool by_serial = c.key_or_serial.is_string();
    const std::string text = HexEncode(c.signed_bytes);
    std::string signature = Text(by_serial ? "SignByCertSerial" : "Sign",
                                 {session_, c.key_or_serial, c.hash_type, text});
    ASSERT_EQ(signature.size(), 512u);
    EXPECT_TRUE(testing::VerifiesWith(certificate_pem_, c.digest, bytes, HexDecode(signature)));
    const char* verify = by_serial ? "VerifyByCertSerial" : "Verify";
    json key = by_serial ? c.key_or_serial : public_key;
    EXPECT_EQ(Call(verify, {session_, key, c.hash_type, text, signature}), 0);
    EXPECT_EQ(Call(verify, {session_, key, c.hash_type, text + "21", signature}), 1007);
  }

  // OpenSC 0.23 does not encrypt with RSA keys (C_EncryptInit answers
  // CKR_KEY_TYPE_INCONSISTENT): Encrypt is empty and the session goes on.
  // Where OpenSC encrypts, the card must decrypt it.
  std::string encrypted = Text("Encrypt", {session_, public_key, 0, data});
  if (!encrypted.empty()) {
    EXPECT_EQ(Text("Decrypt", {session_, private_key, 0, encrypted}), data);
  }
  std::vector<uint8_t> ciphertext = testing::EncryptTo(certificate_pem_, bytes);
  EXPECT_EQ(Text("Decrypt", {session_, private_key, 0, HexEncode(ciphertext)}), data);

  EXPECT_EQ(Text("Hash", {session_, 0, "616263"}), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Call("Logout", {session_}), 0);
  EXPECT_EQ(Call("DisconnectToken", {session_}), 0);
}

TEST_F(CardRoadTest, AWrongPinIsALoginFailureAndTheRightOneStillWorks) {
  // The card keeps no retry counter: OpenSC answers CKR_GENERAL_ERROR.
  EXPECT_EQ(Call("Login", {session_, "000000"}), 4003);
  EXPECT_EQ(Call("Login", {session_, pin_}), 0);
  EXPECT_EQ(Call("Logout", {session_}), 0);
}

}  // namespace
}  // namespace tarvona
