#include <string>
#include <vector>

#include "testing/automation_arguments.h"
#include "control/method_table.h"
#include "testing/token_road_fixture.h"

namespace tarvona {
namespace {

using Variant = Value;

// Script's own road, call by call through the dispatch layer by name.
class TypicalRoadTest : public testing::TokenTest {
 protected:
  Variant Call(std::string_view name, std::vector<Variant> args) {
    const MethodInfo* method = FindMethod(name);
    EXPECT_NE(method, nullptr) << name;
    Variant result;
    EXPECT_EQ(Invoke(*control_, method->dispid, args, result, testing::ConvertArgument),
              CallStatus::kOk)
        << name;
    return result;
  }

  std::unique_ptr<CTarvonaActiveXCtrl> control_;
};

TEST_F(TypicalRoadTest, SignsAndVerifiesByCertificateSerial) {
  tokens_.AddToken("alpha");
  tokens_.ImportKeyPair("alpha", "rsa2048", {0x01});
  control_ = std::make_unique<CTarvonaActiveXCtrl>(loader_, testing::NoStore(), testing::NoStore());

  int32_t handle = std::get<int32_t>(Call("ConnectToken", {}));
  EXPECT_EQ(Call("Login", {handle, std::string(testing::kUserPin)}), Variant(int32_t{0}));
  int32_t cert = std::get<int32_t>(Call("EnumCertificate", {handle, int32_t{0}}));
  std::string pem = std::get<std::string>(Call("GetAttribute", {handle, cert, int32_t{1}}));
  EXPECT_EQ(Call("GetAttribute", {handle, cert, int32_t{2}}), Variant(std::string("01")));
  std::string serial = std::get<std::string>(Call("GetAttribute", {handle, cert, int32_t{3}}));
  EXPECT_EQ(serial, "00C0FFEE01");

  std::string data = HexEncode(testing::Bytes("pay 100 to Bob"));
  std::string signature =
      std::get<std::string>(Call("SignByCertSerial", {handle, serial, int32_t{0}, data}));
  EXPECT_TRUE(testing::VerifiesWith(pem, testing::Digest::kSha1, testing::Bytes("pay 100 to Bob"),
                                    HexDecode(signature)));
  EXPECT_EQ(Call("VerifyByCertSerial", {handle, serial, int32_t{0}, data, signature}),
            Variant(int32_t{0}));
  EXPECT_EQ(Call("DisconnectToken", {handle}), Variant(int32_t{0}));
  EXPECT_EQ(Call("DisconnectToken", {handle}), Variant(int32_t{kNotConnected}));
}

}  // namespace
}  // namespace tarvona
