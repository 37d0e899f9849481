#include <algorithm>

#include "common/result_code.h"
#include "token/cryptoki_call.h"
#include "token/cryptoki_module.h"
#include "token/mechanisms.h"

namespace tarvona {
namespace {

CK_MECHANISM_TYPE SignatureMechanism(int32_t hash_type) {
  // Taken as unsigned: every value but 0, 1 and 2, negative ones too, signs
  // the given bytes as they are.
  const auto index = static_cast<uint32_t>(hash_type);
  return index < kSignatureByHashType.size() ? kSignatureByHashType[index] : kRawRsa;
}

}  // namespace

template <typename Init>
int32_t CCryptokiModule::RunSinglePart(Operation operation, Init init, CK_C_Digest run,
                                       std::span<const uint8_t> data,
                                       std::vector<uint8_t>& output) {
  // Lengths are checked before the operation starts, so a refusal leaves
  // nothing active.
  const auto input = InputBytes(data);
  const auto capacity = ToCkLength(output.size());
  if (!input || !capacity) return FailureOf(operation);
  // The single-part call follows only a successful Init. The output
  // buffer's size is the capacity the token is told of: no length query.
  // A null output would be one, answered OK with the operation still
  // active, so even a zero capacity points at memory.
  if (CK_RV rv = StartOperation(init); rv != CKR_OK) return ResultOf(operation, rv);
  CK_BYTE none = 0;
  CK_ULONG length = *capacity;
  CK_RV rv =
      run(session_, input->data, input->length, output.empty() ? &none : output.data(), &length);
  if (rv == CKR_BUFFER_TOO_SMALL) FinishRefusedOperation(run, *input, length);
  if (rv != CKR_OK) return ResultOf(operation, rv);
  output.resize(std::min(FromCkLength(length), output.size()));
  return kOk;
}

void CCryptokiModule::FinishRefusedOperation(CK_C_Digest run, const CkInput& input,
                                             CK_ULONG needed) {
  // A single-part call that finds the buffer too small leaves its operation
  // active, and the session would refuse every later search and operation.
  // Running it to its end into a scratch buffer of the size the token asked
  // for is the way Cryptoki 2.x offers to end it; any answer but another
  // "too small" ends it. The size comes from the module, so it is bounded.
  constexpr CK_ULONG kMostAnyKeyNeeds = 64 * 1024;
  if (needed > 0 && needed <= kMostAnyKeyNeeds) {
    std::vector<uint8_t> scratch(FromCkLength(needed));
    if (run(session_, input.data, input.length, scratch.data(), &needed) != CKR_BUFFER_TOO_SMALL) {
      return;
    }
  }
  // A module that asks for no room, for more than any key needs, or again
  // for more: only closing the session ends the operation for sure.
  ReplaceSession();
}

int32_t CCryptokiModule::DigestData(int32_t hash_type, std::span<const uint8_t> data,
                                    std::vector<uint8_t>& output) {
  if (!HasSession()) return kModuleNotReady;
  if (hash_type < 0 || hash_type > 2) return kInvalidArgument;
  CK_MECHANISM mechanism{kDigestByHashType[static_cast<size_t>(hash_type)], nullptr, 0};
  return RunSinglePart(
      Operation::kDigest, [&] { return functions_->C_DigestInit(session_, &mechanism); },
      functions_->C_Digest, data, output);
}

int32_t CCryptokiModule::SignData(CK_OBJECT_HANDLE key, int32_t hash_type,
                                  std::span<const uint8_t> data,
                                  std::vector<uint8_t>& signature) {
  if (!HasSession()) return kModuleNotReady;
  CK_MECHANISM mechanism{SignatureMechanism(hash_type), nullptr, 0};
  return RunSinglePart(
      Operation::kSign, [&] { return functions_->C_SignInit(session_, &mechanism, key); },
      functions_->C_Sign, data, signature);
}

int32_t CCryptokiModule::VerifyData(CK_OBJECT_HANDLE key, int32_t hash_type,
                                    std::span<const uint8_t> data,
                                    std::span<const uint8_t> signature) {
  if (!HasSession()) return kModuleNotReady;
  // C_Verify has no output, and ends its operation whatever it answers.
  const auto input = InputBytes(data);
  const auto given = InputBytes(signature);
  if (!input || !given) return FailureOf(Operation::kVerify);
  CK_MECHANISM mechanism{SignatureMechanism(hash_type), nullptr, 0};
  if (CK_RV rv =
          StartOperation([&] { return functions_->C_VerifyInit(session_, &mechanism, key); });
      rv != CKR_OK) {
    return ResultOf(Operation::kVerify, rv);
  }
  return ResultOf(Operation::kVerify, functions_->C_Verify(session_, input->data, input->length,
                                                           given->data, given->length));
}

int32_t CCryptokiModule::EncryptData(CK_OBJECT_HANDLE key, std::span<const uint8_t> data,
                                     std::vector<uint8_t>& output) {
  if (!HasSession()) return kModuleNotReady;
  CK_MECHANISM mechanism{kRawRsa, nullptr, 0};
  int32_t rc = RunSinglePart(
      Operation::kEncrypt, [&] { return functions_->C_EncryptInit(session_, &mechanism, key); },
      functions_->C_Encrypt, data, output);
  // An RSA ciphertext is exactly as long as the modulus. A module that
  // reports its whole output area instead (tpm2-pkcs11 does) would hand
  // script the ciphertext with zeros after it, which nothing decrypts.
  CK_ATTRIBUTE modulus{CKA_MODULUS, nullptr, 0};
  if (rc == kOk && functions_->C_GetAttributeValue(session_, key, &modulus, 1) == CKR_OK &&
      modulus.ulValueLen != CK_UNAVAILABLE_INFORMATION && modulus.ulValueLen != 0 &&
      FromCkLength(modulus.ulValueLen) < output.size()) {
    output.resize(FromCkLength(modulus.ulValueLen));
  }
  return rc;
}

int32_t CCryptokiModule::DecryptData(CK_OBJECT_HANDLE key, std::span<const uint8_t> data,
                                     std::vector<uint8_t>& output) {
  if (!HasSession()) return kModuleNotReady;
  CK_MECHANISM mechanism{kRawRsa, nullptr, 0};
  return RunSinglePart(
      Operation::kDecrypt, [&] { return functions_->C_DecryptInit(session_, &mechanism, key); },
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
