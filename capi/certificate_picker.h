#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace tarvona::capi {

// What the selection dialog shows of one certificate.
struct CertificateSummary {
  std::string subject;  // the common name, or the whole name when it has none
  std::string issuer;   // likewise
  std::string expires;  // the last day of validity, YYYY-MM-DD (UTC)
};

// Lets the user choose one of the personal store's certificates. Hosts may
// supply their own; tests supply a scripted one.
class CertificatePicker {
 public:
  virtual ~CertificatePicker() = default;
  // The position of the chosen certificate, or nullopt when the user chose
  // none. Blocks while the user decides.
  virtual std::optional<size_t> Pick(std::span<const CertificateSummary> certificates) = 0;
};

// The platform's dialog. Lives for the whole process.
CertificatePicker& SystemCertificatePicker();

}  // namespace tarvona::capi
