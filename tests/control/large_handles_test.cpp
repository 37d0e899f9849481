#include <functional>
#include <set>
#include <string>
#include <vector>

#include "encoding/pem.h"
#include "testing/token_road_fixture.h"
#include "token/object_numbers.h"

namespace tarvona {
namespace {

using testing::Bytes;
using testing::Digest;

constexpr int32_t kNeverHandedOut = ObjectNumbers::kFirstStandIn + ObjectNumbers::kLimit - 1;

// The module presents every object handle as an address far above 32 bits,
// as OpenSC does.
class LargeHandlesTest : public testing::TokenRoadTest {
 protected:
  void SetUp() override {
    tarvona_fault_large_handles(0, 1);
    TokenRoadTest::SetUp();
    LogIn();
  }

  // The object handle of the first traced call that took one.
  static CK_OBJECT_HANDLE TracedObject() {
    tarvona_trace_entry entry{};
    for (unsigned long i = 0; tarvona_trace_get(i, &entry) != 0; ++i) {
      if (entry.object != 0) return entry.object;
    }
    return 0;
  }

  std::vector<int32_t> EnumerateAll() {
    std::vector<int32_t> numbers;
    for (auto enumerate :
         {&CTarvonaActiveXCtrl::EnumCertificate, &CTarvonaActiveXCtrl::EnumPublicKey,
          &CTarvonaActiveXCtrl::EnumPrivateKey}) {
      for (int32_t i = 0;; ++i) {
        int32_t number = (*control_.*enumerate)(handle_, i);
        if (number == kObjectNotFound) break;
        numbers.push_back(number);
      }
    }
    return numbers;
  }
};

TEST_F(LargeHandlesTest, EveryHandleMethodWorksThroughItsStandIn) {
  const int32_t certificate = control_->EnumCertificate(handle_, 0);
  const int32_t public_key = control_->EnumPublicKey(handle_, 0);
  const int32_t private_key = control_->EnumPrivateKey(handle_, 0);
  const std::string pem = CertificatePem("rsa2048");
  const std::string data = "48656C6C6F";  // "Hello"
  const std::string signature =
      HexEncode(testing::SignWith(KeyPath("rsa2048"), Digest::kSha1, Bytes("Hello")));
  const std::string ciphertext = HexEncode(testing::EncryptTo(pem, Bytes("secret")));

  struct Case {
    const char* method;
    int32_t object;
    std::function<std::string(int32_t)> call;
    std::function<bool(const std::string&)> works;
    std::string failure;  // what the method gives for a bad handle
  };
  const Case cases[] = {
      {"GetAttribute 1", certificate,
       [&](int32_t h) { return control_->GetAttribute(handle_, h, 1); },
       [&](const std::string& r) {
         return PemUnwrap(r) == testing::ReadFile(DataFile("rsa2048.cert.der"));
       },
       ""},
      {"GetAttribute 2", certificate,
       [&](int32_t h) { return control_->GetAttribute(handle_, h, 2); },
       [](const std::string& r) { return r == "01"; }, ""},
      {"GetAttribute 3", certificate,
       [&](int32_t h) { return control_->GetAttribute(handle_, h, 3); },
       [](const std::string& r) { return r == kRsa2048Serial; }, ""},
      {"Sign", private_key, [&](int32_t h) { return control_->Sign(handle_, h, 0, data); },
       [&](const std::string& r) {
         return testing::VerifiesWith(pem, Digest::kSha1, Bytes("Hello"), HexDecode(r));
       },
       ""},
      {"Verify", public_key,
       [&](int32_t h) { return std::to_string(control_->Verify(handle_, h, 0, data, signature)); },
       [](const std::string& r) { return r == "0"; }, std::to_string(kVerifyFailed)},
      {"Encrypt", public_key, [&](int32_t h) { return control_->Encrypt(handle_, h, 0, data); },
       [&](const std::string& r) {
         return testing::DecryptWith(KeyPath("rsa2048"), HexDecode(r)) == Bytes("Hello");
       },
       ""},
      {"Decrypt", private_key,
       [&](int32_t h) { return control_->Decrypt(handle_, h, 0, ciphertext); },
       [](const std::string& r) { return r == HexEncode(Bytes("secret")); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    tarvona_trace_clear();
    EXPECT_TRUE(c.works(c.call(c.object)));
    const CK_OBJECT_HANDLE large = TracedObject();
    EXPECT_GT(large, CK_OBJECT_HANDLE{UINT32_MAX});  // the module's own handle reached it
    // Neither the module's handle cut to 32 bits nor a stand-in never
    // handed out may reach any object.
    EXPECT_EQ(c.call(static_cast<int32_t>(static_cast<uint32_t>(large))), c.failure);
    EXPECT_EQ(c.call(kNeverHandedOut), c.failure);
  }

  // The by-serial road finds its keys without crossing to script.
  const std::string by_serial = control_->SignByCertSerial(handle_, kRsa2048Serial, 0, data);
  EXPECT_TRUE(testing::VerifiesWith(pem, Digest::kSha1, Bytes("Hello"), HexDecode(by_serial)));
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, data, by_serial), kOk);
}

TEST_F(LargeHandlesTest, StandInsAreStableDistinctAndNeverResultCodes) {
  tokens_.ImportKeyPair("alpha", "serial2a", {0x02});
  tokens_.ImportKeyPair("alpha", "rsa1024", {0x03});
  Connect();
  LogIn();
  const std::vector<int32_t> numbers = EnumerateAll();
  ASSERT_EQ(numbers.size(), 9u);
  EXPECT_EQ(std::set<int32_t>(numbers.begin(), numbers.end()).size(), numbers.size());
  const std::set<int32_t> result_codes = {0,    1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008,
                                          1009, 1010, 1011, 1301, 1302, 1303, 1304, 1305, 4001,
                                          4002, 4003, 4004, 4005, 4006, 4007, 4008, 5001};
  for (int32_t number : numbers) {
    EXPECT_FALSE(result_codes.contains(number)) << number;
    EXPECT_GE(number, static_cast<int32_t>(ObjectNumbers::kFirstStandIn)) << number;
  }
  EXPECT_EQ(EnumerateAll(), numbers);  // found again, the same numbers
}

TEST_F(LargeHandlesTest, StandInsAreForgottenWhenTheSessionCloses) {
  const std::pair<const char*, std::function<void()>> closers[] = {
      {"DisconnectToken, ConnectToken",
       [&] {
         ASSERT_EQ(control_->DisconnectToken(handle_), kOk);
         ASSERT_EQ(control_->ConnectToken(), handle_);
       }},
      {"ConnectToken again", [&] { ASSERT_EQ(control_->ConnectToken(), handle_); }},
  };
  for (const auto& [name, close] : closers) {
    SCOPED_TRACE(name);
    const int32_t certificate = control_->EnumCertificate(handle_, 0);
    const int32_t private_key = control_->EnumPrivateKey(handle_, 0);
    ASSERT_EQ(control_->GetAttribute(handle_, certificate, 2), "01");
    close();
    LogIn();
    EXPECT_EQ(control_->GetAttribute(handle_, certificate, 2), "");
    EXPECT_EQ(control_->Sign(handle_, private_key, 0, "00"), "");
    // Found again in the new session, the objects work again.
    EXPECT_EQ(control_->GetAttribute(handle_, control_->EnumCertificate(handle_, 0), 2), "01");
    EXPECT_EQ(control_->Sign(handle_, control_->EnumPrivateKey(handle_, 0), 0, "00").size(), 512u);
  }
}

}  // namespace
}  // namespace tarvona
