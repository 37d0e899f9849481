#include <algorithm>
#include <array>

#include "common/result_code.h"
#include "token/cryptoki_call.h"
#include "token/cryptoki_module.h"

namespace tarvona {

std::optional<CkInput> CCryptokiModule::PinInput(std::string_view pin) const {
  if (pin.empty() && (token_flags_ & CKF_PROTECTED_AUTHENTICATION_PATH) != 0) {
    return CkInput{nullptr, 0};
  }
  return InputText(pin);
}

int32_t CCryptokiModule::Login(bool security_officer, std::string_view pin) {
  if (!HasSession()) return kModuleNotReady;
  const auto given = PinInput(pin);
  if (!given) return FailureOf(Operation::kLogin);
  return ResultOf(Operation::kLogin,
                  functions_->C_Login(session_, security_officer ? CKU_SO : CKU_USER, given->data,
                                      given->length));
}

int32_t CCryptokiModule::Logout() {
  if (!HasSession()) return kModuleNotReady;
  return ResultOf(Operation::kLogout, functions_->C_Logout(session_));
}

int32_t CCryptokiModule::ChangePin(CK_USER_TYPE user, std::string_view old_pin,
                                   std::string_view new_pin) {
  if (!HasSession()) return kModuleNotReady;
  const auto old_given = PinInput(old_pin);
  const auto new_given = PinInput(new_pin);
  if (!old_given || !new_given) return FailureOf(Operation::kSetPin);
  Logout();
  if (int32_t rc = Login(user == CKU_SO, old_pin); rc != kOk) return rc;
  CK_RV rv = functions_->C_SetPIN(session_, old_given->data, old_given->length, new_given->data,
                                  new_given->length);
  Logout();
  return ResultOf(Operation::kSetPin, rv);
}

int32_t CCryptokiModule::ChangeSOPin(std::string_view old_pin, std::string_view new_pin) {
  return ChangePin(CKU_SO, old_pin, new_pin);
}

int32_t CCryptokiModule::ChangeUserPin(std::string_view old_pin, std::string_view new_pin) {
  return ChangePin(CKU_USER, old_pin, new_pin);
}

int32_t CCryptokiModule::UnblockUserPin(std::string_view so_pin, std::string_view new_user_pin) {
  if (!HasSession()) return kModuleNotReady;
  const auto new_given = PinInput(new_user_pin);
  if (!new_given) return FailureOf(Operation::kInitPin);
  Logout();
  if (int32_t rc = Login(true, so_pin); rc != kOk) return rc;
  CK_RV rv = functions_->C_InitPIN(session_, new_given->data, new_given->length);
  Logout();
  return ResultOf(Operation::kInitPin, rv);
}

int32_t CCryptokiModule::InitializeToken(std::string_view so_pin, std::string_view user_pin,
                                         std::string_view label) {
  // The label field is 32 bytes wide, blank-padded; a longer name is cut.
  std::array<CK_UTF8CHAR, sizeof(CK_TOKEN_INFO::label)> field;
  field.fill(' ');
  std::copy_n(label.begin(), std::min(label.size(), field.size()), field.begin());

  if (!HasSession()) return kModuleNotReady;
  const auto so_given = InputText(so_pin);
  if (!so_given) return FailureOf(Operation::kInitToken);
  functions_->C_CloseAllSessions(slot_id_);
  CK_RV rv = functions_->C_InitToken(slot_id_, so_given->data, so_given->length, field.data());
  if (rv != CKR_OK) {
    // The session was closed with all the others: forget its handle, so the
    // next operation reports the missing session instead of using a dead one.
    SetSession(0);
    return ResultOf(Operation::kInitToken, rv);
  }
  CK_SESSION_HANDLE fresh = 0;
  rv = OpenSession(slot_id_, fresh);
  if (rv != CKR_OK) {
    SetSession(0);
    slot_id_ = kNoSlot;
    return ResultOf(Operation::kAfterInitToken, rv);
  }
  SetSession(fresh);
  int32_t rc = UnblockUserPin(so_pin, user_pin);
  Disconnect();
  return rc == kOk ? kOk : kTokenInitFailed;
}

}  // namespace tarvona
