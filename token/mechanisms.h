#pragma once

// The mechanisms the binding asks a token for, by hash type (0 SHA-1,
// 1 MD2, 2 MD5; any other type signs raw CKM_RSA_PKCS), with the calls
// that need each: the binding and the diagnostics report take them from
// here.

#include <array>
#include <cstdint>
#include <string_view>

#include "token/cryptoki.h"

namespace tarvona {

inline constexpr std::array<CK_MECHANISM_TYPE, 3> kSignatureByHashType = {
    CKM_SHA1_RSA_PKCS, CKM_MD2_RSA_PKCS, CKM_MD5_RSA_PKCS};
inline constexpr std::array<CK_MECHANISM_TYPE, 3> kDigestByHashType = {CKM_SHA_1, CKM_MD2, CKM_MD5};

// Signing with any other hash type, encryption and decryption.
inline constexpr CK_MECHANISM_TYPE kRawRsa = CKM_RSA_PKCS;

struct UsedMechanism {
  CK_MECHANISM_TYPE type;
  std::string_view name;
  CK_FLAGS needs;        // the CKF_ flags of what the binding does with it
  std::string_view use;  // the methods that need it
  bool typical;          // on the typical road (signing by certificate serial)
};

inline constexpr UsedMechanism kUsedMechanisms[] = {
    {CKM_SHA1_RSA_PKCS, "CKM_SHA1_RSA_PKCS", CKF_SIGN | CKF_VERIFY,
     "Sign and Verify with hash type 0 (SHA-1)", true},
    {CKM_MD5_RSA_PKCS, "CKM_MD5_RSA_PKCS", CKF_SIGN | CKF_VERIFY,
     "Sign and Verify with hash type 2 (MD5)", false},
    {CKM_MD2_RSA_PKCS, "CKM_MD2_RSA_PKCS", CKF_SIGN | CKF_VERIFY,
     "Sign and Verify with hash type 1 (MD2)", false},
    {CKM_RSA_PKCS, "CKM_RSA_PKCS", CKF_SIGN | CKF_VERIFY | CKF_ENCRYPT | CKF_DECRYPT,
     "raw Sign and Verify, Encrypt, Decrypt", true},
    {CKM_SHA_1, "CKM_SHA_1", CKF_DIGEST, "Hash with hash type 0 (SHA-1)", false},
    {CKM_MD5, "CKM_MD5", CKF_DIGEST, "Hash with hash type 2 (MD5)", false},
    {CKM_MD2, "CKM_MD2", CKF_DIGEST, "Hash with hash type 1 (MD2)", false},
};

}  // namespace tarvona
