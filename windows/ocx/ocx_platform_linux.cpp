// The server's Linux side, over the Linux COM runtime: the module file's
// own path, its strings and picture from the identity. There are no
// windows: the page has none, and the property frame is not offered.
#include <string_view>

#include "ocx_module.h"
#include "platform/own_path.h"

namespace tarvona::ocx {

// The process's code page here is UTF-8, the file system's.
OleString ModuleFileName() { return ToOleString(platform::OwnBinaryPath().string()); }

// Linux has no short names: the record holds the full path.
OleString RegisteredModulePath() { return ModuleFileName(); }

OleString LoadModuleString(UINT id) {
  struct Entry {
    UINT id;
    std::string_view text;
  };
  static constexpr Entry kStrings[] = {
      {identity::kIdsControl, identity::kControlTypeName},
      {identity::kIdsPage, identity::kPageTypeName},
      {identity::kIdsPageCaption, identity::kPageCaption},
  };
  for (const Entry& entry : kStrings) {
    if (entry.id == id) return Widen(entry.text);
  }
  return {};
}

// The module carries no type library yet: its type information is not
// there, and registration stops at its first step.
HRESULT TypeInfoOf(const GUID&, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return TYPE_E_LIBNOTREGISTERED;
}
HRESULT RegisterTypeLibrary() { return SELFREG_E_TYPELIB; }
HRESULT UnregisterTypeLibrary() { return SELFREG_E_TYPELIB; }

// The picture's 32 x 32 inks stretched to 30 x 30, each target pixel
// taking the ink under its centre.
void DrawPicture(HDC target) {
  constexpr LONG kSide = identity::kPictureSide;
  constexpr LONG kSource = 32;
  for (LONG y = 0; y < kSide; ++y) {
    for (LONG x = 0; x < kSide; ++x) {
      const identity::PictureInk ink =
          identity::PictureInkAt((2 * x + 1) * kSource / (2 * kSide), (2 * y + 1) * kSource / (2 * kSide));
      SetPixelV(target, x, y, RGB(ink.red, ink.green, ink.blue));
    }
  }
}

HRESULT ShowPropertyFrame(HWND, IUnknown*) { return E_NOTIMPL; }

HWND CreatePageWindow(HWND) { return nullptr; }
void DestroyPageWindow(HWND) {}
void PlacePageWindow(HWND, const RECT&) {}
void ShowPageWindow(HWND, UINT) {}
bool PageWindowTakesMessage(HWND, MSG*) { return false; }

SIZE PageSize() {
  // Dialog 200's 250 x 62 dialog units at the usual 8 x 16 base units.
  return {250 * 8 / 4, 62 * 16 / 8};
}

}  // namespace tarvona::ocx
