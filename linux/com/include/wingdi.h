#pragma once

// The little of GDI the Linux runtime has: colours, memory device contexts
// with 32-bit DIB sections selected into them, and one pixel at a time.

#include "wtypes.h"

using COLORREF = DWORD;
inline constexpr COLORREF RGB(BYTE red, BYTE green, BYTE blue) {
  return static_cast<COLORREF>(red | (green << 8) | (blue << 16));
}
inline constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
inline constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
inline constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// A device context is a surface: the runtime's own memory contexts
// (CreateCompatibleDC) derive from this, and so may a host's own surface,
// which it then owns. SetPixelV paints into either; the other calls take
// the runtime's contexts only.
struct HDC__ {
  virtual LONG Width() const = 0;
  virtual LONG Height() const = 0;
  virtual void Paint(LONG x, LONG y, COLORREF color) = 0;

 protected:
  ~HDC__() = default;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: the first row in memory is the top one
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
using LPBITMAPINFO = BITMAPINFO*;

inline constexpr DWORD BI_RGB = 0;
inline constexpr UINT DIB_RGB_COLORS = 0;

// A memory context, with the stock 1 x 1 bitmap selected (which takes no
// paint); `compatible` may be null, the screen.
extern "C" HDC CreateCompatibleDC(HDC compatible);
extern "C" BOOL DeleteDC(HDC dc);
// 32-bit BI_RGB, DIB_RGB_COLORS and no section only; `bits` gets the
// pixels, zeroed, BGRA bytes from the first row in memory on, rows packed.
extern "C" HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                    HANDLE section, DWORD offset);
// Selects a bitmap into a memory context and returns the one it replaces;
// null when either is no such handle or the bitmap is in another context.
extern "C" HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// FALSE for a bitmap still selected into a context, or no bitmap at all.
extern "C" BOOL DeleteObject(HGDIOBJ object);

// FALSE for a null context or a point outside it, which stays untouched.
extern "C" BOOL SetPixelV(HDC target, int x, int y, COLORREF color);
// CLR_INVALID for a point outside, or a context that is not the runtime's.
extern "C" COLORREF GetPixel(HDC source, int x, int y);
