// RSA-2048 signing on a SoftHSM2 token: the control's methods through the
// shipped adaptor against the module called directly (the limit), and
// the cost of listing certificates and of connecting.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "bench/paired.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "testing/faults/fault_control.h"
#include "testing/no_store.h"
#include "testing/softhsm_tokens.h"
#include "testing/test_library_loader.h"
#include "token/cryptoki.h"

namespace {

using tarvona::CTarvonaActiveXCtrl;
using tarvona::testing::kUserPin;
using tarvona::testing::SoftHsmTokens;

// The token road only: no certificate store behind the control.
class TokenControl : public CTarvonaActiveXCtrl {
 public:
  explicit TokenControl(
      const tarvona::platform::LibraryLoader& loader = tarvona::platform::SystemLibraryLoader())
      : CTarvonaActiveXCtrl(loader, tarvona::testing::NoStore(), tarvona::testing::NoStore()) {}
};

constexpr char kSerial[] = "00C0FFEE01";  // rsa2048's certificate
const std::string kData = tarvona::HexEncode(std::vector<uint8_t>(20, 0x5A));

// One token holding the rsa2048 pair, for the whole run.
SoftHsmTokens& Tokens() {
  static SoftHsmTokens* tokens = [] {
    auto* t = new SoftHsmTokens;
    t->AddToken("bench");
    t->ImportKeyPair("bench", "rsa2048", {0x01});
    return t;
  }();
  return *tokens;
}

void Check(CK_RV rv, const char* what) {
  if (rv != CKR_OK) throw std::runtime_error(std::string(what) + " failed");
}

// SoftHSM2 called directly: the limit for any road to the token. Its own
// session beside the control's, on the module instance the control uses.
class RawSigner {
 public:
  RawSigner()
      : library_(dlopen(tarvona::testing::SoftHsmModulePath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library_, "C_GetFunctionList"));
    Check(get_list(&f_), "C_GetFunctionList");
    init_ = f_->C_Initialize(nullptr);
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    Check(f_->C_GetSlotList(CK_TRUE, slots, &count), "C_GetSlotList");
    Check(f_->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                            &session_),
          "C_OpenSession");
    f_->C_Login(session_, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, 4);
    CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &key_class, sizeof(key_class)}};
    f_->C_FindObjectsInit(session_, search, 1);
    f_->C_FindObjects(session_, &key_, 1, &count);
    f_->C_FindObjectsFinal(session_);
  }
  ~RawSigner() {
    f_->C_CloseSession(session_);
    if (init_ == CKR_OK) f_->C_Finalize(nullptr);
    dlclose(library_);
  }
  RawSigner(const RawSigner&) = delete;
  RawSigner& operator=(const RawSigner&) = delete;

  void Sign() {
    CK_MECHANISM mechanism{CKM_SHA1_RSA_PKCS, nullptr, 0};
    CK_BYTE signature[1024];
    CK_ULONG length = sizeof(signature);
    Check(f_->C_SignInit(session_, &mechanism, key_), "C_SignInit");
    Check(f_->C_Sign(session_, data_.data(), data_.size(), signature, &length), "C_Sign");
    benchmark::DoNotOptimize(signature);
  }

 private:
  void* library_;
  CK_FUNCTION_LIST_PTR f_ = nullptr;
  CK_RV init_ = CKR_OK;
  CK_SESSION_HANDLE session_ = 0;
  CK_OBJECT_HANDLE key_ = 0;
  std::vector<uint8_t> data_ = tarvona::HexDecode(kData);
};

class ControlBench {
 public:
  ControlBench() {
    handle_ = control_.ConnectToken();
    if (control_.Login(handle_, kUserPin) != 0) throw std::runtime_error("login");
  }
  CTarvonaActiveXCtrl& control() { return control_; }
  int32_t handle() const { return handle_; }

 private:
  SoftHsmTokens& tokens_ = Tokens();  // before the control loads SoftHSM
  TokenControl control_;
  int32_t handle_ = 0;
};

// The control's Sign and the raw module in alternation (bench/paired.h).
void BM_Sign_VsRaw(benchmark::State& state) {
  ControlBench bench;
  RawSigner raw;
  int32_t key = bench.control().EnumPrivateKey(bench.handle(), 0);
  tarvona::bench::RunPairs(
      state,
      [&] {
        if (bench.control().Sign(bench.handle(), key, 0, kData).empty()) {
          throw std::runtime_error("Sign failed");
        }
      },
      [&] { raw.Sign(); });
}

void BM_SignByCertSerial_VsRaw(benchmark::State& state) {
  ControlBench bench;
  RawSigner raw;
  tarvona::bench::RunPairs(
      state,
      [&] {
        if (bench.control().SignByCertSerial(bench.handle(), kSerial, 0, kData).empty()) {
          throw std::runtime_error("SignByCertSerial failed");
        }
      },
      [&] { raw.Sign(); });
}

// Listing n certificates by position, as script does (0, 1, ... until 1011).
void BM_EnumCertificate_Listing(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  SoftHsmTokens tokens;
  tokens.AddToken("listing");
  tarvona::testing::ImportOptions only_certificate;
  only_certificate.public_key = false;
  only_certificate.private_key = false;
  for (int i = 0; i < n; ++i) {
    tokens.ImportKeyPair("listing", "rsa1024", {static_cast<uint8_t>(i)}, only_certificate);
  }
  auto list = [](CTarvonaActiveXCtrl& control, int32_t handle) {
    int listed = 0;
    while (control.EnumCertificate(handle, listed) != 1011) ++listed;
    return listed;
  };
  {
    // Counted once through the traced modules: the calls grow with n².
    tarvona::testing::DirectoryLoader traced(tarvona::testing::FaultModulesDir());
    TokenControl control(traced);
    int32_t handle = control.ConnectToken();
    tarvona_faults_reset();
    list(control, handle);
    unsigned long finds = 0;
    tarvona_trace_entry entry{};
    for (unsigned long i = 0; tarvona_trace_get(i, &entry) != 0; ++i) {
      finds += std::string(entry.function) == "C_FindObjects";
    }
    state.counters["C_FindObjects"] = static_cast<double>(finds);
    tarvona_faults_reset();
  }
  TokenControl control;
  int32_t handle = control.ConnectToken();
  for (auto _ : state) {
    if (list(control, handle) != n) state.SkipWithError("wrong count");
  }
}

void BM_ConnectToken_Cold(benchmark::State& state) {
  Tokens();
  for (auto _ : state) {
    TokenControl control;  // loads and initialises both modules
    benchmark::DoNotOptimize(control.ConnectToken());
  }
}

void BM_ConnectToken_Warm(benchmark::State& state) {
  Tokens();
  TokenControl control;
  for (auto _ : state) benchmark::DoNotOptimize(control.ConnectToken());
}

// About 1 ms a pair: two seconds give some 2000 pairs.
BENCHMARK(BM_Sign_VsRaw)
    ->UseManualTime()
    ->Repetitions(1)
    ->MinTime(2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignByCertSerial_VsRaw)
    ->UseManualTime()
    ->Repetitions(1)
    ->MinTime(2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EnumCertificate_Listing)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Arg(32)
    ->Arg(64)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConnectToken_Cold)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConnectToken_Warm)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
