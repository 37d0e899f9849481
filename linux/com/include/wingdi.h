#pragma once

// The little of GDI the Linux runtime has: colours and one pixel at a time
// into a device context.

#include "wtypes.h"

using COLORREF = DWORD;
inline constexpr COLORREF RGB(BYTE red, BYTE green, BYTE blue) {
  return static_cast<COLORREF>(red | (green << 8) | (blue << 16));
}
inline constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
inline constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
inline constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }

// On Linux a device context is a surface the host makes, derived from this,
// and hands to IViewObject::Draw; the host owns it.
struct HDC__ {
  virtual LONG Width() const = 0;
  virtual LONG Height() const = 0;
  virtual void Paint(LONG x, LONG y, COLORREF color) = 0;

 protected:
  ~HDC__() = default;
};

// FALSE for a null context or a point outside it, which stays untouched.
extern "C" BOOL SetPixelV(HDC target, int x, int y, COLORREF color);
