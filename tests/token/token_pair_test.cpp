#include "token/token_pair.h"

#include <algorithm>
#include <array>
#include <string>

#include "adaptor/adaptor_core.h"
#include "common/result_code.h"
#include "testing/token_test_base.h"

namespace tarvona {
namespace {

using testing::DirectoryLoader;
using testing::FaultModulesDir;
using testing::TokenTest;

class TokenPairTest : public TokenTest {};

std::string SerialOf(CCryptokiModule& module) {
  std::array<char, CCryptokiModule::kSerialSize> serial{};
  EXPECT_EQ(module.RetrieveSerial(serial), kOk);
  return std::string(serial.data(), serial.size());
}

TEST_F(TokenPairTest, ConnectsThroughTheFirstModuleWhenItShowsAToken) {
  std::string serial = tokens_.AddToken("alpha");
  CTokenPair pair(loader_);
  EXPECT_EQ(pair.Connect(), kOk);
  EXPECT_EQ(pair.active_index(), 0);
  ASSERT_NE(pair.ActiveModule(), nullptr);
  EXPECT_NE(pair.ActiveModule()->session(), 0u);
  EXPECT_EQ(SerialOf(*pair.ActiveModule()), serial);

  auto opens = TracedEntries("C_OpenSession");
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].generation, 4);
  EXPECT_EQ(opens[0].flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
}

TEST_F(TokenPairTest, FallsBackToTheSecondModuleAndReturnsToTheFirst) {
  tokens_.AddToken("alpha");
  ShowTokens("nothing-here", "alpha");
  CTokenPair pair(loader_);
  EXPECT_EQ(pair.Connect(), kOk);
  EXPECT_EQ(pair.active_index(), 1);

  // The first module is always tried first, whatever is active.
  ShowTokens("alpha", "alpha");
  CTokenPair again(loader_);
  EXPECT_EQ(again.Connect(), kOk);
  EXPECT_EQ(again.active_index(), 0);
}

TEST_F(TokenPairTest, SecondModuleAloneWhenTheFirstFileIsMissing) {
  tokens_.AddToken("alpha");
  loader_.Without(CTokenPair::kFirstModuleFile);
  CTokenPair pair(loader_);
  EXPECT_EQ(pair.Connect(), kOk);
  EXPECT_EQ(pair.active_index(), 1);
}

TEST_F(TokenPairTest, ReportsMissingFilesUnreadyModulesAndAbsentTokens) {
  tokens_.AddToken("alpha");
  {
    DirectoryLoader none(FaultModulesDir());
    none.Without(CTokenPair::kFirstModuleFile).Without(CTokenPair::kSecondModuleFile);
    CTokenPair pair(none);
    EXPECT_EQ(pair.Connect(), kModuleNotLoaded);
    EXPECT_EQ(pair.Connect(), kModuleNotLoaded);  // retried, still missing
    EXPECT_EQ(pair.active_index(), -1);
  }
  {
    DirectoryLoader no_aux(FaultModulesDir());
    no_aux.Hiding("E_GetAuxFunctionList");
    CTokenPair pair(no_aux);
    EXPECT_EQ(pair.Connect(), kModuleNotReady);
  }
  {
    ShowTokens("nothing-here", "nothing-here");
    CTokenPair pair(loader_);
    EXPECT_EQ(pair.Connect(), kNoToken);
    // A missing file on one side and no token on the other is still 1003.
    DirectoryLoader half(FaultModulesDir());
    half.Without(CTokenPair::kSecondModuleFile);
    CTokenPair other(half);
    EXPECT_EQ(other.Connect(), kNoToken);
  }
}

TEST_F(TokenPairTest, ModuleWhoseInitializeFailsIsRetriedByTheNextScan) {
  tokens_.AddToken("alpha");
  tarvona_fault_inject(4, "C_Initialize", CKR_DEVICE_ERROR, 1, 1);
  CTokenPair pair(loader_);  // the first module fails to start here
  EXPECT_EQ(pair.Connect(), kOk);
  EXPECT_EQ(pair.active_index(), 0);  // loaded again by the scan
}

TEST_F(TokenPairTest, NullFunctionListIsRefused) {
  tarvona_fault_inject(4, "C_GetFunctionList", CKR_OK, 1, 0);
  CCryptokiModule module(loader_);
  EXPECT_EQ(module.Load(CTokenPair::kFirstModuleFile), kModuleNotReady);
  EXPECT_FALSE(module.IsReady());
  EXPECT_EQ(module.Disconnect(), kModuleNotReady);
}

TEST_F(TokenPairTest, SessionOperationsNeverLoadTheModule) {
  DirectoryLoader none(FaultModulesDir());
  none.Without(CTokenPair::kFirstModuleFile);
  CCryptokiModule module(none);
  EXPECT_EQ(module.Disconnect(), kModuleNotReady);
  module.Unload();  // nothing loaded: nothing to do
  EXPECT_EQ(module.Load(CTokenPair::kFirstModuleFile), kModuleNotLoaded);
}

TEST_F(TokenPairTest, TokensWhoseInfoOrSessionFailsAreSkippedOrRefused) {
  tokens_.AddToken("alpha");
  {
    tarvona_fault_inject(4, "C_GetTokenInfo", CKR_DEVICE_ERROR, 1, 0);
    CTokenPair pair(loader_);
    EXPECT_EQ(pair.Connect(), kOk);  // invisible to the first, found by the second
    EXPECT_EQ(pair.active_index(), 1);
    std::array<char, CCryptokiModule::kSerialSize> serial{};
    CCryptokiModule first(loader_);
    ASSERT_EQ(first.Load(CTokenPair::kFirstModuleFile), kOk);
    EXPECT_EQ(first.RetrieveSerial(serial), kNoToken);
    std::string list = "kept";
    EXPECT_EQ(first.RetrieveAllSerials(list), kNoToken);
    EXPECT_EQ(list, "kept");
  }
  tarvona_faults_reset();
  {
    tarvona_fault_inject(4, "C_OpenSession", CKR_DEVICE_ERROR, 1, 0);
    CTokenPair pair(loader_);
    EXPECT_EQ(pair.Connect(), kOk);
    EXPECT_EQ(pair.active_index(), 1);
  }
}

TEST_F(TokenPairTest, MoreThanTenTokensMakeTheScansFail) {
  for (int i = 0; i < 11; ++i) tokens_.AddToken("many" + std::to_string(i));
  CTokenPair pair(loader_);
  EXPECT_EQ(pair.Connect(), kNoToken);
  EXPECT_EQ(pair.RetrieveAllTokenSerials(), "");
}

TEST_F(TokenPairTest, SerialListsJoinBothModulesAndKeepDuplicates) {
  std::string a = tokens_.AddToken("alpha");
  std::string b = tokens_.AddToken("beta");
  std::string c = tokens_.AddToken("gamma");
  ShowTokens("alpha,beta", "gamma");
  CTokenPair pair(loader_);
  std::string list = pair.RetrieveAllTokenSerials();
  ASSERT_EQ(list.size(), 3 * 16 + 2u);
  std::string first_two = list.substr(0, 33);
  EXPECT_TRUE(first_two == a + "," + b || first_two == b + "," + a) << list;
  EXPECT_EQ(list.substr(33), "," + c);
  EXPECT_EQ(pair.active_index(), -1);  // no session opened or used

  ShowTokens("nothing-here", "gamma");
  CTokenPair second_only(loader_);
  EXPECT_EQ(second_only.RetrieveAllTokenSerials(), c);  // no leading separator

  ShowTokens("gamma", "gamma");
  CTokenPair both(loader_);
  EXPECT_EQ(both.RetrieveAllTokenSerials(), c + "," + c);
}

TEST_F(TokenPairTest, ShortSerialsKeepTheirBlanksAndANulEndsAListEntry) {
  tokens_.AddToken("alpha");
  const unsigned char padded[16] = {'A', 'B', 'C', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  tarvona_fault_token_info(4, "alpha", padded, 0, 0);
  const unsigned char nul_inside[16] = {'X', 'Y', 0, 'Z', 'Z', 'Z', 'Z', 'Z',
                                        'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};
  tarvona_fault_token_info(5, "alpha", nul_inside, 0, 0);
  CTokenPair pair(loader_);
  ASSERT_EQ(pair.Connect(), kOk);
  EXPECT_EQ(SerialOf(*pair.ActiveModule()), "ABC             ");
  EXPECT_EQ(pair.RetrieveAllTokenSerials(), "ABC             ,XY");
}

TEST_F(TokenPairTest, DisconnectClosesTheSessionAndOnlyOnce) {
  tokens_.AddToken("alpha");
  CTokenPair pair(loader_);
  EXPECT_EQ(pair.Disconnect(), kNotConnected);
  ASSERT_EQ(pair.Connect(), kOk);
  CK_SESSION_HANDLE session = pair.ActiveModule()->session();
  EXPECT_EQ(pair.Disconnect(), kOk);
  EXPECT_EQ(pair.active_index(), -1);
  EXPECT_EQ(pair.Disconnect(), kNotConnected);
  auto closes = TracedEntries("C_CloseSession");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].session, session);
}

TEST_F(TokenPairTest, ReconnectingKeepsOneSessionOpen) {
  tokens_.AddToken("alpha");
  CTokenPair pair(loader_);
  ASSERT_EQ(pair.Connect(), kOk);
  CK_SESSION_HANDLE first = pair.ActiveModule()->session();
  ASSERT_EQ(pair.Connect(), kOk);
  auto closes = TracedEntries("C_CloseSession");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].session, first);
  EXPECT_NE(pair.ActiveModule()->session(), 0u);
}

TEST_F(TokenPairTest, ASessionEndedByUnloadIsNeverClosedAgain) {
  tokens_.AddToken("alpha");
  CCryptokiModule module(loader_);
  ASSERT_EQ(module.Load(CTokenPair::kFirstModuleFile), kOk);
  ASSERT_EQ(module.Connect(), kOk);
  module.Unload();  // finalised: the module may hand out the same number again
  ASSERT_EQ(module.Connect(), kOk);
  EXPECT_TRUE(TracedEntries("C_CloseSession").empty());
  EXPECT_EQ(module.Login(false, testing::kUserPin), kOk);  // the new session is alive
}

TEST_F(TokenPairTest, AModuleAnotherComponentStartedIsNeverFinalised) {
  tokens_.AddToken("alpha");
  // Another user of the same module in the process initialises it first.
  CK_FUNCTION_LIST_PTR other = nullptr;
  ASSERT_EQ(tarvona_adaptor_get_function_list(4, &other), CKR_OK);
  ASSERT_EQ(other->C_Initialize(nullptr), CKR_OK);
  {
    CCryptokiModule module(loader_);
    ASSERT_EQ(module.Load(CTokenPair::kFirstModuleFile), kOk);
    ASSERT_EQ(module.Connect(), kOk);
  }
  EXPECT_TRUE(TracedEntries("C_Finalize").empty());
  EXPECT_EQ(TracedEntries("C_CloseSession").size(), 1u);  // its own session only
  CK_ULONG slots = 0;
  EXPECT_EQ(other->C_GetSlotList(CK_TRUE, nullptr, &slots), CKR_OK);
  EXPECT_EQ(other->C_Finalize(nullptr), CKR_OK);
}

TEST_F(TokenPairTest, UnloadingOneOfTwoBindingsLeavesTheOtherWorking) {
  std::string serial = tokens_.AddToken("alpha");
  auto first = std::make_unique<CTokenPair>(loader_);
  CTokenPair second(loader_);
  ASSERT_EQ(first->Connect(), kOk);
  ASSERT_EQ(second.Connect(), kOk);
  first.reset();
  EXPECT_TRUE(TracedEntries("C_Finalize").empty());
  // The second pair's session survives the first pair's end.
  tarvona_trace_clear();
  EXPECT_EQ(SerialOf(*second.ActiveModule()), serial);
  EXPECT_EQ(second.Disconnect(), kOk);
  auto closes = TracedEntries("C_CloseSession");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].rv, CKR_OK);
}

}  // namespace
}  // namespace tarvona
