#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "capi/certificate_picker.h"
#include "capi/crypto_platform.h"
#include "common/result_code.h"

namespace tarvona::testing {

// A certificate store road with nothing behind it: no store opens, nothing
// parses, no provider is had and the dialog chooses none. Controls under
// test that are not about the store road get it, so that no test reaches
// the user's own NSS database or opens a dialog on the desktop.
class NoCertificateStore final : public capi::CryptoPlatform, public capi::CertificatePicker {
 public:
  std::optional<std::vector<std::unique_ptr<capi::Certificate>>> OpenPersonalStore() override {
    return std::nullopt;
  }
  int32_t ParseCertificate(std::span<const uint8_t>, std::unique_ptr<capi::Certificate>&) override {
    return kProviderUnavailable;
  }
  std::unique_ptr<capi::PrivateKeyProvider> AcquirePrivateKey(const capi::Certificate&) override {
    return nullptr;
  }
  std::unique_ptr<capi::DefaultProvider> AcquireDefaultProvider() override { return nullptr; }
  std::unique_ptr<capi::Certificate> Choose() override { return nullptr; }
};

inline NoCertificateStore& NoStore() {
  static NoCertificateStore none;
  return none;
}

}  // namespace tarvona::testing
