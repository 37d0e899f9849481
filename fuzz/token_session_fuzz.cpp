// Random sequences of method calls, with arguments drawn towards the edges,
// against a control connected and logged in to a SoftHSM2 token that holds
// two key pairs with their certificates. After every call the things no call
// may change are checked: the session handle, the Cryptoki session, no
// Cryptoki operation left active (from the fault build's trace), the session
// still answering a digest, the login still showing the private keys. A
// broken rule aborts with its reason, so libFuzzer saves the sequence.
//
// Methods that change the token or the login on purpose (TokenInitialize,
// the PIN changes, Logout, DisconnectToken, ConnectToken) are left out: the
// fixture is made once per process, and every input starts from it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "fuzz/fuzz_support.h"
#include "testing/faults/fault_control.h"
#include "testing/no_store.h"
#include "testing/softhsm_tokens.h"
#include "testing/test_library_loader.h"

namespace {

using tarvona::CTarvonaActiveXCtrl;
namespace testing = tarvona::testing;

constexpr char kDigestOf00[] = "5BA93C9DB0CFF93F52B521D7420E43F6EDA2784F";  // SHA-1 of one 0 byte

struct Fixture {
  testing::SoftHsmTokens tokens;
  testing::DirectoryLoader loader{testing::FaultModulesDir()};
  std::unique_ptr<CTarvonaActiveXCtrl> control;
  int32_t session = 0;
  CK_SESSION_HANDLE cryptoki_session = CK_INVALID_HANDLE;
  int32_t first_private_key = 0;
  std::vector<int32_t> objects;      // every certificate and key handle
  std::vector<std::string> serials;  // the certificates' serial numbers, hex
  std::vector<std::string> texts;    // valid ciphertexts, signatures and digests
};
Fixture* fixture = nullptr;

[[noreturn]] void Broken(std::string_view method, const std::string& what) {
  std::fprintf(stderr, "invariant broken after %.*s: %s\n", static_cast<int>(method.size()),
               method.data(), what.c_str());
  std::filesystem::remove_all(fixture->tokens.directory());  // abort skips the destructors
  std::abort();
}

std::vector<int32_t> Enumerate(int32_t (CTarvonaActiveXCtrl::*find)(int32_t, int32_t)) {
  std::vector<int32_t> found;
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t handle = (fixture->control.get()->*find)(fixture->session, i);
    if (handle == tarvona::kObjectNotFound || handle == tarvona::kModuleNotReady) break;
    found.push_back(handle);
  }
  return found;
}

void SetUp() {
  tarvona::fuzzing::UseOwnHome();
  fixture = new Fixture;
  // Closes the session and removes the token folder when the run ends.
  std::atexit([] { delete fixture; });
  Fixture& f = *fixture;
  f.tokens.AddToken("alpha");
  f.tokens.ImportKeyPair("alpha", "rsa1024", {0x01});
  f.tokens.ImportKeyPair("alpha", "rsa2048", {0x02});
  f.control =
      std::make_unique<CTarvonaActiveXCtrl>(f.loader, testing::NoStore(), testing::NoStore());
  tarvona_faults_reset();
  f.session = f.control->ConnectToken();
  tarvona_trace_entry entry{};
  for (unsigned long i = 0; tarvona_trace_get(i, &entry) != 0; ++i) {
    if (std::string_view(entry.function) == "C_OpenSession" && entry.rv == CKR_OK) {
      f.cryptoki_session = entry.session;
    }
  }
  if (f.control->Login(f.session, testing::kUserPin) != tarvona::kOk) {
    throw std::runtime_error("Login failed");
  }
  const auto certificates = Enumerate(&CTarvonaActiveXCtrl::EnumCertificate);
  const auto public_keys = Enumerate(&CTarvonaActiveXCtrl::EnumPublicKey);
  const auto private_keys = Enumerate(&CTarvonaActiveXCtrl::EnumPrivateKey);
  if (certificates.size() != 2 || public_keys.size() != 2 || private_keys.size() != 2) {
    throw std::runtime_error("the token does not show its six objects");
  }
  f.first_private_key = private_keys[0];
  f.objects = certificates;
  f.objects.insert(f.objects.end(), public_keys.begin(), public_keys.end());
  f.objects.insert(f.objects.end(), private_keys.begin(), private_keys.end());
  for (int32_t certificate : certificates) {
    f.serials.push_back(f.control->GetAttribute(f.session, certificate, 3));
  }
  for (size_t i = 0; i < 2; ++i) {
    f.texts.push_back(f.control->Encrypt(f.session, public_keys[i], 0, "0102"));
    f.texts.push_back(f.control->Sign(f.session, private_keys[i], 0, "00"));
  }
  f.texts.push_back(kDigestOf00);
  for (const std::string& text : f.texts) {
    if (text.empty()) throw std::runtime_error("the fixture's operations failed");
  }
  tarvona_trace_clear();
}

// The first Cryptoki operation still active on some session, judged from the
// trace: an *Init that succeeded and was not ended. A single-part call or a
// Final ends its operation unless it answered a length query (OK with no
// output buffer) or CKR_BUFFER_TOO_SMALL; an Update that fails ends it too.
std::string ActiveOperation() {
  std::map<CK_SESSION_HANDLE, std::string> active;
  tarvona_trace_entry e{};
  for (unsigned long i = 0; tarvona_trace_get(i, &e) != 0; ++i) {
    const std::string_view f = e.function;
    const bool kept = e.rv == CKR_BUFFER_TOO_SMALL || (e.rv == CKR_OK && e.length2 == 0);
    if (f.ends_with("Init")) {
      if (e.rv == CKR_OK) active[e.session] = std::string(f);
    } else if (f == "C_CloseSession") {
      active.erase(e.session);
    } else if (f == "C_CloseAllSessions" || f == "C_Finalize") {
      active.clear();
    } else if (f == "C_FindObjectsFinal" || f == "C_Verify" || f == "C_VerifyFinal") {
      active.erase(e.session);
    } else if (f.ends_with("Update")) {
      if (e.rv != CKR_OK) active.erase(e.session);
    } else if (f == "C_Encrypt" || f == "C_Decrypt" || f == "C_Digest" || f == "C_Sign" ||
               f.ends_with("Final")) {
      if (!kept) active.erase(e.session);
    }
  }
  for (const auto& [session, init] : active) {
    return init + " on session " + std::to_string(session) + " was never ended";
  }
  return {};
}

// Cryptoki calls none of the fuzzed methods may make, and the session every
// call must use.
std::string SessionChange() {
  static constexpr std::string_view kForbidden[] = {
      "C_OpenSession", "C_CloseSession", "C_CloseAllSessions", "C_Finalize",
      "C_Logout",      "C_InitToken",    "C_InitPIN",          "C_SetPIN"};
  tarvona_trace_entry e{};
  for (unsigned long i = 0; tarvona_trace_get(i, &e) != 0; ++i) {
    for (std::string_view name : kForbidden) {
      if (name == e.function) return std::string(e.function) + " was called";
    }
    if (e.session != CK_INVALID_HANDLE && e.session != fixture->cryptoki_session) {
      return std::string(e.function) + " used session " + std::to_string(e.session);
    }
  }
  return {};
}

void CheckInvariants(std::string_view method) {
  Fixture& f = *fixture;
  for (const std::string& broken : {ActiveOperation(), SessionChange()}) {
    if (!broken.empty()) Broken(method, broken);
  }
  if (f.control->session_handle() != f.session) Broken(method, "the session handle changed");
  const std::string digest = f.control->Hash(f.session, 0, "00");
  if (digest != kDigestOf00) Broken(method, "Hash of 00 answered \"" + digest + "\"");
  const int32_t key = f.control->EnumPrivateKey(f.session, 0);
  if (key != f.first_private_key)
    Broken(method, "EnumPrivateKey(0) answered " + std::to_string(key));
  tarvona_trace_clear();
}

// Arguments, most of them at the edges the methods must hold.
class Arguments {
 public:
  Arguments(FuzzedDataProvider& input, std::vector<std::string>& texts)
      : input_(input), texts_(texts) {}

  int32_t Session() {
    const int32_t own = fixture->session;
    switch (input_.ConsumeIntegralInRange(0, 15)) {
      case 0:
        return own + 1;
      case 1:
        return 0;
      case 2:
        return input_.ConsumeIntegral<int32_t>();
      default:
        return own;
    }
  }

  int32_t Extreme() {
    using Short = std::numeric_limits<int16_t>;
    using Long = std::numeric_limits<int32_t>;
    // clang-format off
    static constexpr int32_t kValues[] = {
        0, -1, 1, 15, 16, -16, Short::min(), Short::max(), 0xFFFF, 0x10000, Long::min(),
        Long::max(), tarvona::kModuleNotReady, tarvona::kObjectNotFound};
    // clang-format on
    return input_.PickValueInArray(kValues);
  }

  int32_t Small() {
    switch (input_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        return Extreme();
      case 1:
        return input_.ConsumeIntegral<int32_t>();
      default:
        return input_.ConsumeIntegralInRange(-1, 4);
    }
  }

  // An object handle: mostly a real one, of any class, or one next to it.
  int32_t Handle() {
    const auto& objects = fixture->objects;
    const int32_t real = objects[input_.ConsumeIntegralInRange<size_t>(0, objects.size() - 1)];
    switch (input_.ConsumeIntegralInRange(0, 7)) {
      case 0:
        return real + 1;
      case 1:
        return real - 1;
      case 2:
        return fixture->session;
      case 3:
        return Small();
      default:
        return real;
    }
  }

  std::string Hex() {
    static constexpr char kDigits[] = "0123456789ABCDEFabcdef";
    auto random_hex = [&](size_t length) {
      std::string text(length, '0');
      for (char& c : text) c = kDigits[input_.ConsumeIntegralInRange<size_t>(0, 21)];
      return text;
    };
    switch (input_.ConsumeIntegralInRange(0, 11)) {
      case 0:
        return {};
      case 1:
        return std::string(1, input_.ConsumeIntegral<char>());
      case 2:
        return random_hex(2 * input_.ConsumeIntegralInRange<size_t>(0, 40) + 1);
      case 3:
        return random_hex(2 * input_.ConsumeIntegralInRange<size_t>(1, 300));
      case 4: {  // beyond every key and output capacity
        static constexpr size_t kLengths[] = {256, 257, 511, 512, 513, 1024, 1025, 4096};
        return std::string(
            2 * input_.PickValueInArray(kLengths) + input_.ConsumeIntegralInRange(0, 1),
            input_.ConsumeBool() ? 'F' : '7');
      }
      case 5:
        return input_.ConsumeRandomLengthString(64);
      case 6:
        return std::string(2 * input_.PickValueInArray({128, 256}), 'F');
      case 7:
        return "00";
      case 8: {  // a certificate's serial number, sometimes one character off
        const auto& serials = fixture->serials;
        std::string serial = serials[input_.ConsumeIntegralInRange<size_t>(0, serials.size() - 1)];
        if (input_.ConsumeBool()) return serial;
        if (input_.ConsumeBool()) return serial + "0";
        return serial.substr(0, serial.size() - 1);
      }
      default: {  // a result seen earlier: ciphertexts, signatures, digests
        std::string text = texts_[input_.ConsumeIntegralInRange<size_t>(0, texts_.size() - 1)];
        switch (input_.ConsumeIntegralInRange(0, 3)) {
          case 0:
            return text.substr(0, text.size() / 2);
          case 1:
            return text + input_.ConsumeIntegral<char>();
          default:
            return text;
        }
      }
    }
  }

  std::string Pin() {
    return input_.ConsumeBool() ? std::string(testing::kUserPin)
                                : input_.ConsumeRandomLengthString(40);
  }

  void Keep(const std::string& result) {
    if (!result.empty() && texts_.size() < 64) texts_.push_back(result);
  }

 private:
  FuzzedDataProvider& input_;
  std::vector<std::string>& texts_;
};

// Calls one method; returns its name.
std::string_view CallOne(FuzzedDataProvider& input, Arguments& a) {
  CTarvonaActiveXCtrl& c = *fixture->control;
  switch (input.ConsumeIntegralInRange(0, 14)) {
    case 0:
      c.Login(a.Session(), a.Pin());
      return "Login";
    case 1:
      c.RetrieveSerial(a.Session());
      return "RetrieveSerial";
    case 2:
      c.RetrieveAllTokenSerial(a.Session());
      return "RetrieveAllTokenSerial";
    case 3:
      c.EnumCertificate(a.Session(), a.Small());
      return "EnumCertificate";
    case 4:
      c.EnumPublicKey(a.Session(), a.Small());
      return "EnumPublicKey";
    case 5:
      c.EnumPrivateKey(a.Session(), a.Small());
      return "EnumPrivateKey";
    case 6:
      a.Keep(c.GetAttribute(a.Session(), a.Handle(), a.Small()));
      return "GetAttribute";
    case 7:
      a.Keep(c.Encrypt(a.Session(), a.Handle(), a.Small(), a.Hex()));
      return "Encrypt";
    case 8:
      a.Keep(c.Decrypt(a.Session(), a.Handle(), a.Small(), a.Hex()));
      return "Decrypt";
    case 9:
      a.Keep(c.Hash(a.Session(), a.Small(), a.Hex()));
      return "Hash";
    case 10:
      a.Keep(c.Sign(a.Session(), a.Handle(), a.Small(), a.Hex()));
      return "Sign";
    case 11:
      a.Keep(c.SignByCertSerial(a.Session(), a.Hex(), a.Small(), a.Hex()));
      return "SignByCertSerial";
    case 12:
      c.Verify(a.Session(), a.Handle(), static_cast<int16_t>(a.Small()), a.Hex(), a.Hex());
      return "Verify";
    case 13:
      c.VerifyByCertSerial(a.Session(), a.Hex(), a.Small(), a.Hex(), a.Hex());
      return "VerifyByCertSerial";
    default:
      c.VerifyCertCRL(a.Session(), a.Small(), a.Hex());
      return "VerifyCertCRL";
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  try {
    SetUp();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "token session fixture: %s\n", e.what());
    std::exit(1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // Each input starts from the fixture's results only, so it replays alone.
  std::vector<std::string> texts = fixture->texts;
  Arguments arguments(input, texts);
  for (int calls = 0; calls < 16 && input.remaining_bytes() > 0; ++calls) {
    CheckInvariants(CallOne(input, arguments));
  }
  return 0;
}
