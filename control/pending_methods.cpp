// Methods whose token and store operations are not built yet: each answers
// with its failure form.
#include "common/result_code.h"
#include "control/tarvona_control.h"

namespace tarvona {

int32_t CTarvonaActiveXCtrl::Login(int32_t, std::string_view) { return kModuleNotReady; }
int32_t CTarvonaActiveXCtrl::Logout(int32_t) { return kModuleNotReady; }
int32_t CTarvonaActiveXCtrl::ChangeSOPin(int32_t, std::string_view, std::string_view) {
  return kModuleNotReady;
}
int32_t CTarvonaActiveXCtrl::ChangeUserPin(int32_t, std::string_view, std::string_view) {
  return kModuleNotReady;
}
int32_t CTarvonaActiveXCtrl::UnblockUserPin(int32_t, std::string_view, std::string_view) {
  return kModuleNotReady;
}
int32_t CTarvonaActiveXCtrl::TokenInitialize(int32_t, std::string_view, std::string_view,
                                             std::string_view) {
  return kModuleNotReady;
}
int32_t CTarvonaActiveXCtrl::VerifyCertCRL(int32_t, int32_t, std::string_view) { return 1; }
int32_t CTarvonaActiveXCtrl::EnumCertificate(int32_t, int32_t) { return kModuleNotReady; }
int32_t CTarvonaActiveXCtrl::EnumPublicKey(int32_t, int32_t) { return kModuleNotReady; }
int32_t CTarvonaActiveXCtrl::EnumPrivateKey(int32_t, int32_t) { return kModuleNotReady; }
std::string CTarvonaActiveXCtrl::GetAttribute(int32_t, int32_t, int32_t) { return {}; }
std::string CTarvonaActiveXCtrl::Encrypt(int32_t, int32_t, int32_t, std::string_view) {
  return {};
}
std::string CTarvonaActiveXCtrl::Decrypt(int32_t, int32_t, int32_t, std::string_view) {
  return {};
}
std::string CTarvonaActiveXCtrl::Hash(int32_t, int32_t, std::string_view) { return {}; }
std::string CTarvonaActiveXCtrl::Sign(int32_t, int32_t, int32_t, std::string_view) { return {}; }
std::string CTarvonaActiveXCtrl::SignByCertSerial(int32_t, std::string_view, int32_t,
                                                  std::string_view) {
  return {};
}
int32_t CTarvonaActiveXCtrl::Verify(int32_t, int32_t, int16_t, std::string_view,
                                    std::string_view) {
  return kModuleNotReady;
}
int32_t CTarvonaActiveXCtrl::VerifyByCertSerial(int32_t, std::string_view, int32_t,
                                                std::string_view, std::string_view) {
  return kModuleNotReady;
}
std::string CTarvonaActiveXCtrl::SignByCSP(int32_t, int32_t, std::string_view, int32_t,
                                           std::string_view) {
  return {};
}
int32_t CTarvonaActiveXCtrl::VerifyByCSP(int32_t, int32_t, std::string_view, int32_t,
                                         std::string_view, std::string_view) {
  return kStoreUnavailable;
}
std::string CTarvonaActiveXCtrl::EncryptByCSP(int32_t, int32_t, std::string_view, int32_t,
                                              std::string_view) {
  return {};
}
std::string CTarvonaActiveXCtrl::DecryptByCSP(int32_t, int32_t, std::string_view, int32_t,
                                              std::string_view) {
  return {};
}

}  // namespace tarvona
