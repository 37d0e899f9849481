#include <algorithm>
#include <array>

#include "common/result_code.h"
#include "token/cryptoki_bytes.h"
#include "token/cryptoki_module.h"

namespace tarvona {
namespace {

int32_t LoginResult(CK_RV rv) {
  switch (rv) {
    case CKR_OK:
    case CKR_USER_ALREADY_LOGGED_IN:
      return kOk;
    case CKR_PIN_INCORRECT:
      return kPinIncorrect;
    case CKR_USER_ANOTHER_ALREADY_LOGGED_IN:
      return kAnotherUserLoggedIn;
    case CKR_PIN_LOCKED:
      return kPinLocked;
    default:
      return kLoginFailed;
  }
}

}  // namespace

int32_t CCryptokiModule::Login(bool security_officer, std::string_view pin) {
  if (!HasSession()) return kModuleNotReady;
  CK_RV rv = functions_->C_Login(session_, security_officer ? CKU_SO : CKU_USER, InputText(pin),
                                 pin.size());
  return LoginResult(rv);
}

int32_t CCryptokiModule::Logout() {
  if (!HasSession()) return kModuleNotReady;
  CK_RV rv = functions_->C_Logout(session_);
  if (rv == CKR_OK) return kOk;
  return rv == CKR_USER_NOT_LOGGED_IN ? kUserNotLoggedIn : kLogoutFailed;
}

int32_t CCryptokiModule::ChangePin(CK_USER_TYPE user, std::string_view old_pin,
                                   std::string_view new_pin) {
  if (!HasSession()) return kModuleNotReady;
  Logout();
  if (int32_t rc = Login(user == CKU_SO, old_pin); rc != kOk) return rc;
  CK_RV rv = functions_->C_SetPIN(session_, InputText(old_pin), old_pin.size(),
                                  InputText(new_pin), new_pin.size());
  Logout();
  return rv == CKR_OK ? kOk : kSetPinFailed;
}

int32_t CCryptokiModule::ChangeSOPin(std::string_view old_pin, std::string_view new_pin) {
  return ChangePin(CKU_SO, old_pin, new_pin);
}

int32_t CCryptokiModule::ChangeUserPin(std::string_view old_pin, std::string_view new_pin) {
  return ChangePin(CKU_USER, old_pin, new_pin);
}

int32_t CCryptokiModule::UnblockUserPin(std::string_view so_pin, std::string_view new_user_pin) {
  if (!HasSession()) return kModuleNotReady;
  Logout();
  if (int32_t rc = Login(true, so_pin); rc != kOk) return rc;
  CK_RV rv = functions_->C_InitPIN(session_, InputText(new_user_pin), new_user_pin.size());
  Logout();
  return rv == CKR_OK ? kOk : kInitPinFailed;
}

int32_t CCryptokiModule::InitializeToken(std::string_view so_pin, std::string_view user_pin,
                                         std::string_view label) {
  // The label field is 32 bytes wide, blank-padded; a longer name is cut.
  std::array<CK_UTF8CHAR, sizeof(CK_TOKEN_INFO::label)> field;
  field.fill(' ');
  std::copy_n(label.begin(), std::min(label.size(), field.size()), field.begin());

  if (!HasSession()) return kModuleNotReady;
  functions_->C_CloseAllSessions(slot_id_);
  if (functions_->C_InitToken(slot_id_, InputText(so_pin), so_pin.size(), field.data()) !=
      CKR_OK) {
    // The session was closed with all the others: forget its handle, so the
    // next operation reports the missing session instead of using a dead one.
    SetSession(0);
    return kPinIncorrect;
  }
  CK_SESSION_HANDLE fresh = 0;
  if (functions_->C_OpenSession(slot_id_, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                &fresh) != CKR_OK) {
    SetSession(0);
    slot_id_ = kNoSlot;
    return kTokenInitFailed;
  }
  SetSession(fresh);
  int32_t rc = UnblockUserPin(so_pin, user_pin);
  Disconnect();
  return rc == kOk ? kOk : kTokenInitFailed;
}

}  // namespace tarvona
