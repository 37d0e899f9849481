#pragma once

// Text conversion as Windows declares it. Linux programs speak UTF-8, so
// the ANSI code page (CP_ACP) is UTF-8 here; invalid input becomes U+FFFD.

#include "wtypes.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

// A length of -1 takes the text up to and with its NUL; an output size of
// 0 asks for the size needed. Returns the units written (or needed), 0 on
// failure (a code page other than those two, or too small an output).
extern "C" int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length,
                                   LPWSTR out, int out_size);
extern "C" int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int length,
                                   LPSTR out, int out_size, LPCSTR default_char,
                                   BOOL* used_default);
