#pragma once

#include <memory>

#include "capi/crypto_platform.h"
#include "windows/cryptoapi/cryptoapi_handles.h"

// What the platform and the selection dialog share: the store and the
// certificates as the core sees them.
namespace tarvona::capi::cryptoapi {

// The current user's "MY" store; empty when it cannot be opened.
StoreHandle OpenMyStore();

// True when the store records where the certificate's private key lives;
// nothing is opened or unlocked to tell.
bool HoldsPrivateKey(PCCERT_CONTEXT certificate);

// Whether the certificate is within its validity now.
Validity ValidityNow(PCCERT_CONTEXT certificate);

// The core's view of a certificate context, which it takes over.
std::unique_ptr<Certificate> WrapCertificate(CertificateContext certificate);

}  // namespace tarvona::capi::cryptoapi
