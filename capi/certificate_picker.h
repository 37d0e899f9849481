#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>

#include "capi/crypto_platform.h"

namespace tarvona::capi {

// Lets the user choose one certificate of the personal store. Each platform
// shows its own dialog over its own store; hosts may supply their own,
// tests a scripted one.
class CertificatePicker {
 public:
  virtual ~CertificatePicker() = default;
  // The chosen certificate, or null when the user chose none or there is no
  // store to choose from. Blocks while the user decides.
  virtual std::unique_ptr<Certificate> Choose() = 0;
};

// A dialog that shows a list: the platform's personal store, in the store's
// order, one summary per certificate.
class ListPicker : public CertificatePicker {
 public:
  explicit ListPicker(CryptoPlatform& platform) : platform_(platform) {}
  std::unique_ptr<Certificate> Choose() final;

  // The position of the chosen certificate, or nullopt when the user chose
  // none.
  virtual std::optional<size_t> Pick(std::span<const CertificateSummary> certificates) = 0;

 private:
  CryptoPlatform& platform_;
};

}  // namespace tarvona::capi
