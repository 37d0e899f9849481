#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvona::capi {

// What the selection dialog shows of one certificate.
struct CertificateSummary {
  std::string subject;  // the common name, or the whole name when it has none
  std::string issuer;   // likewise
  std::string expires;  // the last day of validity, YYYY-MM-DD (UTC)
};

// What a store certificate is wanted for, as the dialogs tell the user.
enum class Purpose {
  kSign,     // signing: needs the private key
  kDecrypt,  // decryption: needs the private key
  kUse,      // verification or encryption: the certificate alone
};

// Who asks for a store operation and what for. The dialogs shown within
// the operation name the requester and close as soon as nobody waits for
// their answer any more.
struct Request {
  Purpose purpose = Purpose::kUse;
  std::string requester;  // the web origin that asks; empty for a program
  int hangup = -1;        // the host's input, whose hang-up ends the dialogs; -1 for none
};

// The store road's dialogs: lets the user choose one of the personal
// store's certificates, and unlock the store. Hosts may supply their own;
// tests supply a scripted one.
class CertificatePicker {
 public:
  virtual ~CertificatePicker() = default;
  // The position of the chosen certificate, or nullopt when the user chose
  // none. Blocks while the user decides.
  virtual std::optional<size_t> Pick(std::span<const CertificateSummary> certificates) = 0;
  // The same, for `request`. Pickers that show neither who asks nor what
  // for need not override.
  virtual std::optional<size_t> PickFor(const Request& request,
                                        std::span<const CertificateSummary> certificates) {
    (void)request;
    return Pick(certificates);
  }
  // The password that unlocks the key store named `store` (as the user
  // knows it), or nullopt when the user gives none. `attempt` counts from
  // 1; past 1 the last one was wrong. Without a dialog of its own, none.
  virtual std::optional<std::string> AskPassword(const Request& request, std::string_view store,
                                                 int attempt) {
    (void)request, (void)store, (void)attempt;
    return std::nullopt;
  }
};

// The platform's dialog. Lives for the whole process.
CertificatePicker& SystemCertificatePicker();

}  // namespace tarvona::capi
