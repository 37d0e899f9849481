#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capi/certificate_picker.h"
#include "capi/nss/nss_context.h"
#include "capi/nss/nss_platform.h"
#include "testing/nss_database.h"
#include "testing/softhsm_tokens.h"

namespace tarvona::testing {

inline constexpr char kHello[] = "48656C6C6F";

inline std::string DataFile(const std::string& name) { return TestDataDir() + "/" + name; }
inline std::string KeyPath(const std::string& name) { return DataFile(name + ".key.pem"); }
inline std::string Pem(const std::string& name) {
  auto bytes = ReadFile(DataFile(name + ".cert.pem"));
  return {bytes.begin(), bytes.end()};
}
inline std::vector<uint8_t> Der(const std::string& name) {
  return ReadFile(DataFile(name + ".cert.der"));
}
inline std::vector<uint8_t> Reversed(std::span<const uint8_t> bytes) {
  return {bytes.rbegin(), bytes.rend()};
}

// Answers the selection dialog as told and keeps what it was shown.
class ScriptedPicker final : public capi::ListPicker {
 public:
  using ListPicker::ListPicker;
  std::optional<size_t> Pick(std::span<const capi::CertificateSummary> certificates) override {
    shown.assign(certificates.begin(), certificates.end());
    return answer;
  }
  std::optional<size_t> answer;
  std::vector<capi::CertificateSummary> shown;
};

// A database of its own for each test. NSS refuses to shut down while any
// certificate, key or list is still referenced, so the shutdown at the end
// proves that every call released what it took.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { capi::nss::SetDatabaseDirectory(database_.directory()); }
  void TearDown() override {
    EXPECT_TRUE(capi::nss::Shutdown()) << "an NSS object outlived its call";
    capi::nss::SetDatabaseDirectory({});
  }

  NssDatabase database_;
};

}  // namespace tarvona::testing
