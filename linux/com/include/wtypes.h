#pragma once

// The base types of COM with Windows' names, sizes and layouts, for the
// Linux build. Windows' LONG, ULONG and DWORD are 32 bits on every system,
// so they are fixed-width here too (Linux's long is 64 bits on x86_64).

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using CHAR = char;
using SHORT = int16_t;
using USHORT = uint16_t;
using INT = int;
using UINT = unsigned int;
using LONG = int32_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using BOOL = int;
using BOOLEAN = BYTE;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using DWORD_PTR = ULONG_PTR;
using SIZE_T = size_t;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using HRESULT = LONG;
using SCODE = LONG;
using LCID = DWORD;
using LANGID = WORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using DATE = double;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// COM's text. Windows' OLECHAR is a 16-bit UTF-16 unit, its wchar_t; on
// Linux wchar_t is 32 bits, so OLECHAR is char16_t, the same size and
// encoding, and BSTRs, names and registry text keep Windows' layout.
// Literals go through OLESTR("..."), which is L"..." on Windows. Wide C
// library functions (wcslen, std::wstring) never touch COM text here:
// -fshort-wchar would break libstdc++'s own wide functions.
using OLECHAR = char16_t;
using WCHAR = OLECHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using BSTR = OLECHAR*;
#define OLESTR(text) u##text

// Calls between module and host: one calling convention on Linux.
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define WINAPI
#define CALLBACK
#define STDAPI extern "C" HRESULT STDAPICALLTYPE

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using LPGUID = GUID*;
using LPCLSID = CLSID*;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFCATID = const CATID&;

inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline constexpr bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

// COM's own interfaces all end in this.
inline constexpr GUID ComGuid(uint32_t data1) {
  return {data1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}

union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
};

struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  ULONGLONG QuadPart;
};

struct RECT {
  LONG left, top, right, bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;
struct RECTL {
  LONG left, top, right, bottom;
};
using LPRECTL = RECTL*;
using LPCRECTL = const RECTL*;
struct POINT {
  LONG x, y;
};
struct POINTL {
  LONG x, y;
};
struct SIZE {
  LONG cx, cy;
};
using SIZEL = SIZE;
using LPSIZEL = SIZEL*;

// Handles: distinct types, as with Windows' STRICT. Device contexts and
// bitmaps are GDI's (wingdi.h); the others the module only passes on.
using HANDLE = void*;
using HGDIOBJ = void*;
struct HWND__;
struct HDC__;
struct HBITMAP__;
struct HACCEL__;
struct HINSTANCE__;
using HWND = HWND__*;
using HDC = HDC__*;
using HBITMAP = HBITMAP__*;
using HACCEL = HACCEL__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

struct MSG {
  HWND hwnd;
  UINT message;
  UINT_PTR wParam;
  LONG_PTR lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

struct PALETTEENTRY {
  BYTE peRed, peGreen, peBlue, peFlags;
};
struct LOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};

struct DVTARGETDEVICE {
  DWORD tdSize;
  WORD tdDriverNameOffset;
  WORD tdDeviceNameOffset;
  WORD tdPortNameOffset;
  WORD tdExtDevmodeOffset;
  BYTE tdData[1];
};

struct CAUUID {
  ULONG cElems;
  GUID* pElems;
};

inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;
inline constexpr LCID LOCALE_NEUTRAL = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;
