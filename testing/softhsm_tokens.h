#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvona::testing {

inline constexpr char kUserPin[] = "1234";
inline constexpr char kSoPin[] = "5678";

// Folders and files fixed when the build is configured.
std::string TestDataDir();        // keys and certificates made by make_test_pki.sh
std::string FaultModulesDir();    // Tarvonav4.dll / Tarvonav5.dll of the fault build
std::string SoftHsmModulePath();  // the SoftHSM2 Cryptoki module

std::vector<uint8_t> ReadFile(const std::string& path);

struct ImportOptions {
  bool certificate = true;
  bool public_key = true;
  bool private_key = true;
  // CKA_SERIAL_NUMBER on the certificate object (DER INTEGER of the serial).
  bool serial_attribute = true;
  // Bytes for CKA_SERIAL_NUMBER instead of the certificate's own, for
  // malformed values.
  std::optional<std::vector<uint8_t>> serial_value;
  std::string user_pin = kUserPin;
};

// A SoftHSM2 token folder of its own. While the object lives SOFTHSM2_CONF
// names its configuration and TARVONA_PKCS11_MODULE names SoftHSM2; the
// adaptor label filters are cleared. Use it before any control of the test
// loads its modules: SoftHSM reads its configuration at C_Initialize.
class SoftHsmTokens {
 public:
  SoftHsmTokens();
  ~SoftHsmTokens();
  SoftHsmTokens(const SoftHsmTokens&) = delete;
  SoftHsmTokens& operator=(const SoftHsmTokens&) = delete;

  // Initialises a new token with the label and PINs; returns its 16-byte
  // serial number field as SoftHSM reports it.
  std::string AddToken(const std::string& label, const std::string& user_pin = kUserPin,
                       const std::string& so_pin = kSoPin);

  // Imports the key pair and certificate `key_name` of the test data
  // (for example "rsa2048") into the token, all three objects with `id` as
  // CKA_ID. Token objects; the private key is private and sensitive; the
  // certificate is labelled `key_name`. Throws std::runtime_error (with the
  // CK_RV) on any failure.
  void ImportKeyPair(const std::string& label, const std::string& key_name,
                     const std::vector<uint8_t>& id, const ImportOptions& options = {});

  const std::string& directory() const { return directory_; }
  const std::string& config_path() const { return config_path_; }

 private:
  std::string directory_;
  std::string config_path_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_environment_;
};

}  // namespace tarvona::testing
