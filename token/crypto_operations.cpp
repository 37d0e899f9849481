#include <algorithm>

#include "common/result_code.h"
#include "token/cryptoki_bytes.h"
#include "token/cryptoki_module.h"

namespace tarvona {
namespace {

CK_MECHANISM_TYPE SignatureMechanism(int32_t hash_type) {
  // Taken as unsigned: every value but 0, 1 and 2, negative ones too, signs
  // the given bytes as they are.
  switch (static_cast<uint32_t>(hash_type)) {
    case 0:
      return CKM_SHA1_RSA_PKCS;
    case 1:
      return CKM_MD2_RSA_PKCS;
    case 2:
      return CKM_MD5_RSA_PKCS;
    default:
      return CKM_RSA_PKCS;
  }
}

}  // namespace

int32_t CCryptokiModule::RunSinglePart(int32_t failure, CK_RV init, CK_C_Digest run,
                                       std::span<const uint8_t> data,
                                       std::vector<uint8_t>& output) {
  // The single-part call follows only a successful Init. The output
  // buffer's size is the capacity the token is told of: no length query.
  // A null output would be one, answered OK with the operation still
  // active, so even a zero capacity points at memory.
  if (init != CKR_OK) return failure;
  CK_BYTE none = 0;
  CK_ULONG length = output.size();
  CK_RV rv =
      run(session_, InputBytes(data), data.size(), output.empty() ? &none : output.data(), &length);
  if (rv == CKR_BUFFER_TOO_SMALL) FinishRefusedOperation(run, data, length);
  if (rv != CKR_OK) return failure;
  output.resize(std::min<CK_ULONG>(length, output.size()));
  return kOk;
}

void CCryptokiModule::FinishRefusedOperation(CK_C_Digest run, std::span<const uint8_t> data,
                                             CK_ULONG needed) {
  // A single-part call that finds the buffer too small leaves its operation
  // active, and the session would refuse every later search and operation.
  // Running it to its end into a scratch buffer of the size the token asked
  // for is the way Cryptoki 2.x offers to end it; any answer but another
  // "too small" ends it.
  constexpr CK_ULONG kMostAnyKeyNeeds = 64 * 1024;
  if (needed > 0 && needed <= kMostAnyKeyNeeds) {
    std::vector<uint8_t> scratch(needed);
    if (run(session_, InputBytes(data), data.size(), scratch.data(), &needed) !=
        CKR_BUFFER_TOO_SMALL) {
      return;
    }
  }
  // A module that asks for no room, for more than any key needs, or again
  // for more: only closing the session ends the operation for sure.
  ReplaceSession();
}

int32_t CCryptokiModule::DigestData(int32_t hash_type, std::span<const uint8_t> data,
                                    std::vector<uint8_t>& output) {
  static constexpr CK_MECHANISM_TYPE kDigests[] = {CKM_SHA_1, CKM_MD2, CKM_MD5};
  if (!HasSession()) return kModuleNotReady;
  if (hash_type < 0 || hash_type > 2) return kInvalidArgument;
  CK_MECHANISM mechanism{kDigests[hash_type], nullptr, 0};
  return RunSinglePart(kDigestFailed, functions_->C_DigestInit(session_, &mechanism),
                       functions_->C_Digest, data, output);
}

int32_t CCryptokiModule::SignData(CK_OBJECT_HANDLE key, int32_t hash_type,
                                  std::span<const uint8_t> data,
                                  std::vector<uint8_t>& signature) {
  if (!HasSession()) return kModuleNotReady;
  CK_MECHANISM mechanism{SignatureMechanism(hash_type), nullptr, 0};
  return RunSinglePart(kSignFailed, functions_->C_SignInit(session_, &mechanism, key),
                       functions_->C_Sign, data, signature);
}

int32_t CCryptokiModule::VerifyData(CK_OBJECT_HANDLE key, int32_t hash_type,
                                    std::span<const uint8_t> data,
                                    std::span<const uint8_t> signature) {
  if (!HasSession()) return kModuleNotReady;
  CK_MECHANISM mechanism{SignatureMechanism(hash_type), nullptr, 0};
  if (functions_->C_VerifyInit(session_, &mechanism, key) != CKR_OK) return kVerifyFailed;
  CK_RV rv = functions_->C_Verify(session_, InputBytes(data), data.size(), InputBytes(signature),
                                  signature.size());
  return rv == CKR_OK ? kOk : kVerifyFailed;
}

int32_t CCryptokiModule::EncryptData(CK_OBJECT_HANDLE key, std::span<const uint8_t> data,
                                     std::vector<uint8_t>& output) {
  if (!HasSession()) return kModuleNotReady;
  CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
  return RunSinglePart(kEncryptFailed, functions_->C_EncryptInit(session_, &mechanism, key),
                       functions_->C_Encrypt, data, output);
}

int32_t CCryptokiModule::DecryptData(CK_OBJECT_HANDLE key, std::span<const uint8_t> data,
                                     std::vector<uint8_t>& output) {
  if (!HasSession()) return kModuleNotReady;
  CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
  return RunSinglePart(kDecryptFailed, functions_->C_DecryptInit(session_, &mechanism, key),
                       functions_->C_Decrypt, data, output);
}

int32_t CCryptokiModule::SignBySerial(std::span<const uint8_t> serial, int32_t hash_type,
                                      std::span<const uint8_t> data,
                                      std::vector<uint8_t>& signature) {
  CK_OBJECT_HANDLE key = 0;
  if (int32_t rc = FindPrivateKeyBySerial(serial, key); rc != kOk) return rc;
  return SignData(key, hash_type, data, signature);
}

int32_t CCryptokiModule::VerifyBySerial(std::span<const uint8_t> serial, int32_t hash_type,
                                        std::span<const uint8_t> data,
                                        std::span<const uint8_t> signature) {
  CK_OBJECT_HANDLE key = 0;
  if (int32_t rc = FindPublicKeyBySerial(serial, key); rc != kOk) return rc;
  return VerifyData(key, hash_type, data, signature);
}

}  // namespace tarvona
