#pragma once

// What every Cryptoki call of the binding goes through: lengths converted
// with a check, input bytes as Cryptoki takes them, and one table from the
// module's answer to the result code script sees.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "token/cryptoki.h"

namespace tarvona {

// CK_ULONG is 32-bit on Windows and 64-bit here. A length that does not fit
// is refused (the caller gives its usual failure), never cut to another.
inline std::optional<CK_ULONG> ToCkLength(size_t length) {
  if (length > std::numeric_limits<CK_ULONG>::max()) return std::nullopt;
  return static_cast<CK_ULONG>(length);
}

// Every length a module reports fits a size_t on both platforms.
inline size_t FromCkLength(CK_ULONG length) {
  static_assert(sizeof(CK_ULONG) <= sizeof(size_t));
  return length;
}

// Input as Cryptoki takes it: a non-const pointer, never null (some modules
// refuse a null pointer even with a length of 0), and its CK_ULONG length.
struct CkInput {
  CK_BYTE_PTR data;
  CK_ULONG length;
};

inline std::optional<CkInput> InputBytes(std::span<const uint8_t> bytes) {
  static CK_BYTE nothing = 0;
  const auto length = ToCkLength(bytes.size());
  if (!length) return std::nullopt;
  return CkInput{bytes.empty() ? &nothing : const_cast<CK_BYTE_PTR>(bytes.data()), *length};
}

inline std::optional<CkInput> InputText(std::string_view text) {
  return InputBytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// The families of calls whose answers script tells apart.
enum class Operation : uint8_t {
  kLoad,            // C_GetFunctionList, C_Initialize
  kSlots,           // C_GetSlotList, C_OpenSession on Connect
  kLogin,           // C_Login
  kLogout,          // C_Logout
  kSetPin,          // C_SetPIN
  kInitPin,         // C_InitPIN
  kInitToken,       // C_InitToken
  kAfterInitToken,  // C_OpenSession once the token is initialised
  kDigest,
  kSign,
  kVerify,
  kEncrypt,
  kDecrypt,
  kLookup,  // C_FindObjects*, C_GetAttributeValue
};

// 0 for CKR_OK (and answers that mean the same), the family's own code for
// the answers it tells apart, else its failure.
int32_t ResultOf(Operation operation, CK_RV rv);
// What a call of the family gives when it cannot be made at all.
int32_t FailureOf(Operation operation);

}  // namespace tarvona
