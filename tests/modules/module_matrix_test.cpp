// The token road on real PKCS #11 modules: the same checks through
// tarvona-host for each module testing/modules/module-rig.sh sets up, judged
// by OpenSSL and known answers. What a module cannot do (a mechanism, a
// key pair, a PIN) is a row of the table below: the method must then give
// its documented failure and leave the session usable.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/result_code.h"
#include "encoding/hex.h"
#include "testing/host_lines_client.h"
#include "testing/openssl_handles.h"
#include "testing/openssl_judge.h"
#include "tests/host/host_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;

enum class Expect { kHolds, kLacks };
constexpr Expect H = Expect::kHolds;
constexpr Expect L = Expect::kLacks;

// By hash type: 0 SHA-1, 1 MD2, 2 MD5, and for signatures 3, raw CKM_RSA_PKCS
// over a SHA-256 DigestInfo.
struct Module {
  std::string_view name;
  Expect user_pin;  // Login, Logout, ChangeUserPin
  Expect key_pair;  // an RSA key pair beside the certificate, sharing its CKA_ID
  std::array<Expect, 3> hash;
  std::array<Expect, 4> sign;    // Sign and SignByCertSerial
  std::array<Expect, 4> verify;  // Verify and VerifyByCertSerial
  Expect encrypt;
  Expect decrypt;
};

// tpm2-pkcs11 signs and verifies only raw (CKM_SHA1_RSA_PKCS is listed but
// refused on its keys) and digests no MD5; no module here has MD2. Its
// C_Encrypt reports the output area's size as the ciphertext's length,
// which the binding mends from the key's modulus. p11-kit's trust module holds certificates only and does no
// cryptography.
// clang-format off
constexpr Module kModules[] = {
    //                PIN keys  hash SHA-1 MD2 MD5  sign SHA-1 MD2 MD5 raw  verify likewise  enc dec
    {"softhsm",       H,  H,    {H, L, H},          {H, L, H, H},           {H, L, H, H},    H,  H},
    {"tpm2",          H,  H,    {H, L, L},          {L, L, L, H},           {L, L, L, H},    H,  H},
    {"opencryptoki",  H,  H,    {H, L, H},          {H, L, H, H},           {H, L, H, H},    H,  H},
    {"trust-system",  L,  L,    {L, L, L},          {L, L, L, L},           {L, L, L, L},    L,  L},
    {"trust-anchors", L,  L,    {L, L, L},          {L, L, L, L},           {L, L, L, L},    L,  L},
};
// clang-format on

constexpr std::string_view kData = "616263";  // "abc": the digests below are known
constexpr std::string_view kHashNames[] = {"SHA-1", "MD2", "MD5", "raw"};
constexpr std::string_view kDigestsOfData[] = {
    "A9993E364706816ABA3E25717850C26C9CD0D89D",
    "DA853B0D3F88D99B30283A69E6DED6BB",
    "900150983CD24FB0D6963F7D28E17F72",
};
// The DigestInfo a PKCS #1 v1.5 signature of the data carries, by hash type;
// the raw type signs the SHA-256 one as given.
const std::string kDigestInfos[] = {
    "3021300906052B0E03021A05000414" + std::string(kDigestsOfData[0]),
    "3020300C06082A864886F70D020205000410" + std::string(kDigestsOfData[1]),
    "3020300C06082A864886F70D020505000410" + std::string(kDigestsOfData[2]),
    "3031300D060960864801650304020105000420"
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

const Module* FindModule(std::string_view name) {
  for (const Module& module : kModules) {
    if (module.name == name) return &module;
  }
  return nullptr;
}

struct Certificate {
  std::string pem;
  std::vector<uint8_t> der;
  std::string serial;  // content bytes of the DER serial, as OpenSSL reads it
};

std::vector<Certificate> ReadCertificates(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  const std::string bundle = text.str();
  testing::Bio bio(BIO_new_mem_buf(bundle.data(), static_cast<int>(bundle.size())));
  std::vector<Certificate> certificates;
  while (testing::X509Certificate x509{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
    testing::Bio out(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(out.get(), x509.get());
    char* data = nullptr;
    long size = BIO_get_mem_data(out.get(), &data);
    unsigned char* serial = nullptr;
    int serial_size = i2d_ASN1_INTEGER(X509_get0_serialNumber(x509.get()), &serial);
    std::vector<uint8_t> serial_der(serial, serial + (serial_size > 0 ? serial_size : 0));
    OPENSSL_free(serial);
    certificates.push_back(
        {std::string(data, static_cast<size_t>(size)), testing::DerOf(x509.get()),
         serial_der.size() > 2 ? HexEncode(std::span(serial_der).subspan(2)) : ""});
  }
  return certificates;
}

std::vector<uint8_t> DerOfPem(const std::string& pem) {
  testing::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  testing::X509Certificate x509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  return x509 ? testing::DerOf(x509.get()) : std::vector<uint8_t>{};
}

// Serial numbers as the control gives them: the token's 16-byte field, blanks kept.
std::string SerialField(std::string serial) {
  serial.resize(std::max<size_t>(serial.size(), 16), ' ');
  return serial;
}

class ModuleMatrixTest : public testing::RegisteredModuleTest {
 protected:
  ~ModuleMatrixTest() override { EXPECT_EQ(host_.Finish(), 0); }

  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "run inside testing/modules/module-rig.sh MODULE (a table row)";
    ASSERT_FALSE(certificates_.empty()) << Environment("TARVONA_MATRIX_CERTS");
    ASSERT_EQ(Send({{"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}})["object"], 1);
    json session = Call("ConnectToken", json::array());
    ASSERT_TRUE(session.is_number_integer()) << session;
    session_ = session.get<int64_t>();
    ASSERT_GE(session_, 0x10000) << "ConnectToken: the module's token is not seen";
    certificate_ = Call("EnumCertificate", {session_, 0});
    ASSERT_TRUE(certificate_.is_number_integer());
    ASSERT_NE(certificate_, kObjectNotFound);
  }

  json Send(json request) { return host_.Send(std::move(request)); }
  json Call(const std::string& method, json params) {
    return host_.Call(method, std::move(params));
  }
  std::string Text(const std::string& method, json params) {
    return host_.Text(method, std::move(params));
  }

  bool Holds(Expect expect) const { return expect == Expect::kHolds; }
  // Logs in where the token has a user PIN; the keys are private objects.
  void LogIn() {
    if (Holds(module_->user_pin)) {
      ASSERT_EQ(Call("Login", {session_, pin_}), kOk);
    }
    FindKeys();
  }
  void FindKeys() {
    private_key_ = Call("EnumPrivateKey", {session_, 0});
    public_key_ = Call("EnumPublicKey", {session_, 0});
  }
  // The token's key pair's certificate: the rig's only one when it has keys.
  const Certificate& KeyCertificate() const { return certificates_.front(); }

  // After every refusal: the session still finds objects, digests and signs.
  void ExpectSessionUsable() {
    EXPECT_EQ(Call("EnumCertificate", {session_, 0}), certificate_) << "session lost";
    if (Holds(module_->hash[0])) {
      EXPECT_EQ(Text("Hash", {session_, 0, kData}), kDigestsOfData[0]) << "session lost";
    }
    if (Holds(module_->sign[3])) {
      std::string signature = Text("Sign", {session_, private_key_, 3, kDigestInfos[3]});
      EXPECT_TRUE(testing::VerifiesWith(KeyCertificate().pem, testing::Digest::kNone,
                                        HexDecode(kDigestInfos[3]), HexDecode(signature)))
          << "session lost";
    }
  }

  const Module* module_ = FindModule(Environment("TARVONA_MATRIX_MODULE"));
  const std::string pin_ = Environment("TARVONA_MATRIX_PIN");
  const std::vector<Certificate> certificates_ =
      ReadCertificates(Environment("TARVONA_MATRIX_CERTS"));
  testing::HostLinesClient host_{TARVONA_HOST_PATH};
  int64_t session_ = 0;
  json certificate_;
  json private_key_;
  json public_key_;
};

TEST_F(ModuleMatrixTest, ConnectsAndReportsTheTokenSerials) {
  // Both adaptors reach the same module, so every serial shows twice.
  std::string serials = Environment("TARVONA_MATRIX_SERIALS");
  ASSERT_FALSE(serials.empty());
  std::vector<std::string> fields;
  for (size_t start = 0; start <= serials.size();) {
    size_t end = std::min(serials.find(',', start), serials.size());
    fields.push_back(SerialField(serials.substr(start, end - start)));
    start = end + 1;
  }
  std::string all;
  for (int generation = 0; generation < 2; ++generation) {
    for (const std::string& field : fields) all += (all.empty() ? "" : ",") + field;
  }
  EXPECT_EQ(Text("RetrieveSerial", {session_}), fields.front());
  EXPECT_EQ(Text("RetrieveAllTokenSerial", {session_}), all);
  EXPECT_EQ(Call("DisconnectToken", {session_}), kOk);
  EXPECT_EQ(Call("EnumCertificate", {session_, 0}), kModuleNotReady);
  EXPECT_EQ(Call("DisconnectToken", {session_}), kNotConnected);
}

TEST_F(ModuleMatrixTest, LogsInWithTheRightPinOnly) {
  const bool holds = Holds(module_->user_pin);
  EXPECT_EQ(Call("Login", {session_, "000000"}), holds ? kPinIncorrect : kLoginFailed);
  EXPECT_EQ(Call("Login", {session_, pin_}), holds ? kOk : kLoginFailed);
  FindKeys();
  ExpectSessionUsable();
  EXPECT_EQ(Call("Logout", {session_}), holds ? kOk : kUserNotLoggedIn);
  EXPECT_EQ(Call("DisconnectToken", {session_}), kOk);
}

TEST_F(ModuleMatrixTest, ChangesTheUserPinAndBack) {
  const std::string other = "246813";
  if (!Holds(module_->user_pin)) {
    EXPECT_EQ(Call("ChangeUserPin", {session_, pin_, other}), kLoginFailed);
    FindKeys();
    ExpectSessionUsable();
    return;
  }
  EXPECT_EQ(Call("ChangeUserPin", {session_, "000000", other}), kPinIncorrect);
  // A change ends logged out.
  EXPECT_EQ(Call("ChangeUserPin", {session_, pin_, other}), kOk);
  EXPECT_EQ(Call("Login", {session_, pin_}), kPinIncorrect);
  EXPECT_EQ(Call("Login", {session_, other}), kOk);
  EXPECT_EQ(Call("ChangeUserPin", {session_, other, pin_}), kOk);
  EXPECT_EQ(Call("Login", {session_, pin_}), kOk);
  FindKeys();
  ExpectSessionUsable();
  EXPECT_EQ(Call("Logout", {session_}), kOk);
}

TEST_F(ModuleMatrixTest, ListsItsObjectsAndTheirAttributes) {
  LogIn();
  // Every certificate the rig put on the token, once, and nothing else.
  std::set<std::vector<uint8_t>> expected;
  for (const Certificate& c : certificates_) expected.insert(c.der);
  std::set<std::vector<uint8_t>> found;
  std::set<int64_t> handles;
  int index = 0;
  for (json handle; index < 8; ++index) {
    handle = Call("EnumCertificate", {session_, index});
    ASSERT_TRUE(handle.is_number_integer());
    if (handle == kObjectNotFound) break;
    handles.insert(handle.get<int64_t>());
    std::vector<uint8_t> der = DerOfPem(Text("GetAttribute", {session_, handle, 1}));
    found.insert(der);
    auto certificate = std::ranges::find(certificates_, der, &Certificate::der);
    ASSERT_NE(certificate, certificates_.end()) << "a certificate the rig did not write";
    EXPECT_FALSE(Text("GetAttribute", {session_, handle, 2}).empty());
    EXPECT_EQ(Text("GetAttribute", {session_, handle, 3}), certificate->serial);
  }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(handles.size(), certificates_.size());

  // The key pair shares the certificate's ID.
  if (!Holds(module_->key_pair)) {
    EXPECT_EQ(private_key_, kObjectNotFound);
    EXPECT_EQ(public_key_, kObjectNotFound);
    return;
  }
  const std::string id = Text("GetAttribute", {session_, certificate_, 2});
  EXPECT_EQ(Text("GetAttribute", {session_, private_key_, 2}), id);
  EXPECT_EQ(Text("GetAttribute", {session_, public_key_, 2}), id);
  EXPECT_EQ(Call("EnumPrivateKey", {session_, 1}), kObjectNotFound);
  EXPECT_EQ(Call("EnumPublicKey", {session_, 1}), kObjectNotFound);
  EXPECT_EQ(std::set<int64_t>({certificate_.get<int64_t>(), private_key_.get<int64_t>(),
                               public_key_.get<int64_t>()})
                .size(),
            3u);
}

TEST_F(ModuleMatrixTest, DigestsByEveryHashType) {
  LogIn();
  for (int type = 0; type < 3; ++type) {
    SCOPED_TRACE(kHashNames[type]);
    EXPECT_EQ(Text("Hash", {session_, type, kData}),
              Holds(module_->hash[type]) ? kDigestsOfData[type] : "");
    ExpectSessionUsable();
  }
}

TEST_F(ModuleMatrixTest, SignsByHandleAndBySerialWithEveryHashType) {
  LogIn();
  for (bool by_serial : {false, true}) {
    for (int type = 0; type < 4; ++type) {
      SCOPED_TRACE(std::string(by_serial ? "SignByCertSerial " : "Sign ") +
                   std::string(kHashNames[type]));
      json key = by_serial ? json(KeyCertificate().serial) : private_key_;
      std::string signature = Text(by_serial ? "SignByCertSerial" : "Sign",
                                   {session_, key, type, type < 3 ? kData : kDigestInfos[3]});
      if (Holds(module_->sign[type])) {
        // The signature must recover exactly the DigestInfo of the data.
        EXPECT_TRUE(testing::VerifiesWith(KeyCertificate().pem, testing::Digest::kNone,
                                          HexDecode(kDigestInfos[type]), HexDecode(signature)))
            << signature;
      } else {
        EXPECT_EQ(signature, "");
      }
      ExpectSessionUsable();
    }
  }
}

TEST_F(ModuleMatrixTest, VerifiesByHandleAndBySerialWithEveryHashType) {
  LogIn();
  for (int type = 0; type < 4; ++type) {
    // A raw signature of the type's DigestInfo is the signature of that
    // type, so every type has one whatever the token signs; OpenSSL judges it.
    std::string signature;
    if (Holds(module_->sign[3])) {
      signature = Text("Sign", {session_, private_key_, 3, kDigestInfos[type]});
      ASSERT_TRUE(testing::VerifiesWith(KeyCertificate().pem, testing::Digest::kNone,
                                        HexDecode(kDigestInfos[type]), HexDecode(signature)));
    }
    const std::string data(type < 3 ? kData : kDigestInfos[3]);
    for (bool by_serial : {false, true}) {
      SCOPED_TRACE(std::string(by_serial ? "VerifyByCertSerial " : "Verify ") +
                   std::string(kHashNames[type]));
      const char* method = by_serial ? "VerifyByCertSerial" : "Verify";
      json key = by_serial ? json(KeyCertificate().serial) : public_key_;
      if (Holds(module_->verify[type])) {
        EXPECT_EQ(Call(method, {session_, key, type, data, signature}), kOk);
        EXPECT_EQ(Call(method, {session_, key, type, data + "21", signature}), kVerifyFailed);
      } else {
        // Without a key pair the lookup by serial finds no public key.
        const int failure =
            by_serial && !Holds(module_->key_pair) ? kObjectNotFound : kVerifyFailed;
        EXPECT_EQ(Call(method, {session_, key, type, data, signature}), failure);
      }
      ExpectSessionUsable();
    }
  }
}

TEST_F(ModuleMatrixTest, EncryptsAndDecrypts) {
  LogIn();
  const std::vector<uint8_t> data = HexDecode(kData);
  const size_t block = testing::ModulusOf(KeyCertificate().pem).size();
  {
    SCOPED_TRACE("Encrypt");
    const std::vector<uint8_t> encrypted =
        HexDecode(Text("Encrypt", {session_, public_key_, 0, kData}));
    switch (module_->encrypt) {
      case Expect::kHolds:
        EXPECT_EQ(encrypted.size(), block);
        EXPECT_EQ(Text("Decrypt", {session_, private_key_, 0, HexEncode(encrypted)}), kData);
        break;
      case Expect::kLacks:
        EXPECT_TRUE(encrypted.empty());
        break;
    }
    ExpectSessionUsable();
  }
  SCOPED_TRACE("Decrypt");
  const std::vector<uint8_t> ciphertext = testing::EncryptTo(KeyCertificate().pem, data);
  EXPECT_EQ(Text("Decrypt", {session_, private_key_, 0, HexEncode(ciphertext)}),
            Holds(module_->decrypt) ? kData : "");
  ExpectSessionUsable();
}

TEST_F(ModuleMatrixTest, RefusedInputsLeaveTheSessionUsable) {
  const size_t block = testing::ModulusOf(certificates_.front().pem).size();
  const std::string full_block = HexEncode(std::vector<uint8_t>(block, 0x5A));
  enum class Key { kPrivate, kPublic, kCertificate, kNeverHandedOut };
  struct Refused {
    const char* name;
    const char* method;
    Key key;
    std::string input;
  };
  const Refused cases[] = {
      {"Decrypt garbage", "Decrypt", Key::kPrivate, full_block},
      {"Decrypt empty", "Decrypt", Key::kPrivate, ""},
      {"Decrypt short", "Decrypt", Key::kPrivate, "0102"},
      {"Decrypt too long", "Decrypt", Key::kPrivate, full_block + full_block},
      {"Sign with a number never handed out", "Sign", Key::kNeverHandedOut, kDigestInfos[3]},
      {"Sign with the certificate", "Sign", Key::kCertificate, kDigestInfos[3]},
      {"Sign more than the key holds", "Sign", Key::kPrivate, full_block},
      {"Verify a signature of the wrong size", "Verify", Key::kPublic, kDigestInfos[3]},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    // Each case on a fresh session (the login stays), so one that loses the
    // session is told apart from the next.
    ASSERT_EQ(Call("ConnectToken", json::array()), session_);
    certificate_ = Call("EnumCertificate", {session_, 0});
    LogIn();
    json key = c.key == Key::kPrivate       ? private_key_
               : c.key == Key::kPublic      ? public_key_
               : c.key == Key::kCertificate ? certificate_
                                            : json(12345);
    const std::string_view method = c.method;
    if (method == "Verify") {
      EXPECT_EQ(Call("Verify", {session_, key, 3, c.input, "0102"}), kVerifyFailed);
    } else {
      EXPECT_EQ(Text(c.method, {session_, key, method == "Sign" ? 3 : 0, c.input}), "");
    }
    ExpectSessionUsable();
  }
  EXPECT_EQ(Call("Logout", {session_}), Holds(module_->user_pin) ? kOk : kUserNotLoggedIn);
  EXPECT_EQ(Call("DisconnectToken", {session_}), kOk);
}

}  // namespace
}  // namespace tarvona
