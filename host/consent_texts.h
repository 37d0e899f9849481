#pragma once

#include "common/translatable.h"

// What the consent dialog says, in English, the key of each translation:
// the Linux dialog (host/consent_main.cpp) and the Windows one
// (windows/host/consent_prompt_win32.cpp) say the same. Access keys are
// marked as GTK marks them ("_Deny").
namespace tarvona::host::consent_texts {

inline constexpr const char* kQuestion =
    Translatable("Allow %s to use your security tokens and certificates?");
inline constexpr const char* kDetail = Translatable(
    "The page will be able to list your certificates, ask for your PIN and sign with your keys.");
inline constexpr const char* kDeny = Translatable("_Deny");
inline constexpr const char* kAllowOnce = Translatable("Allow _once");
inline constexpr const char* kAlwaysAllow = Translatable("_Always allow");

}  // namespace tarvona::host::consent_texts
