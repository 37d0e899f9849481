#pragma once

#include "capi/crypto_platform.h"

namespace tarvona::capi::nss {

// The store road on Linux: the user's NSS database as the personal
// certificate store and as the RSA provider. Lives for the whole process.
CryptoPlatform& UserCryptoPlatform();

}  // namespace tarvona::capi::nss
