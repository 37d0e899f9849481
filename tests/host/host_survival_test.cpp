// A host under load and a host killed: many mixed requests, malformed ones
// among them, are all answered in bounded memory, and a host killed in the
// middle of its work leaves the registration record as it was.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <sstream>
#include <string>

#include "host/host_process.h"
#include "tests/host/host_fixture.h"
#include "testing/softhsm_tokens.h"

namespace tarvona {
namespace {

// The peak resident size of a running process, from the kernel's own count
// for that process alone.
long PeakKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

class HostSurvivalTest : public testing::RegisteredModuleTest {};

TEST_F(HostSurvivalTest, TenThousandMixedRequestsInBoundedMemory) {
  testing::SoftHsmTokens tokens;
  tokens.AddToken("alpha");
  host::HostProcess host(TARVONA_HOST_PATH, {"--lines"});
  ASSERT_TRUE(host.Exchange(R"({"id":0,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})"));
  auto connected = host.Exchange(R"({"id":0,"object":1,"method":"ConnectToken","params":[]})");
  ASSERT_TRUE(connected);
  const std::string h = connected->substr(connected->find("\"result\":") + 9,
                                          connected->find('}') - connected->find("\"result\":") - 9);
  // Requests of every kind in turn; the control and its token live on.
  const std::string kinds[] = {
      R"({"id":1,"object":1,"method":"VerifyCertCRL","params":[0,0,""]})",
      R"({"id":2,"object":1,"method":"Hash","params":[)" + h + R"(,0,"616263"]})",
      R"({"id":3,"object":1,"method":"RetrieveSerial","params":[)" + h + "]}",
      R"({"id":4,"object":1,"method":"GetAttribute","params":[)" + h + ",123456,1]}",
      R"({"id":5,"object":1,"method":"EnumCertificate","params":[)" + h + ",0]}",
      R"({"id":6,"object":1,"method":"NoSuchMethod","params":[]})",
      R"({"id":7,"object":1,"method":"Login","params":[true]})",
      R"({"id":8,"object":99,"method":"Hash","params":[]})",
      R"({"id":9,"object":1,"dispid":12,"params":[)" + h + R"(,"x",1]})",
      "this is not json",
      R"({"id":10,"object":1,"method":"Hash","params":[)" + h + ",0,\"" +
          std::string(4096, 'A') + "\"]}",
      R"({"id":11,"save":1})",
  };
  long after_warm_up = 0;
  for (int i = 0; i < 10000; ++i) {
    auto reply = host.Exchange(kinds[i % std::size(kinds)]);
    ASSERT_TRUE(reply) << "request " << i << " got no answer";
    ASSERT_NE(reply->find("\"id\""), std::string::npos) << *reply;
    if (i == 1999) after_warm_up = PeakKib(host.pid());
  }
  [[maybe_unused]] const long after_all = PeakKib(host.pid());
  ASSERT_GT(after_warm_up, 0);
  EXPECT_EQ(host.Finish(), 0);
#if !defined(__SANITIZE_ADDRESS__)
  // Five times the requests, the same memory give or take allocator noise.
  // (AddressSanitizer holds freed memory back in quarantine by design: the
  // bound is the normal build's to keep, leaks are the sanitizer's job.)
  EXPECT_LT(after_all - after_warm_up, 512) << after_warm_up << " KiB, then " << after_all;
#endif
}

TEST_F(HostSurvivalTest, AHostKilledMidCallLeavesTheRecordIntact) {
  auto record = [this] {
    std::stringstream text;
    text << std::ifstream(RecordPath()).rdbuf();
    return text.str();
  };
  const std::string before = record();
  ASSERT_FALSE(before.empty());
  host::HostProcess host(TARVONA_HOST_PATH, {"--lines"});
  ASSERT_TRUE(host.Exchange(R"({"id":0,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})"));
  // Killed with a control alive and its modules loaded.
  kill(host.pid(), SIGKILL);
  host.Finish();
  EXPECT_EQ(record(), before);
  // And the next host creates the control just the same.
  host::HostProcess next(TARVONA_HOST_PATH, {"--lines"});
  EXPECT_EQ(next.Exchange(R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})"),
            R"({"id":1,"object":1})");
}

TEST_F(HostSurvivalTest, EachHostSeesItsOwnInputEndWhileAnotherRuns) {
  host::HostProcess first(TARVONA_HOST_PATH, {"--lines"});
  host::HostProcess second(TARVONA_HOST_PATH, {"--lines"});
  // The second must not have inherited the first's input: the first ends
  // when its caller closes it (else this waits until the test times out).
  EXPECT_EQ(first.Finish(), 0);
  EXPECT_EQ(second.Exchange(R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})"),
            R"({"id":1,"object":1})");
}

}  // namespace
}  // namespace tarvona
