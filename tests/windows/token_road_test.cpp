// The token road of the Windows build under 64-bit Wine: the core loads
// Tarvonav4.dll and Tarvonav5.dll from system32 as it would a token maker's
// modules, and these are the Wine bridge (testing/wine-bridge/) in front of
// a SoftHSM2 token. The Linux side (windows_token_road, a test of the Linux
// build) makes the tokens, shows generation 4 only "alpha" and generation 5
// only "beta", and passes what OpenSSL expects in the environment.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "encoding/pem.h"
#include "testing/no_store.h"
#include "token/token_pair.h"

namespace tarvona {
namespace {

std::string Expected(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The fault layer of the Linux adaptors, through the bridge's exports.
class Faults {
 public:
  Faults() : bridge_(LoadLibraryExW(L"Tarvonav4.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
  ~Faults() {
    Reset();
    if (bridge_ != nullptr) FreeLibrary(bridge_);
  }
  Faults(const Faults&) = delete;
  Faults& operator=(const Faults&) = delete;

  bool Inject(const char* function, uint32_t rv) {
    using Fn = int(WINAPI*)(int, const char*, uint32_t, uint32_t, uint32_t);
    auto inject = Export<Fn>("BridgeFaultInject");
    return inject != nullptr && inject(0, function, rv, 1, 0) == 1;
  }
  bool LargeHandles(bool on) {
    using Fn = int(WINAPI*)(int, int);
    auto large = Export<Fn>("BridgeFaultLargeHandles");
    return large != nullptr && large(0, on ? 1 : 0) == 1;
  }
  bool Reset() {
    using Fn = int(WINAPI*)();
    auto reset = Export<Fn>("BridgeFaultsReset");
    return reset != nullptr && reset() == 1;
  }

 private:
  template <typename Fn>
  Fn Export(const char* name) const {
    if (bridge_ == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(bridge_, name)));
  }

  HMODULE bridge_;
};

class WindowsTokenRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Expected("TARVONA_ROAD_SERIALS").empty())
        << "run through the Linux build's windows_token_road test";
  }
  Faults faults_;
};

TEST_F(WindowsTokenRoad, TheTokenPairBindsBothBridgesAndTheirLabelFilters) {
  CTokenPair pair;
  EXPECT_EQ(pair.RetrieveAllTokenSerials(), Expected("TARVONA_ROAD_SERIALS"));
  ASSERT_EQ(pair.Connect(), kOk);
  EXPECT_EQ(pair.active_index(), 0);
  CCryptokiModule* module = pair.ActiveModule();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Login(false, "1234"), kOk);
  EXPECT_EQ(pair.Disconnect(), kOk);
  EXPECT_EQ(pair.Disconnect(), kNotConnected);
}

// Script's road, method by method, each answer as text.
struct Road {
  CTarvonaActiveXCtrl control{platform::SystemLibraryLoader(), testing::NoStore(),
                              testing::NoStore()};
  int32_t handle = 0;
  int32_t certificate = 0;
  int32_t private_key = 0;
  int32_t public_key = 0;
};

struct Step {
  const char* what;
  std::function<std::string(Road&)> call;
  std::string expected;
};

std::string Text(int32_t code) { return std::to_string(code); }

TEST_F(WindowsTokenRoad, ScriptsRoadGivesWhatOpenSslExpects) {
  const std::string data = Expected("TARVONA_ROAD_DATA");
  const std::string signature = Expected("TARVONA_ROAD_SIGNATURE");
  const std::string serial = "00C0FFEE01";
  const std::vector<Step> steps = {
      {"ConnectToken",
       [](Road& r) {
         r.handle = r.control.ConnectToken();
         return Text(r.handle == r.control.session_handle());
       },
       "1"},
      {"RetrieveSerial", [](Road& r) { return r.control.RetrieveSerial(r.handle); },
       Expected("TARVONA_ROAD_SERIALS").substr(0, 16)},
      {"RetrieveAllTokenSerial", [](Road& r) { return r.control.RetrieveAllTokenSerial(r.handle); },
       Expected("TARVONA_ROAD_SERIALS")},
      {"Login, wrong PIN", [](Road& r) { return Text(r.control.Login(r.handle, "0000")); },
       Text(kPinIncorrect)},
      {"Login", [](Road& r) { return Text(r.control.Login(r.handle, "1234")); }, Text(kOk)},
      {"EnumCertificate",
       [](Road& r) {
         r.certificate = r.control.EnumCertificate(r.handle, 0);
         r.private_key = r.control.EnumPrivateKey(r.handle, 0);
         r.public_key = r.control.EnumPublicKey(r.handle, 0);
         // A handle, not the code of a failed search.
         return Text(r.certificate != kObjectNotFound && r.private_key != kObjectNotFound &&
                     r.public_key != kObjectNotFound);
       },
       "1"},
      {"EnumCertificate, past the last",
       [](Road& r) { return Text(r.control.EnumCertificate(r.handle, 1)); }, Text(kObjectNotFound)},
      {"GetAttribute value",
       [](Road& r) {
         auto der = PemUnwrap(r.control.GetAttribute(r.handle, r.certificate, 1));
         return der ? HexEncode(*der) : "no PEM";
       },
       Expected("TARVONA_ROAD_CERTIFICATE")},
      {"GetAttribute ID",
       [](Road& r) { return r.control.GetAttribute(r.handle, r.certificate, 2); }, "01"},
      {"GetAttribute serial",
       [](Road& r) { return r.control.GetAttribute(r.handle, r.certificate, 3); }, serial},
      {"Hash", [&](Road& r) { return r.control.Hash(r.handle, 0, data); },
       Expected("TARVONA_ROAD_DIGEST")},
      {"Sign", [&](Road& r) { return r.control.Sign(r.handle, r.private_key, 0, data); },
       signature},
      {"SignByCertSerial",
       [&](Road& r) { return r.control.SignByCertSerial(r.handle, serial, 0, data); }, signature},
      {"Verify",
       [&](Road& r) { return Text(r.control.Verify(r.handle, r.public_key, 0, data, signature)); },
       Text(kOk)},
      {"Verify, other data",
       [&](Road& r) {
         return Text(r.control.Verify(r.handle, r.public_key, 0, data + "00", signature));
       },
       Text(kVerifyFailed)},
      {"VerifyByCertSerial",
       [&](Road& r) {
         return Text(r.control.VerifyByCertSerial(r.handle, serial, 0, data, signature));
       },
       Text(kOk)},
      {"Decrypt",
       [](Road& r) {
         return r.control.Decrypt(r.handle, r.private_key, 0, Expected("TARVONA_ROAD_CIPHERTEXT"));
       },
       Expected("TARVONA_ROAD_PLAINTEXT")},
      {"Encrypt, then Decrypt",
       [&](Road& r) {
         return r.control.Decrypt(r.handle, r.private_key, 0,
                                  r.control.Encrypt(r.handle, r.public_key, 0, data));
       },
       data},
      {"ChangeUserPin",
       [](Road& r) { return Text(r.control.ChangeUserPin(r.handle, "1234", "4321")); }, Text(kOk)},
      {"UnblockUserPin",
       [](Road& r) { return Text(r.control.UnblockUserPin(r.handle, "5678", "1234")); }, Text(kOk)},
      {"Login, PIN set by the security officer",
       [](Road& r) { return Text(r.control.Login(r.handle, "1234")); }, Text(kOk)},
      {"Logout", [](Road& r) { return Text(r.control.Logout(r.handle)); }, Text(kOk)},
      {"DisconnectToken", [](Road& r) { return Text(r.control.DisconnectToken(r.handle)); },
       Text(kOk)},
      {"DisconnectToken again", [](Road& r) { return Text(r.control.DisconnectToken(r.handle)); },
       Text(kNotConnected)},
  };
  ASSERT_FALSE(data.empty());
  Road road;
  for (const Step& step : steps) {
    EXPECT_EQ(step.call(road), step.expected) << step.what;
  }
}

// Straight through the Windows function list: attribute values that are
// CK_ULONGs come back 4 bytes wide, other values as they are, and what the
// bridge cannot carry is refused rather than guessed.
TEST_F(WindowsTokenRoad, TheWindowsAbiCarriesValuesOfEitherWidth) {
  HMODULE bridge = LoadLibraryExW(L"Tarvonav4.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  ASSERT_NE(bridge, nullptr);
  auto get_list = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(GetProcAddress(bridge, "C_GetFunctionList")));
  ASSERT_NE(get_list, nullptr);
  CK_FUNCTION_LIST_PTR f = nullptr;
  ASSERT_EQ(get_list(&f), CKR_OK);
  const CK_RV initialized = f->C_Initialize(nullptr);
  ASSERT_TRUE(initialized == CKR_OK || initialized == CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_EQ(f->C_GenerateRandom(0, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);

  CK_SLOT_ID slot = 0;
  CK_ULONG slots = 1;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, &slot, &slots), CKR_OK);
  ASSERT_EQ(slots, 1u);
  CK_SESSION_HANDLE session = 0;
  ASSERT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);

  CK_OBJECT_CLASS public_class = CKO_PUBLIC_KEY;
  CK_ATTRIBUTE find[] = {{CKA_CLASS, &public_class, sizeof public_class}};
  CK_OBJECT_HANDLE key = 0;
  CK_ULONG found = 0;
  ASSERT_EQ(f->C_FindObjectsInit(session, find, 1), CKR_OK);
  EXPECT_EQ(f->C_FindObjects(session, &key, 1, &found), CKR_OK);
  EXPECT_EQ(f->C_FindObjectsFinal(session), CKR_OK);
  ASSERT_EQ(found, 1u);

  struct Case {
    CK_ATTRIBUTE_TYPE type;
    CK_ULONG capacity;  // 0: a length query
    CK_RV rv;
    CK_ULONG length;
    std::vector<CK_BYTE> value;
  };
  constexpr CK_ULONG kUnavailable = CK_UNAVAILABLE_INFORMATION;
  const Case cases[] = {
      {CKA_CLASS, 0, CKR_OK, 4, {}},
      {CKA_CLASS, 8, CKR_OK, 4, {0x02, 0, 0, 0}},            // CKO_PUBLIC_KEY
      {CKA_KEY_TYPE, 4, CKR_OK, 4, {0, 0, 0, 0}},            // CKK_RSA
      {CKA_MODULUS_BITS, 4, CKR_OK, 4, {0x00, 0x08, 0, 0}},  // 2048
      {CKA_MODULUS_BITS, 3, CKR_BUFFER_TOO_SMALL, kUnavailable, {}},
      {CKA_ID, 0, CKR_OK, 1, {}},
      {CKA_ID, 4, CKR_OK, 1, {0x01}},
      {CKA_WRAP_TEMPLATE, 0, CKR_ATTRIBUTE_TYPE_INVALID, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<CK_BYTE> value(c.capacity, 0xEE);
    CK_ATTRIBUTE entry = {c.type, c.capacity != 0 ? value.data() : nullptr, c.capacity};
    EXPECT_EQ(f->C_GetAttributeValue(session, key, &entry, 1), c.rv) << c.type;
    EXPECT_EQ(entry.ulValueLen, c.length) << c.type;
    if (!c.value.empty()) {
      value.resize(c.value.size());
      EXPECT_EQ(value, c.value) << c.type;
    }
  }

  // A handle over 32 bits is an error, never cut to another object's.
  ASSERT_TRUE(faults_.LargeHandles(true));
  ASSERT_EQ(f->C_FindObjectsInit(session, find, 1), CKR_OK);
  EXPECT_EQ(f->C_FindObjects(session, &key, 1, &found), CKR_GENERAL_ERROR);
  EXPECT_EQ(f->C_FindObjectsFinal(session), CKR_OK);
  ASSERT_TRUE(faults_.LargeHandles(false));

  EXPECT_EQ(f->C_CloseSession(session), CKR_OK);
  if (initialized == CKR_OK) f->C_Finalize(nullptr);
  FreeLibrary(bridge);
}

// The module's own answers cross the bridge unchanged, as on Linux; a handle
// the 32-bit side cannot hold is refused, never cut.
TEST_F(WindowsTokenRoad, TheFaultLayerServesTheWindowsBuild) {
  Road road;
  road.handle = road.control.ConnectToken();
  ASSERT_EQ(road.handle, road.control.session_handle());

  ASSERT_TRUE(faults_.Inject("C_Login", CKR_PIN_LOCKED));
  EXPECT_EQ(road.control.Login(road.handle, "1234"), kPinLocked);
  ASSERT_TRUE(faults_.Reset());
  ASSERT_EQ(road.control.Login(road.handle, "1234"), kOk);
  const int32_t key = road.control.EnumPrivateKey(road.handle, 0);

  // The token pulled out mid-signature, then put back and connected again.
  ASSERT_TRUE(faults_.Inject("C_Sign", CKR_TOKEN_NOT_PRESENT));
  EXPECT_EQ(road.control.Sign(road.handle, key, 0, "00112233"), "");
  ASSERT_TRUE(faults_.Reset());
  ASSERT_EQ(road.control.ConnectToken(), road.handle);
  ASSERT_EQ(road.control.Login(road.handle, "1234"), kOk);
  EXPECT_EQ(road.control.Sign(road.handle, key, 0, "00112233").size(), 512u);

  ASSERT_TRUE(faults_.LargeHandles(true));
  EXPECT_EQ(road.control.EnumCertificate(road.handle, 0), kObjectNotFound);
  ASSERT_TRUE(faults_.LargeHandles(false));
  EXPECT_GT(road.control.EnumCertificate(road.handle, 0), 0);

  // Nothing left active on the session: the road goes on.
  EXPECT_EQ(road.control.Logout(road.handle), kOk);
  EXPECT_EQ(road.control.DisconnectToken(road.handle), kOk);
}

}  // namespace
}  // namespace tarvona
