#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"
#include "encoding/pem.h"
#include "token/der_serial.h"

namespace tarvona {
namespace {

using FindByIndex = int32_t (CCryptokiModule::*)(int32_t, CK_OBJECT_HANDLE&);

int32_t Enumerate(CCryptokiModule* module, FindByIndex find, int32_t index) {
  if (module == nullptr) return kModuleNotReady;
  CK_OBJECT_HANDLE object = 0;
  if (int32_t rc = (module->*find)(index, object); rc != kOk) return rc;
  return module->objects().ToScript(object).value_or(kObjectNotFound);
}

}  // namespace

int32_t CTarvonaActiveXCtrl::EnumCertificate(int32_t SessionID, int32_t lngCert) {
  return Enumerate(ActiveModuleFor(SessionID), &CCryptokiModule::FindCertificate, lngCert);
}

int32_t CTarvonaActiveXCtrl::EnumPublicKey(int32_t SessionID, int32_t lngPublic) {
  return Enumerate(ActiveModuleFor(SessionID), &CCryptokiModule::FindPublicKey, lngPublic);
}

int32_t CTarvonaActiveXCtrl::EnumPrivateKey(int32_t SessionID, int32_t lngPrivate) {
  return Enumerate(ActiveModuleFor(SessionID), &CCryptokiModule::FindPrivateKey, lngPrivate);
}

std::string CTarvonaActiveXCtrl::GetAttribute(int32_t SessionID, int32_t lngObject,
                                              int32_t lngAttribute) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr || lngAttribute < 1 || lngAttribute > 3) return {};
  std::vector<uint8_t> value;
  CK_OBJECT_HANDLE object = module->objects().FromScript(lngObject);
  if (module->GetAttribute(object, lngAttribute, value) != CKR_OK) return {};
  switch (lngAttribute) {
    case 1:
      // Sized from the value, so a certificate of any size comes back whole.
      return PemWrap(value, kCertificateHeader, kCertificateFooter);
    case 2:
      return HexEncode(value);
    default: {
      auto serial = SerialContent(value);
      return serial ? HexEncode(*serial) : std::string();
    }
  }
}

}  // namespace tarvona
