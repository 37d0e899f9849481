#pragma once

#include <cstdint>

namespace tarvona {

// Result codes seen by script. 0 is success; every failure is one of these.
// The numbers are part of the scripting interface and never change.
enum ResultCode : int32_t {
  kOk = 0,

  kModuleNotLoaded = 1001,     // a Cryptoki module file could not be loaded
  kModuleNotReady = 1002,      // wrong session handle, no module, not ready, no session
  kNoToken = 1003,             // no token, no token info, or no session could be opened
  kInvalidArgument = 1004,
  kDigestFailed = 1005,        // token digest; store-road hash or sign
  kSignFailed = 1006,
  kVerifyFailed = 1007,
  kEncryptFailed = 1008,
  kDecryptFailed = 1009,
  kTokenInitFailed = 1010,     // after C_InitToken: session or user PIN
  kObjectNotFound = 1011,

  kStoreUnavailable = 1301,    // store cannot be opened, or nothing chosen
  kNotACertificate = 1302,
  kKeyUnavailable = 1303,
  kCertificateFileUnreadable = 1304,
  kProviderUnavailable = 1305,

  kPinIncorrect = 4001,
  kAnotherUserLoggedIn = 4002,
  kLoginFailed = 4003,
  kLogoutFailed = 4004,
  kUserNotLoggedIn = 4005,
  kPinLocked = 4006,
  kSetPinFailed = 4007,
  kInitPinFailed = 4008,

  kNotConnected = 5001,
};

}  // namespace tarvona
