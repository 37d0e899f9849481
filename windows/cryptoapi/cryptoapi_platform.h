#pragma once

#include <memory>

#include "capi/certificate_picker.h"
#include "capi/crypto_platform.h"

namespace tarvona::capi::cryptoapi {

// The store road on Windows: the current user's "MY" store and the RSA
// providers of CryptoAPI. Byte strings pass through in CryptoAPI's own
// order. Lives for the whole process.
CryptoPlatform& UserCryptoPlatform();

// The system's certificate selection dialog (CryptUIDlgSelectCertificateFromStore)
// over the "MY" store; modal, without an owner window.
class CryptUiPicker final : public CertificatePicker {
 public:
  // Every certificate of the store.
  std::unique_ptr<Certificate> Choose() override;
  // For signing and decryption only those whose private key the store
  // holds; the dialog names the requester when there is one.
  std::unique_ptr<Certificate> ChooseFor(const Request& request) override;
};

}  // namespace tarvona::capi::cryptoapi
