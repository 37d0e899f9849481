// The certificate store methods. They need no token connection and never
// look at SessionID or reserved.
#include <array>
#include <optional>
#include <vector>

#include "common/result_code.h"
#include "control/tarvona_control.h"
#include "encoding/hex.h"

namespace tarvona {
namespace {

// The output area of every store method.
constexpr size_t kOutputCapacity = 1000;

// certData as the operations take it: nothing for the dialog, bytes for a
// serial number or DER, otherwise the text with its terminating NUL.
std::optional<std::vector<uint8_t>> ConvertCertData(int32_t source, std::string_view certData) {
  if (source == kSourceDialog) return std::nullopt;
  if (source == kSourceSerial || source == kSourceDer) return HexDecode(certData);
  std::vector<uint8_t> text(certData.begin(), certData.end());
  text.push_back(0);
  return text;
}

CertificateData ViewOf(const std::optional<std::vector<uint8_t>>& data) {
  if (!data) return std::nullopt;
  return std::span<const uint8_t>(*data);
}

std::string HexOrEmpty(int32_t rc, const std::array<uint8_t, kOutputCapacity>& area,
                       size_t length) {
  return rc == kOk ? HexEncode(std::span(area).first(length)) : std::string();
}

}  // namespace

std::string CTarvonaActiveXCtrl::SignByCSP(int32_t, int32_t certType, std::string_view certData,
                                           int32_t HashType, std::string_view plaintext) {
  auto serial = ConvertCertData(certType, certData);
  std::array<uint8_t, kOutputCapacity> signature{};
  size_t length = 0;
  int32_t rc = csp_.SignWithCertificate(certType, ViewOf(serial), HashType, HexDecode(plaintext),
                                        signature, length);
  return HexOrEmpty(rc, signature, length);
}

int32_t CTarvonaActiveXCtrl::VerifyByCSP(int32_t, int32_t CertDataType, std::string_view certData,
                                         int32_t HashType, std::string_view plaintext,
                                         std::string_view signature) {
  auto certificate = ConvertCertData(CertDataType, certData);
  return csp_.VerifyWithCertificate(CertDataType, ViewOf(certificate), HashType,
                                    HexDecode(plaintext), HexDecode(signature));
}

std::string CTarvonaActiveXCtrl::EncryptByCSP(int32_t, int32_t CertDataType,
                                              std::string_view certData, int32_t,
                                              std::string_view plaintext) {
  auto certificate = ConvertCertData(CertDataType, certData);
  std::array<uint8_t, kOutputCapacity> ciphertext{};
  size_t length = 0;
  int32_t rc = csp_.EncryptToCertificate(CertDataType, ViewOf(certificate), HexDecode(plaintext),
                                         ciphertext, length);
  return HexOrEmpty(rc, ciphertext, length);
}

std::string CTarvonaActiveXCtrl::DecryptByCSP(int32_t, int32_t CertDataType,
                                              std::string_view certData, int32_t,
                                              std::string_view ciphertext) {
  auto serial = ConvertCertData(CertDataType, certData);
  std::array<uint8_t, kOutputCapacity> plaintext{};
  size_t length = 0;
  int32_t rc = csp_.DecryptWithCertificate(CertDataType, ViewOf(serial), HexDecode(ciphertext),
                                           plaintext, length);
  return HexOrEmpty(rc, plaintext, length);
}

}  // namespace tarvona
