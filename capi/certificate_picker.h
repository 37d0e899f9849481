#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "capi/crypto_platform.h"
#include "common/translatable.h"

namespace tarvona::capi {

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

// Who asks and what for, as the dialogs say it: "bank.example wants to sign
// with one of your certificates". A site is named by its host (and port),
// "http://" kept so that a page without TLS shows as one; "A program" asks
// when no site does. Each text goes through `translate` (the dialog's
// platform::Translate), the site name put in afterwards. Inline: the
// dialog programs take it without linking the store road.
inline std::string RequestLine(Purpose purpose, std::string_view requester,
                               std::string (*translate)(const char* english)) {
  const char* pattern = Translatable("%s wants to use one of your certificates");
  switch (purpose) {
    case Purpose::kSign:
      pattern = Translatable("%s wants to sign with one of your certificates");
      break;
    case Purpose::kDecrypt:
      pattern = Translatable("%s wants to decrypt with one of your certificates");
      break;
    case Purpose::kUse:
      break;
  }
  if (requester.starts_with("https://")) requester.remove_prefix(8);
  const std::string who =
      requester.empty() ? translate(Translatable("A program")) : std::string(requester);
  return FillIn(translate(pattern), {who});
}

// The store road's dialogs: lets the user choose one certificate of the
// personal store, and unlock the store. Each platform shows its own dialog
// over its own store; hosts may supply their own, tests a scripted one.
class CertificatePicker {
 public:
  virtual ~CertificatePicker() = default;
  // The chosen certificate, or null when the user chose none or there is no
  // store to choose from. Blocks while the user decides.
  virtual std::unique_ptr<Certificate> Choose() = 0;
  // The same, for `request`: for signing and decryption only certificates
  // whose private key the store holds can serve. Pickers that show neither
  // who asks nor what for, nor filter, need not override.
  virtual std::unique_ptr<Certificate> ChooseFor(const Request& request) {
    (void)request;
    return Choose();
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

// A dialog that shows a list: the platform's personal store, in the store's
// order, one summary per certificate, those out of their validity (expired
// or not yet valid) last; for signing and decryption only the certificates
// whose private key the store holds.
class ListPicker : public CertificatePicker {
 public:
  explicit ListPicker(CryptoPlatform& platform) : platform_(platform) {}
  std::unique_ptr<Certificate> Choose() final;
  std::unique_ptr<Certificate> ChooseFor(const Request& request) final;

  // The position of the chosen certificate, or nullopt when the user chose
  // none.
  virtual std::optional<size_t> Pick(std::span<const CertificateSummary> certificates) = 0;
  // The same, for `request`. Lists that show neither who asks nor what for
  // need not override.
  virtual std::optional<size_t> PickFor(const Request& request,
                                        std::span<const CertificateSummary> certificates) {
    (void)request;
    return Pick(certificates);
  }

 private:
  CryptoPlatform& platform_;
};

}  // namespace tarvona::capi
