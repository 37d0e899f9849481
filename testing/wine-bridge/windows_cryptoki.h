#pragma once

// Both Cryptoki ABIs in one translation unit, from p11-kit's one header:
// the Linux one (CK_ULONG of 64 bits, natural alignment, System V calls) in
// the global namespace as usual, and the one a Windows program expects
// (CK_ULONG of 32 bits, structures packed to one byte, Microsoft x64 calls)
// in namespace win. The header's own _WIN32 branch gives the packing; the
// rest is done by what it is included under:
//   - `long` taken out, so every `unsigned long` is an `unsigned` (32 bits);
//   - CK_RV, with which every function type of the header starts, carrying
//     ms_abi: GCC applies a function attribute given to a pointer-to-function
//     type to the function type pointed to;
//   - __cplusplus hidden, so its functions are declared in namespace win
//     rather than as C functions clashing with the Linux ones (none of them
//     is defined or called).

#include <p11-kit/pkcs11.h>

#include <cstddef>

#define TARVONA_MS_ABI __attribute__((ms_abi))

namespace win {
#pragma GCC diagnostic push
// ms_abi lands on the CK_RV typedef itself too, where it means nothing.
#pragma GCC diagnostic ignored "-Wattributes"
#pragma push_macro("__cplusplus")
#undef __cplusplus
#undef PKCS11_H
#undef CK_SPEC
#define CRYPTOKI_FORCE_WIN32 1
#define CRYPTOKI_EXPORTS 1
#define __declspec(x)
#define long
#define CK_RV TARVONA_MS_ABI CK_RV
#include <p11-kit/pkcs11.h>
#undef CK_RV
#undef long
#undef __declspec
#undef CRYPTOKI_EXPORTS
#undef CRYPTOKI_FORCE_WIN32
#pragma pop_macro("__cplusplus")
#pragma GCC diagnostic pop
}  // namespace win

// The Linux header's CK_SPEC again (it is empty there).
#undef CK_SPEC
#define CK_SPEC

// The shapes a Windows Cryptoki module must have (CK_TOKEN_INFO is 160
// bytes there, and the function list's entries start right after its
// 2-byte version).
static_assert(sizeof(win::CK_ULONG) == 4 && sizeof(win::CK_SLOT_ID) == 4);
static_assert(sizeof(win::CK_TOKEN_INFO) == 160);
static_assert(sizeof(win::CK_ATTRIBUTE) == 16 && sizeof(win::CK_MECHANISM) == 16);
static_assert(offsetof(win::CK_FUNCTION_LIST, C_Initialize) == 2);
static_assert(sizeof(CK_ULONG) == 8 && sizeof(CK_ATTRIBUTE) == 24);
