// The Cryptoki 2.40 entry points as compile-time data, shared by the
// forwarding core and the fault layer. Internal to the adaptor.
#pragma once

#include <p11-kit/pkcs11.h>

#include <type_traits>
#include <utility>

namespace tarvona::adaptor {

// What a function's first argument names: tracing records it, and slot
// arguments are checked against the slots the generation shows.
enum class Takes { kNothing, kSlot, kSession };

// Every CK_FUNCTION_LIST member, in list order.
#define TARVONA_CRYPTOKI_FUNCTIONS(X) \
  X(C_Initialize, kNothing)           \
  X(C_Finalize, kNothing)             \
  X(C_GetInfo, kNothing)              \
  X(C_GetFunctionList, kNothing)      \
  X(C_GetSlotList, kNothing)          \
  X(C_GetSlotInfo, kSlot)             \
  X(C_GetTokenInfo, kSlot)            \
  X(C_GetMechanismList, kSlot)        \
  X(C_GetMechanismInfo, kSlot)        \
  X(C_InitToken, kSlot)               \
  X(C_InitPIN, kSession)              \
  X(C_SetPIN, kSession)               \
  X(C_OpenSession, kSlot)             \
  X(C_CloseSession, kSession)         \
  X(C_CloseAllSessions, kSlot)        \
  X(C_GetSessionInfo, kSession)       \
  X(C_GetOperationState, kSession)    \
  X(C_SetOperationState, kSession)    \
  X(C_Login, kSession)                \
  X(C_Logout, kSession)               \
  X(C_CreateObject, kSession)         \
  X(C_CopyObject, kSession)           \
  X(C_DestroyObject, kSession)        \
  X(C_GetObjectSize, kSession)        \
  X(C_GetAttributeValue, kSession)    \
  X(C_SetAttributeValue, kSession)    \
  X(C_FindObjectsInit, kSession)      \
  X(C_FindObjects, kSession)          \
  X(C_FindObjectsFinal, kSession)     \
  X(C_EncryptInit, kSession)          \
  X(C_Encrypt, kSession)              \
  X(C_EncryptUpdate, kSession)        \
  X(C_EncryptFinal, kSession)         \
  X(C_DecryptInit, kSession)          \
  X(C_Decrypt, kSession)              \
  X(C_DecryptUpdate, kSession)        \
  X(C_DecryptFinal, kSession)         \
  X(C_DigestInit, kSession)           \
  X(C_Digest, kSession)               \
  X(C_DigestUpdate, kSession)         \
  X(C_DigestKey, kSession)            \
  X(C_DigestFinal, kSession)          \
  X(C_SignInit, kSession)             \
  X(C_Sign, kSession)                 \
  X(C_SignUpdate, kSession)           \
  X(C_SignFinal, kSession)            \
  X(C_SignRecoverInit, kSession)      \
  X(C_SignRecover, kSession)          \
  X(C_VerifyInit, kSession)           \
  X(C_Verify, kSession)               \
  X(C_VerifyUpdate, kSession)         \
  X(C_VerifyFinal, kSession)          \
  X(C_VerifyRecoverInit, kSession)    \
  X(C_VerifyRecover, kSession)        \
  X(C_DigestEncryptUpdate, kSession)  \
  X(C_DecryptDigestUpdate, kSession)  \
  X(C_SignEncryptUpdate, kSession)    \
  X(C_DecryptVerifyUpdate, kSession)  \
  X(C_GenerateKey, kSession)          \
  X(C_GenerateKeyPair, kSession)      \
  X(C_WrapKey, kSession)              \
  X(C_UnwrapKey, kSession)            \
  X(C_DeriveKey, kSession)            \
  X(C_SeedRandom, kSession)           \
  X(C_GenerateRandom, kSession)       \
  X(C_GetFunctionStatus, kSession)    \
  X(C_CancelFunction, kSession)       \
  X(C_WaitForSlotEvent, kNothing)

template <auto kMember>
struct Traits;

#define TARVONA_DEFINE_TRAITS(name, takes)        \
  template <>                                     \
  struct Traits<&CK_FUNCTION_LIST::name> {        \
    static constexpr const char* kName = #name;   \
    static constexpr Takes kTakes = Takes::takes; \
  };
TARVONA_CRYPTOKI_FUNCTIONS(TARVONA_DEFINE_TRAITS)
#undef TARVONA_DEFINE_TRAITS

// The function-pointer type of a CK_FUNCTION_LIST member.
template <auto kMember>
using FunctionOf = std::remove_cvref_t<decltype(std::declval<CK_FUNCTION_LIST&>().*kMember)>;

template <auto kA, auto kB>
inline constexpr bool kSameMember = false;
template <auto kA>
inline constexpr bool kSameMember<kA, kA> = true;

template <typename First, typename... Rest>
First FirstOf(First first, Rest...) {
  return first;
}

}  // namespace tarvona::adaptor
