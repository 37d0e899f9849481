// What the host adds to a call: the same calls in-process and through
// tarvona-host, in lines and in native-messaging frames, in alternation,
// against a SoftHSM2 token. The module is registered in a record of this run's own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "bench/paired.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "host/host_process.h"
#include "testing/no_store.h"
#include "testing/softhsm_tokens.h"

extern char** environ;

namespace {

using json = nlohmann::json;
using tarvona::testing::kUserPin;

const std::string kData = tarvona::HexEncode(std::vector<uint8_t>(20, 0x5A));
constexpr char kOrigin[] = "http://localhost:8000";

// A token, a registered module and an allow-list, for the whole run.
void Prepare() {
  static bool prepared = [] {
    auto* tokens = new tarvona::testing::SoftHsmTokens;  // lives to the end
    tokens->AddToken("bench");
    tokens->ImportKeyPair("bench", "rsa2048", {0x01});
    std::string home = tokens->directory() + "/xdg";
    std::filesystem::create_directories(home + "/tarvona");
    std::ofstream(home + "/tarvona/allowed-origins") << kOrigin << "\n";
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    unsetenv("DISPLAY");
    char regsvr[] = TARVONA_REGSVR_PATH;
    char module[] = TARVONA_MODULE_PATH;
    char* argv[] = {regsvr, module, nullptr};
    pid_t pid = 0;
    int status = 0;
    // Its report would land in the benchmark's JSON on stdout.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    int spawned = posix_spawn(&pid, regsvr, &quiet, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || status != 0) {
      throw std::runtime_error("cannot register the module");
    }
    return true;
  }();
  (void)prepared;
}

// One hosted control, connected and logged in, in either framing.
class HostedControl {
 public:
  explicit HostedControl(bool framed)
      : framed_(framed),
        host_(TARVONA_HOST_PATH, framed ? std::vector<std::string>{"chrome-extension://x/"}
                                        : std::vector<std::string>{"--lines"}) {
    json create = {{"id", 0}, {"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}};
    if (framed) create["origin"] = kOrigin;
    Send(create);
    handle_ = Call("ConnectToken", json::array()).get<int32_t>();
    Call("Login", {handle_, kUserPin});
    key_ = Call("EnumPrivateKey", {handle_, 0}).get<int32_t>();
  }

  json Call(const std::string& method, json params) {
    return Send(
        {{"id", 1}, {"object", 1}, {"method", method}, {"params", std::move(params)}})["result"];
  }

  int32_t handle() const { return handle_; }
  int32_t key() const { return key_; }
  pid_t pid() const { return host_.pid(); }

 private:
  json Send(const json& request) {
    auto reply = framed_ ? host_.ExchangeFrame(request.dump()) : host_.Exchange(request.dump());
    if (!reply) throw std::runtime_error("the host ended");
    json response = json::parse(*reply);
    if (response.contains("error")) throw std::runtime_error(response.dump());
    return response;
  }

  bool framed_;
  tarvona::host::HostProcess host_;
  int32_t handle_ = 0;
  int32_t key_ = 0;
};

// CPU time so far of this thread and of the host process.
auto CpuOf(const HostedControl& hosted) {
  return [host = "/proc/" + std::to_string(hosted.pid()) + "/schedstat"] {
    return tarvona::bench::ThreadCpuSeconds() + tarvona::bench::SchedstatCpuSeconds(host);
  };
}

// The hosted call and the same call in-process, in alternation
// (bench/paired.h): added_us is what the host adds around the call,
// cpu_added_us the CPU time it adds.
void BM_VerifyCertCrl_Host(benchmark::State& state) {
  Prepare();
  tarvona::CTarvonaActiveXCtrl control(tarvona::platform::SystemLibraryLoader(),
                                       tarvona::testing::NoStore(), tarvona::testing::NoStore());
  HostedControl hosted(state.range(0) == 1);
  json params = {0, 0, ""};
  tarvona::bench::RunPairs(
      state, [&] { benchmark::DoNotOptimize(hosted.Call("VerifyCertCRL", params)); },
      [&] { benchmark::DoNotOptimize(control.VerifyCertCRL(0, 0, "")); }, CpuOf(hosted));
}

void BM_Sign_Host(benchmark::State& state) {
  Prepare();
  tarvona::CTarvonaActiveXCtrl control(tarvona::platform::SystemLibraryLoader(),
                                       tarvona::testing::NoStore(), tarvona::testing::NoStore());
  int32_t handle = control.ConnectToken();
  control.Login(handle, kUserPin);
  int32_t key = control.EnumPrivateKey(handle, 0);
  HostedControl hosted(state.range(0) == 1);
  json params = {hosted.handle(), hosted.key(), 0, kData};
  tarvona::bench::RunPairs(
      state,
      [&] {
        if (hosted.Call("Sign", params).get<std::string>().empty()) {
          state.SkipWithError("Sign through the host failed");
        }
      },
      [&] {
        if (control.Sign(handle, key, 0, kData).empty()) state.SkipWithError("Sign failed");
      },
      CpuOf(hosted));
}

long PeakKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

// The host's peak resident size after the typical road, and after 10 000
// more calls: memory must not grow with the number of calls.
void BM_HostPeakMemory(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    HostedControl hosted(false);
    json cert = hosted.Call("EnumCertificate", {hosted.handle(), 0});
    hosted.Call("GetAttribute", {hosted.handle(), cert, 1});
    std::string serial = hosted.Call("GetAttribute", {hosted.handle(), cert, 3});
    json signature = hosted.Call("SignByCertSerial", {hosted.handle(), serial, 0, kData});
    hosted.Call("VerifyByCertSerial", {hosted.handle(), serial, 0, kData, signature});
    state.counters["peak_kib_after_road"] = static_cast<double>(PeakKib(hosted.pid()));
    for (int i = 0; i < 10000; ++i) {
      switch (i % 4) {
        case 0:
          hosted.Call("Hash", {hosted.handle(), 0, kData});
          break;
        case 1:
          hosted.Call("GetAttribute", {hosted.handle(), cert, 1});
          break;
        case 2:
          hosted.Call("EnumCertificate", {hosted.handle(), 1});
          break;
        default:
          hosted.Call("VerifyCertCRL", {0, 0, ""});
      }
    }
    state.counters["peak_kib_after_10000_calls"] = static_cast<double>(PeakKib(hosted.pid()));
  }
}

// Range 0: --lines; 1: native-messaging frames. A Sign pair takes about
// 1 ms: two seconds give some 2000 pairs.
BENCHMARK(BM_VerifyCertCrl_Host)
    ->ArgName("framed")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Repetitions(1);
BENCHMARK(BM_HostPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sign_Host)
    ->ArgName("framed")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Repetitions(1)
    ->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
