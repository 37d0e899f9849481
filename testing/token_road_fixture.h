#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "testing/no_store.h"
#include "testing/openssl_judge.h"
#include "testing/token_test_base.h"

namespace tarvona::testing {

// A token "alpha" holding the rsa2048 pair (CKA_ID 01) and a connected
// control, not yet logged in.
class TokenRoadTest : public TokenTest {
 protected:
  static constexpr char kRsa2048Serial[] = "00C0FFEE01";

  void SetUp() override {
    serial_ = tokens_.AddToken("alpha");
    tokens_.ImportKeyPair("alpha", "rsa2048", {0x01});
    Connect();
  }

  void Connect() {
    control_ = std::make_unique<CTarvonaActiveXCtrl>(loader_, NoStore(), NoStore());
    handle_ = control_->ConnectToken();
    ASSERT_GE(handle_, 0x10000) << "ConnectToken failed";
  }

  void LogIn() { ASSERT_EQ(control_->Login(handle_, kUserPin), kOk); }

  static std::string DataFile(const std::string& name) { return TestDataDir() + "/" + name; }
  static std::string CertificatePem(const std::string& key_name) {
    auto bytes = ReadFile(DataFile(key_name + ".cert.pem"));
    return {bytes.begin(), bytes.end()};
  }
  static std::string KeyPath(const std::string& key_name) {
    return DataFile(key_name + ".key.pem");
  }

  std::string serial_;
  std::unique_ptr<CTarvonaActiveXCtrl> control_;
  int32_t handle_ = 0;
};

}  // namespace tarvona::testing
