#include <string>

#include "testing/token_road_fixture.h"

namespace tarvona {
namespace {

using testing::kSoPin;
using testing::kUserPin;

class PinMethodsTest : public testing::TokenRoadTest {
 protected:
  // Private keys are shown only to a logged-in user.
  bool LoggedIn() { return control_->EnumPrivateKey(handle_, 0) != kObjectNotFound; }
};

TEST_F(PinMethodsTest, LoginAndLogoutMapTheTokensAnswers) {
  EXPECT_EQ(control_->Login(handle_, "0000"), kPinIncorrect);
  EXPECT_EQ(control_->Login(handle_, kUserPin), kOk);
  EXPECT_EQ(control_->Login(handle_, kUserPin), kOk);  // already logged in
  EXPECT_TRUE(LoggedIn());
  EXPECT_EQ(control_->Logout(handle_), kOk);
  EXPECT_FALSE(LoggedIn());

  auto logins = TracedEntries("C_Login");
  ASSERT_FALSE(logins.empty());
  EXPECT_EQ(logins.back().user_type, CKU_USER);
  EXPECT_EQ(logins.back().length, 4u);  // the PIN's bytes, no terminator
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(logins.back().bytes), 4), kUserPin);

  struct Case {
    const char* function;
    CK_RV rv;
    int32_t expected;
  };
  for (const Case& c : {Case{"C_Login", CKR_PIN_LOCKED, kPinLocked},
                        Case{"C_Login", CKR_USER_ANOTHER_ALREADY_LOGGED_IN, kAnotherUserLoggedIn},
                        Case{"C_Login", CKR_DEVICE_ERROR, kLoginFailed},
                        Case{"C_Logout", CKR_USER_NOT_LOGGED_IN, kUserNotLoggedIn},
                        Case{"C_Logout", CKR_DEVICE_ERROR, kLogoutFailed}}) {
    tarvona_faults_reset();
    tarvona_fault_inject(0, c.function, c.rv, 1, 0);
    int32_t rc = std::string(c.function) == "C_Login" ? control_->Login(handle_, kUserPin)
                                                       : control_->Logout(handle_);
    EXPECT_EQ(rc, c.expected) << c.function << " " << c.rv;
  }
}

TEST_F(PinMethodsTest, EmptyPinGoesToTheTokenAsZeroBytes) {
  EXPECT_EQ(control_->Login(handle_, ""), kPinIncorrect);
  auto logins = TracedEntries("C_Login");
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].length, 0u);
}

TEST_F(PinMethodsTest, ChangeUserPinLogsOutAndChecksTheOldPinFirst) {
  LogIn();
  tarvona_trace_clear();
  EXPECT_EQ(control_->ChangeUserPin(handle_, "0000", "4321"), kPinIncorrect);
  EXPECT_TRUE(TracedEntries("C_SetPIN").empty());
  EXPECT_FALSE(LoggedIn());

  EXPECT_EQ(control_->ChangeUserPin(handle_, kUserPin, "4321"), kOk);
  EXPECT_FALSE(LoggedIn());
  EXPECT_EQ(control_->Login(handle_, kUserPin), kPinIncorrect);
  EXPECT_EQ(control_->Login(handle_, "4321"), kOk);

  tarvona_fault_inject(0, "C_SetPIN", CKR_PIN_LEN_RANGE, 1, 0);
  EXPECT_EQ(control_->ChangeUserPin(handle_, "4321", "1"), kSetPinFailed);
  EXPECT_FALSE(LoggedIn());
}

TEST_F(PinMethodsTest, ChangeSoPinAndUnblockUserPinWorkAsTheSecurityOfficer) {
  LogIn();  // the user is logged out first, so the officer can log in
  EXPECT_EQ(control_->ChangeSOPin(handle_, kSoPin, "87654321"), kOk);
  auto set_pins = TracedEntries("C_SetPIN");
  ASSERT_EQ(set_pins.size(), 1u);
  EXPECT_EQ(set_pins[0].length, 4u);
  EXPECT_EQ(set_pins[0].length2, 8u);
  EXPECT_EQ(control_->UnblockUserPin(handle_, kSoPin, "2468"), kPinIncorrect);

  EXPECT_EQ(control_->UnblockUserPin(handle_, "87654321", "2468"), kOk);
  EXPECT_FALSE(LoggedIn());
  EXPECT_EQ(control_->Login(handle_, kUserPin), kPinIncorrect);
  EXPECT_EQ(control_->Login(handle_, "2468"), kOk);

  tarvona_fault_inject(0, "C_InitPIN", CKR_PIN_INVALID, 1, 0);
  EXPECT_EQ(control_->UnblockUserPin(handle_, "87654321", "x"), kInitPinFailed);
  EXPECT_FALSE(LoggedIn());
}

TEST_F(PinMethodsTest, TokenInitializeWipesTheTokenAndLeavesNoSession) {
  LogIn();
  EXPECT_EQ(control_->TokenInitialize(handle_, kSoPin, "9999", "fresh"), kOk);
  auto inits = TracedEntries("C_InitToken");
  ASSERT_EQ(inits.size(), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(inits[0].bytes), 32),
            "fresh                           ");
  // SoftHSM refuses C_InitToken while a session is open: all were closed.
  EXPECT_EQ(inits[0].rv, CKR_OK);

  EXPECT_EQ(control_->Login(handle_, "9999"), kModuleNotReady);
  EXPECT_EQ(control_->RetrieveSerial(handle_), serial_);  // slot scans still work
  ASSERT_EQ(control_->ConnectToken(), handle_);
  EXPECT_EQ(control_->Login(handle_, kUserPin), kPinIncorrect);
  EXPECT_EQ(control_->Login(handle_, "9999"), kOk);
  EXPECT_EQ(control_->EnumCertificate(handle_, 0), kObjectNotFound);  // objects are gone
}

TEST_F(PinMethodsTest, TokenInitializeCutsLongNamesAndReportsEachFailure) {
  const std::string long_name(40, 'n');
  EXPECT_EQ(control_->TokenInitialize(handle_, "wrong", "9999", long_name), kPinIncorrect);
  auto inits = TracedEntries("C_InitToken");
  ASSERT_EQ(inits.size(), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(inits[0].bytes), 32), std::string(32, 'n'));
  // The slot's sessions were closed: the next call must not use a dead one.
  EXPECT_EQ(control_->Login(handle_, kUserPin), kModuleNotReady);

  ASSERT_EQ(control_->ConnectToken(), handle_);
  tarvona_fault_inject(0, "C_InitPIN", CKR_DEVICE_ERROR, 1, 0);
  EXPECT_EQ(control_->TokenInitialize(handle_, kSoPin, "9999", ""), kTokenInitFailed);
  EXPECT_EQ(control_->Logout(handle_), kModuleNotReady);

  ASSERT_EQ(control_->ConnectToken(), handle_);
  tarvona_faults_reset();
  tarvona_fault_inject(0, "C_OpenSession", CKR_DEVICE_ERROR, 1, 0);
  EXPECT_EQ(control_->TokenInitialize(handle_, kSoPin, "9999", ""), kTokenInitFailed);
}

TEST_F(PinMethodsTest, VerifyCertCrlAnswersOneWithoutLookingAtAnything) {
  EXPECT_EQ(control_->VerifyCertCRL(handle_ + 1, 0, ""), 1);
  EXPECT_EQ(control_->VerifyCertCRL(0, 99, "garbage"), 1);
}

}  // namespace
}  // namespace tarvona
