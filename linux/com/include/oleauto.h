#pragma once

// BSTRs, VARIANTs and type information made from a table: what the Linux
// runtime implements of Windows' automation library, with its names, and
// its accessor macros.

#include "oaidl.h"

#define V_VT(v) ((v)->vt)
#define V_ISBYREF(v) ((V_VT(v) & VT_BYREF) != 0)
#define V_I1(v) ((v)->cVal)
#define V_UI1(v) ((v)->bVal)
#define V_I2(v) ((v)->iVal)
#define V_UI2(v) ((v)->uiVal)
#define V_I4(v) ((v)->lVal)
#define V_UI4(v) ((v)->ulVal)
#define V_I8(v) ((v)->llVal)
#define V_UI8(v) ((v)->ullVal)
#define V_INT(v) ((v)->intVal)
#define V_UINT(v) ((v)->uintVal)
#define V_R4(v) ((v)->fltVal)
#define V_R8(v) ((v)->dblVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_VARIANTREF(v) ((v)->pvarVal)
#define V_BYREF(v) ((v)->byref)

// VariantChangeType flags.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;

// A BSTR is its text with a 32-bit byte count just before it and a 16-bit
// NUL just after, so SysStringLen is exact even with NULs inside.
extern "C" BSTR SysAllocString(const OLECHAR* text);
extern "C" BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
extern "C" void SysFreeString(BSTR text);
extern "C" UINT SysStringLen(BSTR text);
extern "C" UINT SysStringByteLen(BSTR text);

extern "C" void VariantInit(VARIANTARG* v);
extern "C" HRESULT VariantClear(VARIANTARG* v);
extern "C" HRESULT VariantCopy(VARIANTARG* to, const VARIANTARG* from);
// The coercions script values need: to and from the signed and unsigned
// integers, VT_R4/VT_R8, VT_BOOL, VT_BSTR (decimal text), VT_EMPTY and
// VT_NULL, through a VT_BYREF; `to` may be `from`. Out of range gives
// DISP_E_OVERFLOW, what cannot convert DISP_E_TYPEMISMATCH, a type it does
// not know DISP_E_BADVARTYPE.
extern "C" HRESULT VariantChangeType(VARIANTARG* to, const VARIANTARG* from, USHORT flags,
                                     VARTYPE type);

inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

// An interface's methods as CreateDispTypeInfo takes them.
struct PARAMDATA {
  OLECHAR* szName;
  VARTYPE vt;
};
using LPPARAMDATA = PARAMDATA*;

struct METHODDATA {
  OLECHAR* szName;
  PARAMDATA* ppdata;  // cArgs of them
  DISPID dispid;
  UINT iMeth;  // the method's place in the interface's table
  CALLCONV cc;
  UINT cArgs;
  WORD wFlags;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET, ...
  VARTYPE vtReturn;
};
using LPMETHODDATA = METHODDATA*;

struct INTERFACEDATA {
  METHODDATA* pmethdata;
  UINT cMembers;
};
using LPINTERFACEDATA = INTERFACEDATA*;

// Type information for one interface (TKIND_INTERFACE, GUID_NULL) whose
// functions are the table's methods in its order; the names are copied.
// It answers GetTypeAttr, GetFuncDesc, GetNames and GetIDsOfNames (names
// matched without regard to ASCII case); the rest gives E_NOTIMPL.
extern "C" HRESULT CreateDispTypeInfo(INTERFACEDATA* data, LCID lcid, ITypeInfo** info);
