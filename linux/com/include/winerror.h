#pragma once

// Result codes with Windows' names and values, from one table. They are
// constants, not macros, so they never rewrite a same-named member of some
// other scope.

#include "wtypes.h"

#define TARVONA_HRESULTS(X)                  \
  X(S_OK, 0x00000000)                        \
  X(S_FALSE, 0x00000001)                     \
  X(E_UNEXPECTED, 0x8000FFFF)                \
  X(E_NOTIMPL, 0x80004001)                   \
  X(E_NOINTERFACE, 0x80004002)               \
  X(E_POINTER, 0x80004003)                   \
  X(E_ABORT, 0x80004004)                     \
  X(E_FAIL, 0x80004005)                      \
  X(E_ACCESSDENIED, 0x80070005)              \
  X(E_HANDLE, 0x80070006)                    \
  X(E_OUTOFMEMORY, 0x8007000E)               \
  X(E_INVALIDARG, 0x80070057)                \
  X(RPC_E_CHANGED_MODE, 0x80010106)          \
  X(DISP_E_UNKNOWNINTERFACE, 0x80020001)     \
  X(DISP_E_MEMBERNOTFOUND, 0x80020003)       \
  X(DISP_E_PARAMNOTFOUND, 0x80020004)        \
  X(DISP_E_TYPEMISMATCH, 0x80020005)         \
  X(DISP_E_UNKNOWNNAME, 0x80020006)          \
  X(DISP_E_NONAMEDARGS, 0x80020007)          \
  X(DISP_E_BADVARTYPE, 0x80020008)           \
  X(DISP_E_EXCEPTION, 0x80020009)            \
  X(DISP_E_OVERFLOW, 0x8002000A)             \
  X(DISP_E_BADINDEX, 0x8002000B)             \
  X(DISP_E_BADPARAMCOUNT, 0x8002000E)        \
  X(TYPE_E_REGISTRYACCESS, 0x8002801C)       \
  X(TYPE_E_LIBNOTREGISTERED, 0x8002801D)     \
  X(TYPE_E_ELEMENTNOTFOUND, 0x8002802B)      \
  X(TYPE_E_CANTLOADLIBRARY, 0x80029C4A)      \
  X(STG_E_MEDIUMFULL, 0x80030070)            \
  X(OLE_E_NOCONNECTION, 0x80040004)          \
  X(OLEOBJ_S_INVALIDVERB, 0x00040180)        \
  X(OLEOBJ_E_NOVERBS, 0x80040181)            \
  X(DV_E_DVASPECT, 0x8004006B)               \
  X(CLASS_E_NOAGGREGATION, 0x80040110)       \
  X(CLASS_E_CLASSNOTAVAILABLE, 0x80040111)   \
  X(REGDB_E_READREGDB, 0x80040150)           \
  X(REGDB_E_WRITEREGDB, 0x80040151)          \
  X(REGDB_E_CLASSNOTREG, 0x80040154)         \
  X(INPLACE_E_NOTUNDOABLE, 0x800401A0)       \
  X(CO_E_CLASSSTRING, 0x800401F3)            \
  X(CO_E_DLLNOTFOUND, 0x800401F8)            \
  X(CO_E_ERRORINDLL, 0x800401F9)             \
  X(SELFREG_E_TYPELIB, 0x80040200)           \
  X(SELFREG_E_CLASS, 0x80040201)             \
  X(CONNECT_E_NOCONNECTION, 0x80040200)

#define TARVONA_DECLARE_HRESULT(name, bits) \
  inline constexpr HRESULT name = static_cast<HRESULT>(static_cast<uint32_t>(bits));
TARVONA_HRESULTS(TARVONA_DECLARE_HRESULT)
#undef TARVONA_DECLARE_HRESULT

// Win32 error codes, as registry calls return them.
using LSTATUS = LONG;
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_BADKEY = 1010;
inline constexpr LONG ERROR_CANTOPEN = 1011;
inline constexpr LONG ERROR_CANTREAD = 1012;
inline constexpr LONG ERROR_CANTWRITE = 1013;

inline constexpr HRESULT HRESULT_FROM_WIN32(LONG code) {
  return code <= 0 ? code
                   : static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}
