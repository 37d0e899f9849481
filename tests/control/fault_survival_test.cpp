#include <string>
#include <vector>

#include "testing/automation_arguments.h"
#include "control/method_table.h"
#include "testing/token_road_fixture.h"

namespace tarvona {
namespace {

using Variant = Value;

// Every Cryptoki function the control calls once it has a session.
constexpr const char* kSessionFunctions[] = {
    "C_GetSlotList",  "C_GetTokenInfo",    "C_OpenSession",  "C_CloseSession",
    "C_CloseAllSessions", "C_InitToken",   "C_Login",        "C_Logout",
    "C_SetPIN",       "C_InitPIN",         "C_FindObjectsInit", "C_FindObjects",
    "C_FindObjectsFinal", "C_GetAttributeValue", "C_DigestInit", "C_Digest",
    "C_SignInit",     "C_Sign",            "C_VerifyInit",   "C_Verify",
    "C_EncryptInit",  "C_Encrypt",         "C_DecryptInit",  "C_Decrypt",
};

class FaultSurvivalTest : public testing::TokenRoadTest,
                          public ::testing::WithParamInterface<CK_RV> {};

// A token pulled out mid-session: whatever the module answers, every method
// gives its failure form, and the control works again once the token is back.
TEST_P(FaultSurvivalTest, EveryMethodFailsCleanlyAndTheControlRecovers) {
  LogIn();
  int32_t key = control_->EnumPrivateKey(handle_, 0);
  for (const char* function : kSessionFunctions) tarvona_fault_inject(0, function, GetParam(), 1, 0);

  const std::string hex = "00112233";
  for (const MethodInfo& method : MethodTable()) {
    if (method.name == "DisconnectToken" || method.name == "TokenInitialize") continue;
    std::vector<Variant> args;
    for (const ParamInfo& param : method.params) {
      if (param.type == ValueType::kBstr) {
        args.emplace_back(param.name == "certserial" ? std::string(kRsa2048Serial) : hex);
      } else if (param.name == "SessionID") {
        args.emplace_back(handle_);
      } else if (param.name == "lngKey" || param.name == "lngObject") {
        args.emplace_back(key);
      } else if (param.type == ValueType::kI2) {
        args.emplace_back(int16_t{0});
      } else {
        args.emplace_back(method.name == "GetAttribute" ? int32_t{1} : int32_t{0});
      }
    }
    Variant result;
    ASSERT_EQ(Invoke(*control_, method.dispid, args, result, testing::ConvertArgument), CallStatus::kOk)
        << method.name;
    if (method.name.find("CSP") != std::string_view::npos) continue;  // not the token road
    if (const auto* code = std::get_if<int32_t>(&result)) {
      EXPECT_NE(*code, 0) << method.name;
    } else {
      const auto& text = std::get<std::string>(result);
      EXPECT_TRUE(text.empty() || text.find_first_not_of("0123456789") == std::string::npos)
          << method.name << " gave " << text;
    }
  }
  EXPECT_EQ(control_->TokenInitialize(handle_, testing::kSoPin, "1", "x"), kPinIncorrect);

  tarvona_faults_reset();  // the token is back
  EXPECT_EQ(control_->ConnectToken(), handle_);
  LogIn();
  EXPECT_EQ(control_->SignByCertSerial(handle_, kRsa2048Serial, 0, hex).size(), 512u);
  EXPECT_EQ(control_->DisconnectToken(handle_), kOk);
}

INSTANTIATE_TEST_SUITE_P(RemovedToken, FaultSurvivalTest,
                         ::testing::Values(CKR_DEVICE_REMOVED, CKR_SESSION_HANDLE_INVALID,
                                           CKR_TOKEN_NOT_PRESENT));

}  // namespace
}  // namespace tarvona
