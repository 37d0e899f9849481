// Modules and readers as users have them: modules that keep a failed
// operation active, write-protected tokens, and readers with a keypad.
#include <functional>
#include <string>
#include <vector>

#include "testing/token_road_fixture.h"

namespace tarvona {
namespace {

using testing::Bytes;
using testing::Digest;
using testing::DigestOf;
using testing::kSoPin;
using testing::kUserPin;

class ModuleQuirksTest : public testing::TokenRoadTest {
 protected:
  void Start() {
    LogIn();
    private_key_ = control_->EnumPrivateKey(handle_, 0);
    public_key_ = control_->EnumPublicKey(handle_, 0);
    certificate_ = control_->EnumCertificate(handle_, 0);
    ASSERT_NE(private_key_, kObjectNotFound);
  }

  int32_t private_key_ = 0;
  int32_t public_key_ = 0;
  int32_t certificate_ = 0;
};

// A module whose failing call keeps its operation active (the fault layer
// answers without reaching SoftHSM, whose operation then stays open): each
// kind of later call still works, on a fresh session, with the user still
// logged in.
TEST_F(ModuleQuirksTest, AnOperationLeftActiveIsEndedWithItsSession) {
  Start();
  const std::string data = "616263";
  const std::string sha1 = HexEncode(DigestOf(Digest::kSha1, Bytes("abc")));
  const std::string signature = control_->Sign(handle_, private_key_, 0, data);
  const std::string ciphertext = control_->Encrypt(handle_, public_key_, 0, data);
  ASSERT_EQ(signature.size(), 512u);

  struct Failing {
    const char* function;
    std::function<void()> call;
  };
  const Failing failing[] = {
      {"C_Digest", [&] { control_->Hash(handle_, 0, data); }},
      {"C_Sign", [&] { control_->Sign(handle_, private_key_, 0, data); }},
      {"C_Verify", [&] { control_->Verify(handle_, public_key_, 0, data, signature); }},
      {"C_Encrypt", [&] { control_->Encrypt(handle_, public_key_, 0, data); }},
      {"C_Decrypt", [&] { control_->Decrypt(handle_, private_key_, 0, ciphertext); }},
      {"C_FindObjectsFinal", [&] { control_->EnumCertificate(handle_, 0); }},
  };
  struct Next {
    const char* name;
    const char* init;  // what finds the session busy
    std::function<bool()> works;
  };
  const Next next[] = {
      {"EnumCertificate", "C_FindObjectsInit",
       [&] { return control_->EnumCertificate(handle_, 0) == certificate_; }},
      {"Hash", "C_DigestInit", [&] { return control_->Hash(handle_, 0, data) == sha1; }},
      {"Sign", "C_SignInit",
       [&] { return control_->Sign(handle_, private_key_, 0, data) == signature; }},
      {"Verify", "C_VerifyInit",
       [&] { return control_->Verify(handle_, public_key_, 0, data, signature) == kOk; }},
      {"Encrypt", "C_EncryptInit",
       [&] { return control_->Encrypt(handle_, public_key_, 0, data).size() == 512; }},
      {"Decrypt", "C_DecryptInit",
       [&] { return control_->Decrypt(handle_, private_key_, 0, ciphertext) == data; }},
      {"SignByCertSerial", "C_FindObjectsInit",
       [&] { return control_->SignByCertSerial(handle_, kRsa2048Serial, 0, data) == signature; }},
  };
  for (const Failing& fault : failing) {
    for (const Next& call : next) {
      SCOPED_TRACE(std::string(fault.function) + " failed, then " + call.name);
      tarvona_fault_inject(0, fault.function, CKR_GENERAL_ERROR, 1, 1);
      fault.call();
      tarvona_trace_clear();
      EXPECT_TRUE(call.works());
      // The busy Init, a fresh session opened before the old one closes
      // (the login lives on), and the Init once more.
      const auto calls = TracedCalls();
      ASSERT_GE(calls.size(), 4u);
      EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
                (std::vector<std::string>{call.init, "C_OpenSession", "C_CloseSession", call.init}));
    }
  }

  // A session that stays busy even when fresh: the method fails in its own
  // form, once, and the next call works.
  tarvona_fault_inject(0, "C_SignInit", CKR_OPERATION_ACTIVE, 1, 2);
  EXPECT_EQ(control_->Sign(handle_, private_key_, 0, data), "");
  EXPECT_EQ(control_->Sign(handle_, private_key_, 0, data), signature);
  tarvona_fault_inject(0, "C_FindObjectsInit", CKR_OPERATION_ACTIVE, 1, 2);
  EXPECT_EQ(control_->EnumCertificate(handle_, 0), kObjectNotFound);
  EXPECT_EQ(control_->EnumCertificate(handle_, 0), certificate_);
}

// A write-protected token connects read-only: reading and key use work;
// what needs writing fails with the method's code, and nothing is changed.
TEST_F(ModuleQuirksTest, WriteProtectedTokensConnectReadOnly) {
  tarvona_fault_write_protected(0, 1);
  tarvona_trace_clear();
  Connect();
  std::vector<CK_FLAGS> flags;
  for (const auto& open : TracedEntries("C_OpenSession")) flags.push_back(open.flags);
  EXPECT_EQ(flags, (std::vector<CK_FLAGS>{CKF_SERIAL_SESSION | CKF_RW_SESSION,
                                           CKF_SERIAL_SESSION}));
  Start();
  const std::string signature = control_->SignByCertSerial(handle_, kRsa2048Serial, 0, "00");
  ASSERT_EQ(signature.size(), 512u);
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, "00", signature), kOk);
  EXPECT_FALSE(control_->GetAttribute(handle_, certificate_, 1).empty());
  EXPECT_EQ(control_->Decrypt(handle_, private_key_, 0,
                              control_->Encrypt(handle_, public_key_, 0, "00FF")),
            "00FF");

  // A fresh session in place of a busy one is read-only too.
  tarvona_fault_inject(0, "C_Sign", CKR_GENERAL_ERROR, 1, 1);
  EXPECT_EQ(control_->Sign(handle_, private_key_, 0, "00"), "");
  tarvona_trace_clear();
  EXPECT_EQ(control_->Sign(handle_, private_key_, 0, "00"), signature);
  ASSERT_EQ(TracedEntries("C_OpenSession").size(), 2u);
  EXPECT_EQ(TracedEntries("C_OpenSession").back().flags, CKF_SERIAL_SESSION);

  EXPECT_EQ(control_->ChangeUserPin(handle_, kUserPin, "4321"), kSetPinFailed);
  EXPECT_EQ(control_->ChangeSOPin(handle_, kSoPin, "8765"), kLoginFailed);
  EXPECT_EQ(control_->UnblockUserPin(handle_, kSoPin, "4321"), kLoginFailed);
  EXPECT_NE(control_->TokenInitialize(handle_, kSoPin, "4321", "renamed"), kOk);

  tarvona_faults_reset();
  Connect();
  EXPECT_EQ(control_->Login(handle_, "4321"), kPinIncorrect);
  EXPECT_EQ(control_->Login(handle_, kUserPin), kOk);
  EXPECT_EQ(control_->SignByCertSerial(handle_, kRsa2048Serial, 0, "00"), signature);
}

// A reader with its own keypad: an empty PIN reaches the module as a null
// pointer, so the reader asks; a PIN given in the page passes as it is.
TEST_F(ModuleQuirksTest, EmptyPinsAreTypedOnTheReadersKeypad) {
  const char* typed[] = {kUserPin, kUserPin, kUserPin, "4321", kSoPin, kUserPin};
  tarvona_fault_pin_pad(0, typed, std::size(typed));
  Connect();

  struct Step {
    const char* name;
    std::function<int32_t()> call;
    int32_t expected;
    const char* function;  // the last PIN call's null PIN is checked
    bool null_pin;
  };
  const Step steps[] = {
      {"Login on the keypad", [&] { return control_->Login(handle_, ""); }, kOk, "C_Login", true},
      {"Login in the page", [&] { return control_->Login(handle_, kUserPin); }, kOk, "C_Login",
       false},
      {"ChangeUserPin on the keypad", [&] { return control_->ChangeUserPin(handle_, "", ""); },
       kOk, "C_SetPIN", true},
      {"UnblockUserPin on the keypad", [&] { return control_->UnblockUserPin(handle_, "", ""); },
       kOk, "C_InitPIN", true},
      {"nothing left to type", [&] { return control_->Login(handle_, ""); }, kLoginFailed,
       "C_Login", true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    tarvona_trace_clear();
    EXPECT_EQ(step.call(), step.expected);
    const auto calls = TracedEntries(step.function);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().null_pin, step.null_pin);
    if (step.null_pin) {
      EXPECT_EQ(calls.back().length, 0u);
    }
  }
  // The PIN set on the keypad ("4321", then unblocked back) holds.
  tarvona_faults_reset();
  Connect();
  EXPECT_EQ(control_->Login(handle_, kUserPin), kOk);
  EXPECT_EQ(control_->SignByCertSerial(handle_, kRsa2048Serial, 0, "00").size(), 512u);
}

}  // namespace
}  // namespace tarvona
