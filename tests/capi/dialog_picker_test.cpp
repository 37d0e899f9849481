// The real selection dialog, tarvona-certpicker, driven by keyboard under a
// private X server. A dialog that never takes its keys hangs its test until
// ctest's time limit.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "testing/test_library_loader.h"
#include "tests/capi/store_test.h"
#include "tests/support/openssl_judge.h"

extern char** environ;

namespace tarvona {
namespace {

pid_t Spawn(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

void EndChild(pid_t& pid) {
  if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
  pid = -1;
}

TEST(DialogPickerTest, WithoutADisplayChoosesNoneAtOnce) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const capi::CertificateSummary shown[] = {{"a", "a", "2030-01-01"}, {"b", "b", "2030-01-01"}};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(capi::SystemCertificatePicker().Pick(shown), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

class XvfbDialogTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0) {
      GTEST_SKIP() << "needs Xvfb and xdotool";
    }
    // Xvfb picks a free display and reports it once it takes clients.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    x_server_ = Spawn({"Xvfb", "-displayfd", std::to_string(report[1]), "-nolisten", "tcp"});
    close(report[1]);
    std::string display = ":";
    for (char c = 0; read(report[0], &c, 1) == 1 && c != '\n';) display += c;
    close(report[0]);
    ASSERT_GT(display.size(), 1u) << "Xvfb did not start";
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus here
    database_.ImportKeyPair("rsa1024");
    database_.ImportKeyPair("rsa2048");
  }
  void TearDown() override {
    EndChild(typist_);
    EndChild(x_server_);
    StoreTest::TearDown();
  }

  // Focuses the dialog once it shows and types the keys to whatever has the
  // focus: the dialog is gone before the last key is released.
  void AnswerDialogWith(const std::string& keys) {
    typist_ = Spawn({"sh", "-c",
                     "timeout 20 xdotool search --sync --onlyvisible --name "
                     "'^Select a certificate$' windowfocus --sync && xdotool key --delay 50 " +
                         keys});
  }
  bool KeysTyped() {
    int status = 0;
    bool typed =
        waitpid(typist_, &status, 0) == typist_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    typist_ = -1;
    return typed;
  }

  pid_t x_server_ = -1;
  pid_t typist_ = -1;
  testing::DirectoryLoader no_modules_{"/nonexistent"};
};

TEST_F(XvfbDialogTest, KeyboardChoosesTheSecondCertificate) {
  CTarvonaActiveXCtrl control(no_modules_);
  AnswerDialogWith("Down Return");
  std::string signature = control.SignByCSP(0, kSourceDialog, "", 0, testing::kHello);
  EXPECT_TRUE(KeysTyped());
  EXPECT_TRUE(testing::VerifiesWith(testing::Pem("rsa2048"), testing::Digest::kSha1,
                                    testing::Bytes("Hello"),
                                    testing::Reversed(HexDecode(signature))));
}

TEST_F(XvfbDialogTest, EscapeChoosesNothing) {
  CTarvonaActiveXCtrl control(no_modules_);
  AnswerDialogWith("Escape");
  EXPECT_EQ(control.VerifyByCSP(0, kSourceDialog, "", 0, testing::kHello, "00"), kStoreUnavailable);
  EXPECT_TRUE(KeysTyped());
}

}  // namespace
}  // namespace tarvona
