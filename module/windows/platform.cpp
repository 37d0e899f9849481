// The server's Windows side: the module's own resources and file name,
// the type library, OLE's helpers, GDI and the dialog manager.
#include <olectl.h>
#include <windows.h>

#include "module/com_objects.h"
#include "module/ocx_module.h"

namespace tarvona::ocx {

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

OleString ModuleFileName() {
  OleString name(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(ModuleInstance(), name.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  name.resize(length);
  return name;
}

OleString RegisteredModulePath() {
  const OleString full = ModuleFileName();
  if (full.empty()) return {};
  wchar_t short_name[MAX_PATH];
  const DWORD length = GetShortPathNameW(full.c_str(), short_name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return full;
  return short_name;
}

OleString LoadModuleString(UINT id) {
  // Length 0 asks for a pointer into the resource itself.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return OleString(text, static_cast<size_t>(length));
}

HRESULT TypeInfoOf(const GUID& guid, LCID lcid, ITypeInfo** info) {
  // The library is registered for its own locale only. Windows finds it
  // for related locales too; Wine does not even for 0 (neutral) or the
  // user's default, so those fall back to the library's own.
  Held<ITypeLib> lib;
  HRESULT hr = LoadRegTypeLib(kLibId, identity::kLibMajor, identity::kLibMinor, lcid, lib.Put());
  if (FAILED(hr) && lcid != identity::kLibLocale) {
    hr = LoadRegTypeLib(kLibId, identity::kLibMajor, identity::kLibMinor, identity::kLibLocale,
                        lib.Put());
  }
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(guid, info);
}

HRESULT RegisterTypeLibrary() {
  const OleString module = ModuleFileName();
  ITypeLib* lib = nullptr;
  if (module.empty() || FAILED(LoadTypeLib(module.c_str(), &lib))) return SELFREG_E_TYPELIB;
  TLIBATTR* attr = nullptr;
  bool ok = SUCCEEDED(lib->GetLibAttr(&attr));
  if (ok) {
    ok = IsEqualGUID(attr->guid, kLibId);
    lib->ReleaseTLibAttr(attr);
  }
  ok = ok && SUCCEEDED(RegisterTypeLib(lib, const_cast<wchar_t*>(module.c_str()), nullptr));
  lib->Release();
  return ok ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT UnregisterTypeLibrary() {
  // The library's own locale: a neutral one (0) is refused by some
  // systems' UnRegisterTypeLib.
  return FAILED(UnRegisterTypeLib(kLibId, identity::kLibMajor, identity::kLibMinor,
                                  identity::kLibLocale, kSysKind))
             ? SELFREG_E_TYPELIB
             : S_OK;
}

// Bitmap 202 stretched to 30 x 30, loaded for this paint only.
void DrawPicture(HDC target) {
  HDC memory = CreateCompatibleDC(target);
  HBITMAP bitmap = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(identity::kIdbPicture));
  if (memory != nullptr && bitmap != nullptr) {
    HGDIOBJ kept = SelectObject(memory, bitmap);
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    constexpr LONG kSide = identity::kPictureSide;
    StretchBlt(target, 0, 0, kSide, kSide, memory, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(memory, kept);
  }
  if (memory != nullptr) DeleteDC(memory);
  if (bitmap != nullptr) DeleteObject(bitmap);
}

HRESULT ShowPropertyFrame(HWND parent, IUnknown* object) {
  const OleString caption = LoadModuleString(identity::kIdsControl);
  CLSID page = kPageClsid;
  return OleCreatePropertyFrame(parent, 0, 0, caption.c_str(), 1, &object, 1, &page,
                                LOCALE_USER_DEFAULT, 0, nullptr);
}

namespace {

INT_PTR CALLBACK PageDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  // Focus goes where the dialog manager puts it; nothing else is handled.
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

}  // namespace

HWND CreatePageWindow(HWND parent) {
  return CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(identity::kIddPage), parent,
                            PageDialogProc, 0);
}

void DestroyPageWindow(HWND window) { DestroyWindow(window); }

void PlacePageWindow(HWND window, const RECT& rect) {
  MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void ShowPageWindow(HWND window, UINT command) { ShowWindow(window, static_cast<int>(command)); }

bool PageWindowTakesMessage(HWND window, MSG* message) {
  return IsDialogMessageW(window, message) != FALSE;
}

SIZE PageSize() {
  // Dialog 200 is 250 x 62 dialog units.
  const LONG base = GetDialogBaseUnits();
  return {MulDiv(250, LOWORD(base), 4), MulDiv(62, HIWORD(base), 8)};
}

}  // namespace tarvona::ocx
