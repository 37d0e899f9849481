#include <string>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "testing/no_store.h"
#include "testing/token_test_base.h"

namespace tarvona {
namespace {

using testing::DirectoryLoader;
using testing::FaultModulesDir;
using testing::TokenTest;

class ConnectionMethodsTest : public TokenTest {};

TEST_F(ConnectionMethodsTest, ConnectTokenReportsWhyItCannotConnect) {
  {
    DirectoryLoader none(FaultModulesDir());
    none.Without("Tarvonav4.dll").Without("Tarvonav5.dll");
    CTarvonaActiveXCtrl control(none, testing::NoStore(), testing::NoStore());
    EXPECT_EQ(control.ConnectToken(), kModuleNotLoaded);
  }
  CTarvonaActiveXCtrl control(loader_, testing::NoStore(), testing::NoStore());
  EXPECT_EQ(control.ConnectToken(), kNoToken);
}

TEST_F(ConnectionMethodsTest, SessionHandleIsFixedPerObjectAndDistinctBetweenObjects) {
  tokens_.AddToken("alpha");
  CTarvonaActiveXCtrl first(loader_, testing::NoStore(), testing::NoStore());
  CTarvonaActiveXCtrl second(loader_, testing::NoStore(), testing::NoStore());
  int32_t handle = first.ConnectToken();
  EXPECT_GE(handle, 0x10000);  // never 0 nor a result code
  EXPECT_EQ(first.ConnectToken(), handle);
  int32_t other = second.ConnectToken();
  EXPECT_GE(other, 0x10000);
  EXPECT_NE(other, handle);

  // Another object's handle fails the session check in every result form.
  EXPECT_EQ(first.DisconnectToken(other), kModuleNotReady);
  EXPECT_EQ(first.RetrieveSerial(other), "1002");
  EXPECT_EQ(first.RetrieveAllTokenSerial(other), "1002");
  EXPECT_EQ(first.GetAttribute(other, 1, 1), "");
  EXPECT_EQ(first.Login(other, "1234"), kModuleNotReady);
}

TEST_F(ConnectionMethodsTest, DisconnectTokenChecksTheHandleThenTheConnection) {
  tokens_.AddToken("alpha");
  CTarvonaActiveXCtrl control(loader_, testing::NoStore(), testing::NoStore());
  int32_t handle = control.session_handle();
  EXPECT_EQ(control.DisconnectToken(handle + 1), kModuleNotReady);  // nothing connected either
  EXPECT_EQ(control.DisconnectToken(handle), kNotConnected);
  ASSERT_EQ(control.ConnectToken(), handle);
  EXPECT_EQ(control.DisconnectToken(handle), kOk);
  EXPECT_EQ(control.DisconnectToken(handle), kNotConnected);
}

TEST_F(ConnectionMethodsTest, RetrieveSerialNeedsAConnectionAndReportsCodesInDecimal) {
  std::string serial = tokens_.AddToken("alpha");
  CTarvonaActiveXCtrl control(loader_, testing::NoStore(), testing::NoStore());
  EXPECT_EQ(control.RetrieveSerial(control.session_handle()), "1002");
  int32_t handle = control.ConnectToken();
  EXPECT_EQ(control.RetrieveSerial(handle), serial);
  EXPECT_EQ(control.RetrieveSerial(handle).size(), 16u);

  tarvona_fault_inject(0, "C_GetSlotList", CKR_DEVICE_REMOVED, 1, 0);
  EXPECT_EQ(control.RetrieveSerial(handle), "1003");
}

TEST_F(ConnectionMethodsTest, RetrieveAllTokenSerialWorksWithoutAConnection) {
  std::string serial = tokens_.AddToken("alpha");
  CTarvonaActiveXCtrl control(loader_, testing::NoStore(), testing::NoStore());
  int32_t handle = control.ConnectToken();
  ASSERT_EQ(control.DisconnectToken(handle), kOk);
  EXPECT_EQ(control.RetrieveAllTokenSerial(handle), serial + "," + serial);

  ShowTokens("nothing-here", "nothing-here");
  CTarvonaActiveXCtrl empty(loader_, testing::NoStore(), testing::NoStore());
  EXPECT_EQ(empty.RetrieveAllTokenSerial(empty.session_handle()), "1002");  // not "1003"
}

TEST_F(ConnectionMethodsTest, VerifyCertCrlAlwaysAnswersOne) {
  CTarvonaActiveXCtrl control(loader_, testing::NoStore(), testing::NoStore());
  EXPECT_EQ(control.VerifyCertCRL(0, 0, ""), 1);
  EXPECT_EQ(control.VerifyCertCRL(control.session_handle(), 4, "/no/such/file"), 1);
}

TEST_F(ConnectionMethodsTest, DestroyingTheControlUnloadsBothModules) {
  tokens_.AddToken("alpha");
  {
    CTarvonaActiveXCtrl control(loader_, testing::NoStore(), testing::NoStore());
    ASSERT_GT(control.ConnectToken(), 0);
  }
  auto finalizes = TracedEntries("C_Finalize");
  ASSERT_EQ(finalizes.size(), 2u);
  EXPECT_EQ(finalizes[0].generation, 4);
  EXPECT_EQ(finalizes[1].generation, 5);
}

}  // namespace
}  // namespace tarvona
