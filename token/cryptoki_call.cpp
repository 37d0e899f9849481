#include "token/cryptoki_call.h"

#include <array>

#include "common/result_code.h"

namespace tarvona {
namespace {

constexpr size_t kOperations = static_cast<size_t>(Operation::kLookup) + 1;

// Each family's failure, for every answer but those listed below.
constexpr std::array<int32_t, kOperations> kFailures = {
    kModuleNotReady,   // kLoad
    kNoToken,          // kSlots
    kLoginFailed,      // kLogin
    kLogoutFailed,     // kLogout
    kSetPinFailed,     // kSetPin
    kInitPinFailed,    // kInitPin
    kPinIncorrect,     // kInitToken: the SO PIN is all the caller controls
    kTokenInitFailed,  // kAfterInitToken
    kDigestFailed,     // kDigest
    kSignFailed,       // kSign
    kVerifyFailed,     // kVerify
    kEncryptFailed,    // kEncrypt
    kDecryptFailed,    // kDecrypt
    kObjectNotFound,   // kLookup
};

struct Answer {
  Operation operation;
  CK_RV rv;
  int32_t result;
};

constexpr Answer kAnswers[] = {
    {Operation::kLoad, CKR_CRYPTOKI_ALREADY_INITIALIZED, kOk},
    {Operation::kLogin, CKR_USER_ALREADY_LOGGED_IN, kOk},
    {Operation::kLogin, CKR_PIN_INCORRECT, kPinIncorrect},
    {Operation::kLogin, CKR_USER_ANOTHER_ALREADY_LOGGED_IN, kAnotherUserLoggedIn},
    {Operation::kLogin, CKR_PIN_LOCKED, kPinLocked},
    {Operation::kLogout, CKR_USER_NOT_LOGGED_IN, kUserNotLoggedIn},
};

}  // namespace

int32_t FailureOf(Operation operation) { return kFailures[static_cast<size_t>(operation)]; }

int32_t ResultOf(Operation operation, CK_RV rv) {
  if (rv == CKR_OK) return kOk;
  for (const Answer& answer : kAnswers) {
    if (answer.operation == operation && answer.rv == rv) return answer.result;
  }
  return FailureOf(operation);
}

}  // namespace tarvona
