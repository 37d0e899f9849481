// The real selection dialog, tarvona-certpicker, driven by keyboard under a
// private X server. A dialog that never takes its keys hangs its test until
// ctest's time limit.
#include "capi/dialog/dialog_picker.h"

#include <chrono>
#include <cstdlib>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "testing/test_library_loader.h"
#include "tests/capi/store_test.h"
#include "tests/support/openssl_judge.h"
#include "tests/support/xvfb_display.h"

namespace tarvona {
namespace {

TEST(DialogPickerTest, WithoutADisplayChoosesNoneAtOnce) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const capi::CertificateSummary shown[] = {{"a", "a", "2030-01-01"}, {"b", "b", "2030-01-01"}};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(capi::DialogPicker(capi::nss::UserCryptoPlatform()).Pick(shown), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

class XvfbDialogTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (!testing::XvfbDisplay::Available()) GTEST_SKIP() << "needs Xvfb and xdotool";
    ASSERT_TRUE(display_.Start()) << "Xvfb did not start";
    database_.ImportKeyPair("rsa1024");
    database_.ImportKeyPair("rsa2048");
  }

  void AnswerDialogWith(const std::string& keys) {
    display_.AnswerWindow("Select a certificate", keys);
  }
  bool KeysTyped() { return display_.KeysTyped(); }

  testing::XvfbDisplay display_;
  testing::DirectoryLoader no_modules_{"/nonexistent"};
  capi::DialogPicker picker_{capi::nss::UserCryptoPlatform()};
};

TEST_F(XvfbDialogTest, KeyboardChoosesTheSecondCertificate) {
  CTarvonaActiveXCtrl control(no_modules_, capi::nss::UserCryptoPlatform(), picker_);
  AnswerDialogWith("Down Return");
  std::string signature = control.SignByCSP(0, kSourceDialog, "", 0, testing::kHello);
  EXPECT_TRUE(KeysTyped());
  EXPECT_TRUE(testing::VerifiesWith(testing::Pem("rsa2048"), testing::Digest::kSha1,
                                    testing::Bytes("Hello"),
                                    testing::Reversed(HexDecode(signature))));
}

TEST_F(XvfbDialogTest, EscapeChoosesNothing) {
  CTarvonaActiveXCtrl control(no_modules_, capi::nss::UserCryptoPlatform(), picker_);
  AnswerDialogWith("Escape");
  EXPECT_EQ(control.VerifyByCSP(0, kSourceDialog, "", 0, testing::kHello, "00"), kStoreUnavailable);
  EXPECT_TRUE(KeysTyped());
}

}  // namespace
}  // namespace tarvona
