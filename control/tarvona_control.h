#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "capi/certificate_picker.h"
#include "capi/crypto_platform.h"
#include "capi/csp_crypto.h"
#include "control/session_handle.h"
#include "token/token_pair.h"

namespace tarvona {

// The control object: every method of the scripting interface is one member
// here. Methods take integers and 8-bit text, and return an integer or
// text; no method throws, every outcome is in the return value. Parameter
// names are those of the type library.
class CTarvonaActiveXCtrl {
 public:
  // `loader` finds the token modules, `crypto` is the certificate store
  // road's platform and `picker` lets the user choose a store certificate
  // (certificate source 0). All three outlive the control.
  CTarvonaActiveXCtrl(const platform::LibraryLoader& loader, capi::CryptoPlatform& crypto,
                      capi::CertificatePicker& picker);
  virtual ~CTarvonaActiveXCtrl();
  CTarvonaActiveXCtrl(const CTarvonaActiveXCtrl&) = delete;
  CTarvonaActiveXCtrl& operator=(const CTarvonaActiveXCtrl&) = delete;

  // Connection.
  int32_t ConnectToken();
  int32_t DisconnectToken(int32_t SessionID);
  std::string RetrieveSerial(int32_t SessionID);
  std::string RetrieveAllTokenSerial(int32_t SessionID);

  // PINs and token administration.
  int32_t Login(int32_t SessionID, std::string_view strUserPin);
  int32_t Logout(int32_t SessionID);
  int32_t ChangeSOPin(int32_t SessionID, std::string_view strCurrSOPin,
                      std::string_view strNewSOPin);
  int32_t ChangeUserPin(int32_t SessionID, std::string_view strCurrUserPin,
                        std::string_view strNewUserPin);
  int32_t UnblockUserPin(int32_t SessionID, std::string_view strSOPin,
                         std::string_view strUserPin);
  int32_t TokenInitialize(int32_t SessionID, std::string_view strSOPin,
                          std::string_view strNewUserPin, std::string_view strNewTokenName);
  int32_t VerifyCertCRL(int32_t SessionID, int32_t CertDataType, std::string_view certData);

  // Objects and attributes.
  int32_t EnumCertificate(int32_t SessionID, int32_t lngCert);
  int32_t EnumPublicKey(int32_t SessionID, int32_t lngPublic);
  int32_t EnumPrivateKey(int32_t SessionID, int32_t lngPrivate);
  std::string GetAttribute(int32_t SessionID, int32_t lngObject, int32_t lngAttribute);

  // Token cryptography.
  std::string Encrypt(int32_t SessionID, int32_t lngKey, int32_t reserved,
                      std::string_view strPlainText);
  std::string Decrypt(int32_t SessionID, int32_t lngKey, int32_t reserved,
                      std::string_view lngCipherText);
  std::string Hash(int32_t SessionID, int32_t lngHashType, std::string_view strPlainText);
  std::string Sign(int32_t SessionID, int32_t lngKey, int32_t lngHashType,
                   std::string_view strPlainText);
  std::string SignByCertSerial(int32_t SessionID, std::string_view certserial, int32_t HashType,
                               std::string_view plaintext);
  int32_t Verify(int32_t SessionID, int32_t lngKey, int16_t lngHashType,
                 std::string_view strPlainText, std::string_view strSignText);
  int32_t VerifyByCertSerial(int32_t SessionID, std::string_view certserial, int32_t HashType,
                             std::string_view plaintext, std::string_view signature);

  // Certificate store road; SessionID is not examined.
  std::string SignByCSP(int32_t SessionID, int32_t certType, std::string_view certData,
                        int32_t HashType, std::string_view plaintext);
  int32_t VerifyByCSP(int32_t SessionID, int32_t CertDataType, std::string_view certData,
                      int32_t HashType, std::string_view plaintext, std::string_view signature);
  std::string EncryptByCSP(int32_t SessionID, int32_t CertDataType, std::string_view certData,
                           int32_t reserved, std::string_view plaintext);
  std::string DecryptByCSP(int32_t SessionID, int32_t CertDataType, std::string_view certData,
                           int32_t reserved, std::string_view ciphertext);

  int32_t session_handle() const { return handle_.value(); }

 private:
  // The session check: true when SessionID names this object.
  bool IsOwnSession(int32_t SessionID) const { return SessionID == handle_.value(); }
  // The session check with the module: the active binding when SessionID
  // names this object and a binding holds the session, else null.
  CCryptokiModule* ActiveModuleFor(int32_t SessionID);

  SessionHandle handle_;
  CTokenPair tokens_;
  CCspCrypto csp_;
};

}  // namespace tarvona
