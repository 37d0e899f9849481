#pragma once

// The registry calls the module makes, as Windows declares them. Only
// HKEY_CLASSES_ROOT exists: the user's classes file over the machine's
// (com/classes_root.h). Values are strings (REG_SZ) of UTF-16 text with
// their NUL.

#include "winerror.h"
#include "wtypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u));

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

struct SECURITY_ATTRIBUTES;

extern "C" LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR kind,
                                   DWORD options, REGSAM access,
                                   const SECURITY_ATTRIBUTES* security, PHKEY result,
                                   DWORD* disposition);
extern "C" LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access,
                                 PHKEY result);
extern "C" LSTATUS RegCloseKey(HKEY key);
// REG_SZ only; `size` counts bytes, the NUL included.
extern "C" LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                  const BYTE* data, DWORD size);
extern "C" LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type,
                                    BYTE* data, DWORD* size);
extern "C" LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subkey);
