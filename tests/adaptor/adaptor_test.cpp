// The adaptor modules against SoftHSM: slot filtering, the slot-list
// contract, and sharing one backend between the two generations.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "adaptor/adaptor_core.h"
#include "tests/adaptor/adaptor_fixture.h"

namespace tarvona::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

CK_SESSION_HANDLE OpenSession(CK_FUNCTION_LIST* f, CK_SLOT_ID slot) {
  CK_SESSION_HANDLE session = 0;
  EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);
  return session;
}

CK_RV SessionState(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session) {
  CK_SESSION_INFO info;
  return f->C_GetSessionInfo(session, &info);
}

TEST_F(AdaptorTest, ModulesHandOutCompleteListsAndRefuseWorkBeforeInitialize) {
  for (LoadedModule* module : {&v4, &v5}) {
    CK_FUNCTION_LIST* list = module->list();
    EXPECT_EQ(list->version.major, 2);
    EXPECT_EQ(list->version.minor, 40);
    constexpr size_t kFirst = offsetof(CK_FUNCTION_LIST, C_Initialize);
    constexpr size_t kEntries = (sizeof(CK_FUNCTION_LIST) - kFirst) / sizeof(void*);
    static_assert(kEntries == 68);
    for (size_t i = 0; i < kEntries; ++i) {
      void* entry = nullptr;
      std::memcpy(&entry, reinterpret_cast<const char*>(list) + kFirst + i * sizeof(void*),
                  sizeof entry);
      EXPECT_NE(entry, nullptr) << "entry " << i;
    }
    CK_FUNCTION_LIST* again = nullptr;
    EXPECT_EQ(list->C_GetFunctionList(&again), CKR_OK);
    EXPECT_EQ(again, list);

    CK_INFO info;
    CK_ULONG count = 0;
    CK_BYTE signature[8];
    CK_ULONG signature_len = sizeof signature;
    EXPECT_EQ(list->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(list->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(list->C_Sign(1, signature, 1, signature, &signature_len),
              CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(list->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
  }
  EXPECT_NE(v4.list(), v5.list());

  for (auto [module, generation] : {std::pair{&v4, 4UL}, std::pair{&v5, 5UL}}) {
    const auto get_aux =
        reinterpret_cast<CK_RV (*)(void**)>(module->Symbol("E_GetAuxFunctionList"));
    ASSERT_NE(get_aux, nullptr);
    void* table = nullptr;
    EXPECT_EQ(get_aux(&table), 0UL);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(static_cast<tarvona_aux_function_list*>(table)->generation, generation);
  }
}

TEST_F(AdaptorTest, InitializeAndFinalizeFollowModuleRules) {
  tokens.AddToken("A");
  EXPECT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(v4->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  int reserved = 0;
  EXPECT_EQ(v4->C_Finalize(&reserved), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(v4->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(v4->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);

  CK_C_INITIALIZE_ARGS partial{};
  partial.CreateMutex = [](CK_VOID_PTR_PTR) -> CK_RV { return CKR_OK; };
  EXPECT_EQ(v4->C_Initialize(&partial), CKR_ARGUMENTS_BAD);
  CK_INFO info;
  EXPECT_EQ(v4->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);

  CK_C_INITIALIZE_ARGS os_locking{};
  os_locking.flags = CKF_OS_LOCKING_OK;
  EXPECT_EQ(v4->C_Initialize(&os_locking), CKR_OK);
  EXPECT_THAT(Labels(v4.list()), ElementsAre("A"));
}

TEST_F(AdaptorTest, LabelFiltersArePerGenerationAndTakenAtEachInitialize) {
  for (const char* label : {"A", "B", "C"}) tokens.AddToken(label);
  setenv("TARVONAV4_TOKENS", "A", 1);
  setenv("TARVONAV5_TOKENS", "B, C", 1);
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  ASSERT_EQ(v5->C_Initialize(nullptr), CKR_OK);
  EXPECT_THAT(Labels(v4.list()), ElementsAre("A"));
  EXPECT_THAT(Labels(v5.list()), UnorderedElementsAre("B", "C"));

  // Every slot-taking call refuses a slot the generation hides.
  const CK_SLOT_ID hidden = SlotOf(v5.list(), "B");
  CK_SLOT_INFO slot_info;
  CK_TOKEN_INFO token_info;
  CK_ULONG count = 0;
  CK_MECHANISM_INFO mechanism_info;
  CK_SESSION_HANDLE session = 0;
  EXPECT_EQ(v4->C_GetSlotInfo(hidden, &slot_info), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(v4->C_GetTokenInfo(hidden, &token_info), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(v4->C_GetMechanismList(hidden, nullptr, &count), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(v4->C_GetMechanismInfo(hidden, CKM_RSA_PKCS, &mechanism_info), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(v4->C_OpenSession(hidden, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
            CKR_SLOT_ID_INVALID);
  EXPECT_EQ(v4->C_CloseAllSessions(hidden), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(v5->C_GetTokenInfo(hidden, &token_info), CKR_OK);

  // Every C_Initialize takes the filter afresh, even one that finds the
  // generation running; until then it stays.
  setenv("TARVONAV4_TOKENS", "B", 1);
  EXPECT_THAT(Labels(v4.list()), ElementsAre("A"));
  EXPECT_EQ(v4->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_THAT(Labels(v4.list()), ElementsAre("B"));
  unsetenv("TARVONAV4_TOKENS");
  EXPECT_EQ(v4->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_THAT(Labels(v4.list()), UnorderedElementsAre("A", "B", "C"));
  EXPECT_THAT(Labels(v5.list()), UnorderedElementsAre("B", "C"));
}

TEST_F(AdaptorTest, SlotsWithoutAnInitialisedTokenAreHidden) {
  tokens.AddToken("A");
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  LoadedModule raw(SoftHsmModulePath());
  ASSERT_EQ(raw->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);

  const std::vector<CK_SLOT_ID> all = SlotList(raw.list());
  ASSERT_EQ(all.size(), 2u) << "SoftHSM shows the token and one free slot";
  const std::vector<CK_SLOT_ID> shown = SlotList(v4.list());
  ASSERT_EQ(shown.size(), 1u);
  const CK_SLOT_ID free_slot = all[0] == shown[0] ? all[1] : all[0];
  CK_TOKEN_INFO info;
  EXPECT_EQ(v4->C_GetTokenInfo(free_slot, &info), CKR_SLOT_ID_INVALID);

  CK_ULONG count = 0;
  EXPECT_EQ(v4->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
  EXPECT_EQ(count, 1u);

  // A token added while the module runs shows at once, and a new free slot
  // takes the old one's place.
  tokens.AddToken("B");
  EXPECT_THAT(Labels(v4.list()), UnorderedElementsAre("A", "B"));
  EXPECT_EQ(SlotList(raw.list()).size(), 3u);
}

TEST_F(AdaptorTest, SlotListKeepsTheBufferContractAfterFiltering) {
  for (int i = 0; i < 11; ++i) tokens.AddToken("T" + std::to_string(i));
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);

  CK_ULONG count = 0;
  EXPECT_EQ(v4->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
  EXPECT_EQ(count, 11u);

  CK_SLOT_ID slots[12];
  count = 10;  // the control's array
  EXPECT_EQ(v4->C_GetSlotList(CK_TRUE, slots, &count), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 11u);
  count = 12;
  EXPECT_EQ(v4->C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
  EXPECT_EQ(count, 11u);
  EXPECT_EQ(v4->C_GetSlotList(CK_TRUE, slots, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(AdaptorTest, GenerationsShareOneBackendUntilTheLastFinalize) {
  tokens.AddToken("A");
  tokens.AddToken("B");
  setenv("TARVONAV4_TOKENS", "A", 1);
  setenv("TARVONAV5_TOKENS", "B", 1);
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  ASSERT_EQ(v5->C_Initialize(nullptr), CKR_OK);
  const CK_SESSION_HANDLE s4 = OpenSession(v4.list(), SlotOf(v4.list(), "A"));
  const CK_SESSION_HANDLE s5 = OpenSession(v5.list(), SlotOf(v5.list(), "B"));

  ASSERT_EQ(v4->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(SessionState(v5.list(), s5), CKR_OK);
  EXPECT_EQ(SessionState(v5.list(), s4), CKR_SESSION_HANDLE_INVALID)
      << "v4's finalize closes the sessions v4 opened";

  ASSERT_EQ(v5->C_Finalize(nullptr), CKR_OK);
  {
    LoadedModule raw(SoftHsmModulePath());
    EXPECT_EQ(raw->C_Initialize(nullptr), CKR_OK) << "the last finalize finalises SoftHSM";
    raw->C_Finalize(nullptr);
  }

  // A fresh initialisation reads the configuration of the moment.
  SoftHsmTokens other;
  other.AddToken("C");
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  EXPECT_THAT(Labels(v4.list()), ElementsAre("C"));
  EXPECT_EQ(v4->C_Finalize(nullptr), CKR_OK);
}

TEST_F(AdaptorTest, ClosingSessionsNeverTouchesTheOtherGeneration) {
  tokens.AddToken("A");
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  ASSERT_EQ(v5->C_Initialize(nullptr), CKR_OK);
  const CK_SLOT_ID slot = SlotOf(v4.list(), "A");

  const CK_SESSION_HANDLE s5 = OpenSession(v5.list(), slot);
  const CK_SESSION_HANDLE s4 = OpenSession(v4.list(), slot);
  EXPECT_EQ(v4->C_CloseAllSessions(slot), CKR_OK);
  EXPECT_EQ(SessionState(v5.list(), s4), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(SessionState(v5.list(), s5), CKR_OK);

  const CK_SESSION_HANDLE closed_alone = OpenSession(v4.list(), slot);
  EXPECT_EQ(v4->C_CloseSession(closed_alone), CKR_OK);
  EXPECT_EQ(SessionState(v4.list(), closed_alone), CKR_SESSION_HANDLE_INVALID);
  const CK_SESSION_HANDLE kept = OpenSession(v4.list(), slot);
  ASSERT_EQ(v4->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(SessionState(v5.list(), kept), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(SessionState(v5.list(), s5), CKR_OK);
}

TEST_F(AdaptorTest, BackendInitialisedElsewhereIsLeftRunning) {
  tokens.AddToken("A");
  LoadedModule raw(SoftHsmModulePath());
  ASSERT_EQ(raw->C_Initialize(nullptr), CKR_OK);
  const CK_SESSION_HANDLE own = OpenSession(raw.list(), SlotOf(raw.list(), "A"));

  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  EXPECT_THAT(Labels(v4.list()), ElementsAre("A"));
  ASSERT_EQ(v4->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(SessionState(raw.list(), own), CKR_OK);
  EXPECT_EQ(raw->C_Finalize(nullptr), CKR_OK);
}

TEST_F(AdaptorTest, ModuleChoiceFollowsTheEnvironment) {
  tokens.AddToken("A");
  setenv("TARVONAV4_PKCS11_MODULE", "/nonexistent/libnothing.so", 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(v4->C_Initialize(nullptr), CKR_GENERAL_ERROR);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              HasSubstr("Tarvonav4.dll: /nonexistent/libnothing.so"));
  ASSERT_EQ(v5->C_Initialize(nullptr), CKR_OK) << "v5 still takes TARVONA_PKCS11_MODULE";

  unsetenv("TARVONAV4_PKCS11_MODULE");
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK) << "a failed initialize leaves nothing behind";
  ASSERT_EQ(v4->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(v5->C_Finalize(nullptr), CKR_OK);

  // Without any module variable: p11-kit's proxy, which reaches SoftHSM
  // through the system module registry.
  unsetenv("TARVONA_PKCS11_MODULE");
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  CK_INFO info;
  ASSERT_EQ(v4->C_GetInfo(&info), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.manufacturerID), 7), "PKCS#11");
}

}  // namespace
}  // namespace tarvona::testing
