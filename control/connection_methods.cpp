#include <string>

#include "common/result_code.h"
#include "control/tarvona_control.h"

namespace tarvona {

CTarvonaActiveXCtrl::CTarvonaActiveXCtrl(const platform::LibraryLoader& loader,
                                         capi::CryptoPlatform& crypto,
                                         capi::CertificatePicker& picker)
    : tokens_(loader), csp_(crypto, picker) {}

CTarvonaActiveXCtrl::~CTarvonaActiveXCtrl() = default;

CCryptokiModule* CTarvonaActiveXCtrl::ActiveModuleFor(int32_t SessionID) {
  return IsOwnSession(SessionID) ? tokens_.ActiveModule() : nullptr;
}

int32_t CTarvonaActiveXCtrl::ConnectToken() {
  int32_t rc = tokens_.Connect();
  return rc == kOk ? handle_.value() : rc;
}

int32_t CTarvonaActiveXCtrl::DisconnectToken(int32_t SessionID) {
  if (!IsOwnSession(SessionID)) return kModuleNotReady;
  return tokens_.Disconnect();
}

std::string CTarvonaActiveXCtrl::RetrieveSerial(int32_t SessionID) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr) return std::to_string(kModuleNotReady);
  std::array<char, CCryptokiModule::kSerialSize> serial{};
  if (int32_t rc = module->RetrieveSerial(serial); rc != kOk) return std::to_string(rc);
  // The field is blank-padded, not terminated; a NUL inside it ends the text.
  std::string_view text(serial.data(), serial.size());
  return std::string(text.substr(0, text.find('\0')));
}

std::string CTarvonaActiveXCtrl::RetrieveAllTokenSerial(int32_t SessionID) {
  if (!IsOwnSession(SessionID)) return std::to_string(kModuleNotReady);
  std::string list = tokens_.RetrieveAllTokenSerials();
  // No token through either module is reported as 1002, not 1003.
  if (list.empty()) return std::to_string(kModuleNotReady);
  return list;
}

}  // namespace tarvona
