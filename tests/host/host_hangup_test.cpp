// A host whose call never returns, and whose caller hangs up meanwhile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "host/host_process.h"
#include "testing/softhsm_tokens.h"
#include "tests/host/host_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;

// A call held inside the module, as a card that stopped answering holds
// one: SoftHSM reads its configuration when the control starts it (in
// "create"), and here the configuration is a FIFO that the test opens, once
// the host has, and keeps open without writing to it.
class HeldConfiguration {
 public:
  HeldConfiguration(std::string fifo, std::string real)
      : fifo_(std::move(fifo)), real_(std::move(real)) {
    std::filesystem::remove(fifo_);
    made_ = mkfifo(fifo_.c_str(), 0600) == 0;
  }
  // Closing it gives the waiting reader an empty configuration.
  ~HeldConfiguration() {
    if (writer_ >= 0) close(writer_);
  }
  HeldConfiguration(const HeldConfiguration&) = delete;
  HeldConfiguration& operator=(const HeldConfiguration&) = delete;

  // True once the host has opened it (within 30 s) and the test holds it.
  bool Held() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    // A FIFO opens for writing, without waiting, only once a reader has it.
    while (made_ && (writer_ = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return writer_ >= 0;
  }
  // Lets the call go on: the real configuration replaces the FIFO for
  // whoever opens it next, and flows through it to the waiting reader.
  void Release() {
    std::stringstream text;
    text << std::ifstream(real_).rdbuf();
    std::ofstream(fifo_ + ".real") << text.str();
    std::filesystem::rename(fifo_ + ".real", fifo_);
    const std::string bytes = text.str();
    EXPECT_EQ(write(writer_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(std::exchange(writer_, -1));
  }

 private:
  std::string fifo_;
  std::string real_;
  bool made_ = false;
  int writer_ = -1;
};

class HungCallTest : public testing::RegisteredModuleTest {
 protected:
  HungCallTest() {
    tokens_.AddToken("alpha");
    std::filesystem::create_directories(data_home_ + "/config/tarvona");
    std::ofstream(data_home_ + "/config/tarvona/allowed-origins") << "http://localhost:8000\n";
    setenv("XDG_CONFIG_HOME", (data_home_ + "/config").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("SOFTHSM2_CONF", fifo_.c_str(), 1);  // tokens_ puts the real one back
    // A host gone early must fail the test, not end it: writes get EPIPE.
    std::signal(SIGPIPE, SIG_IGN);
  }
  ~HungCallTest() override {
    std::signal(SIGPIPE, SIG_DFL);
    unsetenv("XDG_CONFIG_HOME");
  }

  testing::SoftHsmTokens tokens_;
  const std::string fifo_ = data_home_ + "/softhsm2.conf";
};

// A browser's host ends at once when the browser hangs up during a call (no
// answer is sent: nobody reads it); a program's host answers every request
// it was given, once the call returns, and then ends at the end of its input.
TEST_F(HungCallTest, TheBrowsersHostEndsWhenItsBrowserGoesAProgramsAnswersAll) {
  for (const bool browser : {true, false}) {
    SCOPED_TRACE(browser ? "browser" : "program");
    host::HostProcess host(TARVONA_HOST_PATH,
                           {browser ? std::string("chrome-extension://x/") : "--lines"});
    const json create = {{"id", 1},
                         {"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"},
                         {"origin", "http://localhost:8000"}};
    const json connect = {
        {"id", 2}, {"object", 1}, {"method", "ConnectToken"}, {"params", json::array()}};
    // Made after the host, so gone before it: no host waits on it at the end.
    HeldConfiguration configuration(fifo_, tokens_.config_path());
    ASSERT_TRUE(browser ? host.SendFrame(create.dump()) : host.Send(create.dump()));
    ASSERT_TRUE(configuration.Held()) << "the host never started its module";
    if (browser) {
      host.CloseInput();
      const int status = host.Finish(std::chrono::seconds(10));  // killed if still there
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_FALSE(host.ReceiveFrame()) << "an answer nobody could read";
    } else {
      ASSERT_TRUE(host.Send(connect.dump()));
      host.CloseInput();
      configuration.Release();
      EXPECT_EQ(host.Receive(), R"({"id":1,"object":1})");
      json connected = json::parse(host.Receive().value_or("{}"));
      EXPECT_EQ(connected["id"], 2);
      EXPECT_TRUE(connected["result"].is_number_integer() && connected["result"] >= 0x10000)
          << connected;
      EXPECT_EQ(host.Finish(std::chrono::seconds(30)), 0);
    }
  }
}

}  // namespace
}  // namespace tarvona
