#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"

namespace tarvona {
namespace {

// Output capacities told to the token: the largest result each method takes.
constexpr size_t kEncryptCapacity = 512;
constexpr size_t kHashCapacity = 128;
constexpr size_t kSignCapacity = 1024;
constexpr size_t kSignBySerialCapacity = 256;

// Hex text shorter than two characters gives no bytes.
bool YieldsNoBytes(std::string_view hex) { return hex.size() < 2; }

std::string HexOrEmpty(int32_t rc, const std::vector<uint8_t>& output) {
  return rc == kOk ? HexEncode(output) : std::string();
}

}  // namespace

std::string CTarvonaActiveXCtrl::Encrypt(int32_t SessionID, int32_t lngKey, int32_t,
                                         std::string_view strPlainText) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr || strPlainText.empty()) return {};
  std::vector<uint8_t> output(kEncryptCapacity);
  int32_t rc =
      module->EncryptData(module->objects().FromScript(lngKey), HexDecode(strPlainText), output);
  return HexOrEmpty(rc, output);
}

std::string CTarvonaActiveXCtrl::Decrypt(int32_t SessionID, int32_t lngKey, int32_t,
                                         std::string_view lngCipherText) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr) return {};
  std::vector<uint8_t> ciphertext = HexDecode(lngCipherText);
  // The plaintext of an RSA block is never longer than the block.
  std::vector<uint8_t> output(ciphertext.size());
  int32_t rc = module->DecryptData(module->objects().FromScript(lngKey), ciphertext, output);
  return HexOrEmpty(rc, output);
}

std::string CTarvonaActiveXCtrl::Hash(int32_t SessionID, int32_t lngHashType,
                                      std::string_view strPlainText) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr || strPlainText.empty()) return {};
  std::vector<uint8_t> output(kHashCapacity);
  int32_t rc = module->DigestData(lngHashType, HexDecode(strPlainText), output);
  return HexOrEmpty(rc, output);
}

std::string CTarvonaActiveXCtrl::Sign(int32_t SessionID, int32_t lngKey, int32_t lngHashType,
                                      std::string_view strPlainText) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr || strPlainText.empty()) return {};
  std::vector<uint8_t> signature(kSignCapacity);
  int32_t rc = module->SignData(module->objects().FromScript(lngKey), lngHashType,
                                HexDecode(strPlainText), signature);
  return HexOrEmpty(rc, signature);
}

std::string CTarvonaActiveXCtrl::SignByCertSerial(int32_t SessionID, std::string_view certserial,
                                                  int32_t HashType, std::string_view plaintext) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr || YieldsNoBytes(plaintext) || YieldsNoBytes(certserial)) return {};
  std::vector<uint8_t> signature(kSignBySerialCapacity);
  int32_t rc =
      module->SignBySerial(HexDecode(certserial), HashType, HexDecode(plaintext), signature);
  return HexOrEmpty(rc, signature);
}

int32_t CTarvonaActiveXCtrl::Verify(int32_t SessionID, int32_t lngKey, int16_t lngHashType,
                                    std::string_view strPlainText, std::string_view strSignText) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr) return kModuleNotReady;
  // The short hash type widens with its sign: -1 is raw RSA like any other.
  return module->VerifyData(module->objects().FromScript(lngKey), int32_t{lngHashType},
                            HexDecode(strPlainText), HexDecode(strSignText));
}

int32_t CTarvonaActiveXCtrl::VerifyByCertSerial(int32_t SessionID, std::string_view certserial,
                                                int32_t HashType, std::string_view plaintext,
                                                std::string_view signature) {
  CCryptokiModule* module = ActiveModuleFor(SessionID);
  if (module == nullptr) return kModuleNotReady;
  if (YieldsNoBytes(plaintext) || YieldsNoBytes(certserial)) return kInvalidArgument;
  return module->VerifyBySerial(HexDecode(certserial), HashType, HexDecode(plaintext),
                                HexDecode(signature));
}

}  // namespace tarvona
