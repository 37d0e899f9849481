// The real selection dialog, tarvona-certpicker, driven by keyboard under a
// private X server. A dialog that never takes its keys hangs its test until
// ctest's time limit.
#include "capi/dialog/dialog_picker.h"

#include <array>
#include <chrono>
#include <cstdlib>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "testing/openssl_judge.h"
#include "testing/test_library_loader.h"
#include "testing/user_locale.h"
#include "testing/xvfb_display.h"
#include "tests/capi/store_test.h"

namespace tarvona {
namespace {

TEST(DialogPickerTest, WithoutADisplayChoosesNoneAtOnce) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const capi::CertificateSummary shown[] = {
      {"a", "a", "2030-01-01", "2020-01-01", capi::Validity::kValid},
      {"b", "b", "2030-01-01", "2020-01-01", capi::Validity::kValid}};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(capi::DialogPicker(capi::nss::UserCryptoPlatform()).Pick(shown), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

class XvfbDialogTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    ASSERT_TRUE(testing::XvfbDisplay::Available()) << "needs Xvfb and xdotool";
    ASSERT_TRUE(display_.Start()) << "Xvfb did not start";
    database_.ImportKeyPair("rsa1024");
    database_.ImportKeyPair("rsa2048");
  }

  void AnswerDialogWith(const std::string& keys, const std::string& title =
                                                     "A program wants to sign with one of your "
                                                     "certificates") {
    display_.AnswerWindow(title, keys);
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
  AnswerDialogWith("Escape", "A program wants to use one of your certificates");
  EXPECT_EQ(control.VerifyByCSP(0, kSourceDialog, "", 0, testing::kHello, "00"), kStoreUnavailable);
  EXPECT_TRUE(KeysTyped());
}

// The dialog names the site that asks and what for, and offers for signing
// and decryption only the certificates whose key the store holds: the last
// one listed is then rsa2048, not rsa4096 (stored without its key).
TEST_F(XvfbDialogTest, TheDialogSaysWhoAsksAndOffersOnlyWhatCanServe) {
  database_.AddCertificate(testing::DataFile("rsa4096.cert.der"), "rsa4096");
  const auto hello = testing::Bytes("Hello");
  const std::string for_rsa2048 =
      HexEncode(testing::Reversed(testing::EncryptTo(testing::Pem("rsa2048"), hello)));
  const std::string by_rsa4096 = HexEncode(testing::Reversed(
      testing::SignWith(testing::KeyPath("rsa4096"), testing::Digest::kSha1, hello)));
  enum class Call { kSign, kDecrypt, kVerify };
  const struct {
    std::string requester;
    Call call;
    std::string title;
  } cases[] = {
      {"https://bank.example", Call::kSign,
       "bank.example wants to sign with one of your certificates"},
      {"http://localhost:8000", Call::kDecrypt,
       "http://localhost:8000 wants to decrypt with one of your certificates"},
      {"https://bank.example:8443", Call::kVerify,
       "bank.example:8443 wants to use one of your certificates"},
      {"", Call::kVerify, "A program wants to use one of your certificates"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    CTarvonaActiveXCtrl control(no_modules_, capi::nss::UserCryptoPlatform(), picker_);
    control.SetCaller(c.requester, -1);
    AnswerDialogWith("End Return", c.title);
    switch (c.call) {
      case Call::kSign:
        EXPECT_TRUE(testing::VerifiesWith(testing::Pem("rsa2048"), testing::Digest::kSha1, hello,
                                          testing::Reversed(HexDecode(control.SignByCSP(
                                              0, kSourceDialog, "", 0, testing::kHello)))));
        break;
      case Call::kDecrypt:
        EXPECT_EQ(control.DecryptByCSP(0, kSourceDialog, "", 0, for_rsa2048), testing::kHello);
        break;
      case Call::kVerify:
        EXPECT_EQ(control.VerifyByCSP(0, kSourceDialog, "", 0, testing::kHello, by_rsa4096), kOk);
        break;
    }
    EXPECT_TRUE(KeysTyped());
  }
}

// A store locked by a primary password is unlocked within the call: the
// prompt takes the right password, asks again after a wrong one, and ends
// the call with the store's answer for an unreachable key (1303) when
// cancelled or after three wrong ones.
TEST_F(XvfbDialogTest, ALockedStoreAsksForItsPasswordWithinTheCall) {
  database_.SetPassword("secret");
  const std::string right = "xdotool type --delay 20 secret && xdotool key Return";
  const std::string wrong = "xdotool type --delay 20 guess && xdotool key Return";
  const struct {
    std::vector<std::string> answers;
    bool signs;
  } cases[] = {
      {{right}, true},
      {{wrong, right}, true},
      {{"xdotool key Escape"}, false},
      {{wrong, wrong, wrong}, false},
  };
  const std::vector<uint8_t> serial = HexDecode("1001");  // rsa1024
  std::array<uint8_t, 1000> signature{};
  size_t length = 0;
  auto sign = [&] {
    // Each signature starts locked.
    EXPECT_TRUE(capi::nss::Shutdown());
    CCspCrypto csp(capi::nss::UserCryptoPlatform(), picker_);
    csp.SetCaller("https://bank.example", -1);
    return csp.SignWithCertificate(kSourceSerial, std::span<const uint8_t>(serial), 0,
                                   testing::Bytes("Hello"), signature, length);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers.size());
    display_.AnswerWindows("Password for NSS Certificate DB", c.answers);
    int32_t rc = sign();
    EXPECT_TRUE(KeysTyped());
    if (c.signs) {
      ASSERT_EQ(rc, kOk);
      EXPECT_TRUE(testing::VerifiesWith(
          testing::Pem("rsa1024"), testing::Digest::kSha1, testing::Bytes("Hello"),
          testing::Reversed(std::span<const uint8_t>(signature).first(length))));
    } else {
      EXPECT_EQ(rc, kKeyUnavailable);
    }
  }
  // No display: the same code, and no prompt to wait for.
  unsetenv("DISPLAY");
  EXPECT_EQ(sign(), kKeyUnavailable);
}

// The dialogs speak the user's language, German here (LANG, with the
// locale made for the test), and name the site and what it asks for in it:
// the picker lists the expired certificate, first in the store, after the
// valid ones, so Return takes rsa1024; the password prompt asks in German.
TEST_F(XvfbDialogTest, TheDialogsSpeakTheUsersLanguage) {
  database_.MakeKeyPair("expired", "CN=Tarvona Test aaa expired", -24, 12);
  testing::UserLocale german("de_DE.UTF-8");
  ASSERT_TRUE(german.made()) << "localedef could not make de_DE.UTF-8 (Debian's locales package)";
  const auto hello = testing::Bytes("Hello");
  {
    CTarvonaActiveXCtrl control(no_modules_, capi::nss::UserCryptoPlatform(), picker_);
    control.SetCaller("https://bank.example", -1);
    AnswerDialogWith("Return", "bank.example möchte mit einem Ihrer Zertifikate signieren");
    const std::string signature = control.SignByCSP(0, kSourceDialog, "", 0, testing::kHello);
    EXPECT_TRUE(KeysTyped());
    EXPECT_TRUE(testing::VerifiesWith(testing::Pem("rsa1024"), testing::Digest::kSha1, hello,
                                      testing::Reversed(HexDecode(signature))));
  }
  ASSERT_TRUE(capi::nss::Shutdown());
  database_.SetPassword("secret");
  display_.AnswerWindows("Passwort für NSS Certificate DB",
                         {"xdotool type --delay 20 secret && xdotool key Return"});
  CCspCrypto csp(capi::nss::UserCryptoPlatform(), picker_);
  csp.SetCaller("https://bank.example", -1);
  const std::vector<uint8_t> serial = HexDecode("1001");
  std::array<uint8_t, 1000> signature{};
  size_t length = 0;
  ASSERT_EQ(csp.SignWithCertificate(kSourceSerial, std::span<const uint8_t>(serial), 0, hello,
                                    signature, length),
            kOk);
  EXPECT_TRUE(KeysTyped());
  EXPECT_TRUE(
      testing::VerifiesWith(testing::Pem("rsa1024"), testing::Digest::kSha1, hello,
                            testing::Reversed(std::span<const uint8_t>(signature).first(length))));
}

}  // namespace
}  // namespace tarvona
