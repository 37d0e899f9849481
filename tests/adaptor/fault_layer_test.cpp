// The test build's fault injection, token-info overrides and trace, driven
// through the same library the loaded modules use.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/adaptor/adaptor_fixture.h"

namespace tarvona::testing {
namespace {

std::vector<CK_RV> GetInfoResults(CK_FUNCTION_LIST* f, int calls) {
  std::vector<CK_RV> results;
  CK_INFO info;
  for (int i = 0; i < calls; ++i) results.push_back(f->C_GetInfo(&info));
  return results;
}

std::vector<tarvona_trace_entry> Trace() {
  std::vector<tarvona_trace_entry> entries(tarvona_trace_count());
  for (unsigned long i = 0; i < entries.size(); ++i)
    EXPECT_EQ(tarvona_trace_get(i, &entries[i]), 1);
  return entries;
}

// The first traced call of `function`.
std::optional<tarvona_trace_entry> Traced(const char* function) {
  for (const auto& entry : Trace()) {
    if (std::strcmp(entry.function, function) == 0) return entry;
  }
  return std::nullopt;
}

std::string BytesOf(const tarvona_trace_entry& entry) {
  return {reinterpret_cast<const char*>(entry.bytes), entry.bytes_len};
}

constexpr CK_RV kOk = CKR_OK, kFault = CKR_DEVICE_ERROR;

TEST_F(AdaptorTest, InjectedFaultsHitTheirWindowOnly) {
  tokens.AddToken("A");
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  ASSERT_EQ(v5->C_Initialize(nullptr), CKR_OK);
  GetInfoResults(v4.list(), 3);  // calls before the fault do not count

  tarvona_fault_inject(4, "C_GetInfo", kFault, 2, 2);
  EXPECT_EQ(GetInfoResults(v4.list(), 5), (std::vector{kOk, kFault, kFault, kOk, kOk}));
  EXPECT_EQ(GetInfoResults(v5.list(), 2), (std::vector{kOk, kOk}));

  // A later fault replaces the earlier one and counts afresh; generation 0
  // and count 0 mean both generations, for ever.
  tarvona_fault_inject(0, "C_GetInfo", CKR_HOST_MEMORY, 1, 0);
  EXPECT_EQ(GetInfoResults(v4.list(), 3), std::vector<CK_RV>(3, CKR_HOST_MEMORY));
  EXPECT_EQ(GetInfoResults(v5.list(), 3), std::vector<CK_RV>(3, CKR_HOST_MEMORY));

  tarvona_faults_reset();
  EXPECT_EQ(GetInfoResults(v4.list(), 1), std::vector{kOk});
}

TEST_F(AdaptorTest, InjectedFaultsNeverReachTheModule) {
  tokens.AddToken("A");
  tarvona_fault_inject(4, "C_Initialize", CKR_GENERAL_ERROR, 1, 1);
  EXPECT_EQ(v4->C_Initialize(nullptr), CKR_GENERAL_ERROR);
  CK_INFO info;
  EXPECT_EQ(v4->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);

  // Reaching SoftHSM would rename the token.
  const CK_SLOT_ID slot = SlotOf(v4.list(), "A");
  tarvona_fault_inject(4, "C_InitToken", CKR_OK, 1, 1);
  CK_UTF8CHAR label[33] = "Renamed                         ";
  EXPECT_EQ(v4->C_InitToken(slot, Utf8(kSoPin), 4, label), CKR_OK);
  EXPECT_EQ(LabelOf(v4.list(), slot), "A");

  tarvona_fault_inject(4, "C_Finalize", CKR_GENERAL_ERROR, 1, 1);
  EXPECT_EQ(v4->C_Finalize(nullptr), CKR_GENERAL_ERROR);
  EXPECT_EQ(v4->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
}

TEST_F(AdaptorTest, EntryPointFaultsCanHandOutNothing) {
  const auto get_list = reinterpret_cast<CK_C_GetFunctionList>(v4.Symbol("C_GetFunctionList"));
  tarvona_fault_inject(4, "C_GetFunctionList", CKR_OK, 1, 1);
  CK_FUNCTION_LIST* list = v4.list();
  EXPECT_EQ(get_list(&list), CKR_OK);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(get_list(&list), CKR_OK);
  EXPECT_EQ(list, v4.list());

  tarvona_fault_inject(5, "C_GetFunctionList", CKR_GENERAL_ERROR, 1, 0);
  EXPECT_EQ(reinterpret_cast<CK_C_GetFunctionList>(v5.Symbol("C_GetFunctionList"))(&list),
            CKR_GENERAL_ERROR);

  const auto get_aux = reinterpret_cast<CK_RV (*)(void**)>(v4.Symbol("E_GetAuxFunctionList"));
  tarvona_fault_inject(4, "E_GetAuxFunctionList", CKR_OK, 1, 1);
  void* table = &list;
  EXPECT_EQ(get_aux(&table), CKR_OK);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(get_aux(&table), CKR_OK);
  EXPECT_NE(table, nullptr);
}

TEST_F(AdaptorTest, TokenInfoOverridesApplyToTheirLabelAndGeneration) {
  const std::string serial_a = tokens.AddToken("A");
  const std::string serial_b = tokens.AddToken("B");
  const unsigned char fake[17] = "FAKE000000000042";
  tarvona_fault_token_info(4, "A", fake, CKF_WRITE_PROTECTED, CKF_LOGIN_REQUIRED);
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  ASSERT_EQ(v5->C_Initialize(nullptr), CKR_OK);

  auto info_of = [](CK_FUNCTION_LIST* f, const char* label) {
    CK_TOKEN_INFO info{};
    EXPECT_EQ(f->C_GetTokenInfo(SlotOf(f, label), &info), CKR_OK);
    return info;
  };
  auto serial = [](const CK_TOKEN_INFO& info) {
    return std::string(reinterpret_cast<const char*>(info.serialNumber), 16);
  };
  CK_TOKEN_INFO a4 = info_of(v4.list(), "A");
  EXPECT_EQ(serial(a4), "FAKE000000000042");
  EXPECT_NE(a4.flags & CKF_WRITE_PROTECTED, 0u);
  EXPECT_EQ(a4.flags & CKF_LOGIN_REQUIRED, 0u);
  EXPECT_EQ(serial(info_of(v5.list(), "A")), serial_a);
  EXPECT_NE(info_of(v5.list(), "A").flags & CKF_LOGIN_REQUIRED, 0u);
  EXPECT_EQ(serial(info_of(v4.list(), "B")), serial_b);

  // Replacing the override; the slot stays shown, judged on the real token.
  tarvona_fault_token_info(4, "A", nullptr, 0, CKF_TOKEN_INITIALIZED);
  a4 = info_of(v4.list(), "A");
  EXPECT_EQ(serial(a4), serial_a);
  EXPECT_EQ(a4.flags & CKF_TOKEN_INITIALIZED, 0u);
  EXPECT_NE(a4.flags & CKF_LOGIN_REQUIRED, 0u);
}

TEST_F(AdaptorTest, TraceRecordsEachCallWithItsKeyArguments) {
  tokens.AddToken("A");
  tokens.ImportKeyPair("A", "rsa2048", {0x45});
  ASSERT_EQ(v4->C_Initialize(nullptr), CKR_OK);
  tarvona_trace_clear();

  CK_SLOT_ID slots[10];
  CK_ULONG count = 10;
  ASSERT_EQ(v4->C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
  CK_SESSION_HANDLE session = 0;
  ASSERT_EQ(
      v4->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
      CKR_OK);
  ASSERT_EQ(v4->C_Login(session, CKU_USER, Utf8(kUserPin), 4), CKR_OK);
  CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE find[] = {{CKA_CLASS, &key_class, sizeof key_class}};
  ASSERT_EQ(v4->C_FindObjectsInit(session, find, 1), CKR_OK);
  CK_OBJECT_HANDLE key = 0;
  ASSERT_EQ(v4->C_FindObjects(session, &key, 1, &count), CKR_OK);
  ASSERT_EQ(v4->C_FindObjectsFinal(session), CKR_OK);
  CK_BYTE id[8];
  CK_ATTRIBUTE read[] = {{CKA_ID, id, sizeof id}};
  ASSERT_EQ(v4->C_GetAttributeValue(session, key, read, 1), CKR_OK);
  CK_MECHANISM sha256_rsa{CKM_SHA256_RSA_PKCS, nullptr, 0};
  ASSERT_EQ(v4->C_SignInit(session, &sha256_rsa, key), CKR_OK);
  CK_BYTE data[] = {1, 2, 3};
  CK_BYTE signature[300];
  CK_ULONG signature_len = sizeof signature;
  ASSERT_EQ(v4->C_Sign(session, data, sizeof data, signature, &signature_len), CKR_OK);
  ASSERT_EQ(v4->C_SetPIN(session, Utf8("1234"), 4, Utf8("98765"), 5), CKR_OK);
  tarvona_fault_inject(4, "C_Logout", CKR_DEVICE_ERROR, 1, 1);
  EXPECT_EQ(v4->C_Logout(session), CKR_DEVICE_ERROR);
  ASSERT_EQ(v4->C_CloseSession(session), CKR_OK);
  CK_UTF8CHAR label[33] = "Renamed                         ";
  ASSERT_EQ(v4->C_InitToken(slots[0], Utf8(kSoPin), 4, label), CKR_OK);

  const auto entries = Trace();
  ASSERT_GE(entries.size(), 12u);
  EXPECT_STREQ(entries[0].function, "C_GetSlotList");
  EXPECT_STREQ(entries[1].function, "C_OpenSession");
  for (const auto& entry : entries) EXPECT_EQ(entry.generation, 4);

  const auto slot_list = Traced("C_GetSlotList");
  EXPECT_EQ(slot_list->flags, CK_TRUE);
  EXPECT_EQ(slot_list->length2, 10u);
  const auto open = Traced("C_OpenSession");
  EXPECT_EQ(open->slot, slots[0]);
  EXPECT_EQ(open->flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
  EXPECT_EQ(open->session, session);
  const auto login = Traced("C_Login");
  EXPECT_EQ(login->session, session);
  EXPECT_EQ(login->user_type, CKU_USER);
  EXPECT_EQ(login->length, 4u);
  EXPECT_EQ(BytesOf(*login), "1234");
  const auto find_init = Traced("C_FindObjectsInit");
  EXPECT_EQ(find_init->count, 1u);
  EXPECT_EQ(find_init->attribute, CKA_CLASS);
  EXPECT_EQ(BytesOf(*find_init), std::string(reinterpret_cast<char*>(&key_class), 8));
  EXPECT_EQ(Traced("C_FindObjects")->count, 1u);
  const auto get_attribute = Traced("C_GetAttributeValue");
  EXPECT_EQ(get_attribute->object, key);
  EXPECT_EQ(get_attribute->attribute, CKA_ID);
  EXPECT_EQ(get_attribute->length2, sizeof id);
  const auto sign_init = Traced("C_SignInit");
  EXPECT_EQ(sign_init->mechanism, CKM_SHA256_RSA_PKCS);
  EXPECT_EQ(sign_init->object, key);
  const auto sign = Traced("C_Sign");
  EXPECT_EQ(sign->length, 3u);
  EXPECT_EQ(sign->length2, 300u) << "capacity on entry, not the signature length";
  EXPECT_EQ(sign->rv, CKR_OK);
  const auto set_pin = Traced("C_SetPIN");
  EXPECT_EQ(set_pin->length, 4u);
  EXPECT_EQ(set_pin->length2, 5u);
  EXPECT_EQ(BytesOf(*set_pin), "123498765");
  EXPECT_EQ(Traced("C_Logout")->rv, CKR_DEVICE_ERROR);
  const auto init_token = Traced("C_InitToken");
  EXPECT_EQ(init_token->length, 4u);
  EXPECT_EQ(BytesOf(*init_token), std::string(reinterpret_cast<char*>(label), 32));

  tarvona_trace_clear();
  EXPECT_EQ(tarvona_trace_count(), 0u);
  tarvona_trace_entry unused;
  EXPECT_EQ(tarvona_trace_get(0, &unused), 0);
}

}  // namespace
}  // namespace tarvona::testing
