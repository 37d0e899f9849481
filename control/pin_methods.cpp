#include "common/result_code.h"
#include "control/tarvona_control.h"

namespace tarvona {

int32_t CTarvonaActiveXCtrl::Login(int32_t SessionID, std::string_view strUserPin) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  return module ? module->Login(false, strUserPin) : kModuleNotReady;
}

int32_t CTarvonaActiveXCtrl::Logout(int32_t SessionID) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  return module ? module->Logout() : kModuleNotReady;
}

int32_t CTarvonaActiveXCtrl::ChangeSOPin(int32_t SessionID, std::string_view strCurrSOPin,
                                         std::string_view strNewSOPin) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  return module ? module->ChangeSOPin(strCurrSOPin, strNewSOPin) : kModuleNotReady;
}

int32_t CTarvonaActiveXCtrl::ChangeUserPin(int32_t SessionID, std::string_view strCurrUserPin,
                                           std::string_view strNewUserPin) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  return module ? module->ChangeUserPin(strCurrUserPin, strNewUserPin) : kModuleNotReady;
}

int32_t CTarvonaActiveXCtrl::UnblockUserPin(int32_t SessionID, std::string_view strSOPin,
                                            std::string_view strUserPin) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  return module ? module->UnblockUserPin(strSOPin, strUserPin) : kModuleNotReady;
}

int32_t CTarvonaActiveXCtrl::TokenInitialize(int32_t SessionID, std::string_view strSOPin,
                                             std::string_view strNewUserPin,
                                             std::string_view strNewTokenName) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  return module ? module->InitializeToken(strSOPin, strNewUserPin, strNewTokenName)
                : kModuleNotReady;
}

// No certificate or revocation list is examined: the answer is always 1.
int32_t CTarvonaActiveXCtrl::VerifyCertCRL(int32_t, int32_t, std::string_view) { return 1; }

}  // namespace tarvona
