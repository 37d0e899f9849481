#include <wingdi.h>

extern "C" BOOL SetPixelV(HDC target, int x, int y, COLORREF color) {
  if (target == nullptr || x < 0 || y < 0 || x >= target->Width() || y >= target->Height()) {
    return FALSE;
  }
  target->Paint(x, y, color);
  return TRUE;
}
