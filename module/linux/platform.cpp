// The server's Linux side, over the Linux COM runtime: the module file's
// own path, its strings and picture from the identity. There are no
// windows: the page has none, and the property frame is not offered.
#include <string>
#include <string_view>
#include <vector>

#include <oleauto.h>
#include <winreg.h>

#include "module/class_factory.h"
#include "control/method_metadata.h"
#include "module/ocx_module.h"
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

namespace {

constexpr const OLECHAR* kPlatformKey = sizeof(void*) == 8 ? OLESTR("linux64") : OLESTR("linux32");

OleString VersionKey() {
  return Widen("TypeLib\\" + registration::GuidText(identity::kLibId) + "\\" +
               std::to_string(identity::kLibMajor) + "." + std::to_string(identity::kLibMinor));
}

// The dispatch interface's description, built from the method table.
HRESULT DescribeInterface(LCID lcid, ITypeInfo** info) {
  std::vector<OleString> names;
  std::vector<std::vector<PARAMDATA>> params(MethodTable().size());
  std::vector<METHODDATA> methods;
  // Every name first, so the pointers into them stay put.
  for (const MethodInfo& method : MethodTable()) {
    names.push_back(Widen(method.name));
    for (const ParamInfo& param : method.params) names.push_back(Widen(param.name));
  }
  size_t next = 0;
  for (size_t m = 0; m < MethodTable().size(); ++m) {
    const MethodInfo& method = MethodTable()[m];
    OLECHAR* name = names[next++].data();
    for (const ParamInfo& param : method.params) {
      params[m].push_back({names[next++].data(), static_cast<VARTYPE>(param.type)});
    }
    methods.push_back({name, params[m].data(), static_cast<DISPID>(method.dispid),
                       static_cast<UINT>(m), CC_STDCALL, static_cast<UINT>(method.params.size()),
                       DISPATCH_METHOD, static_cast<VARTYPE>(method.result)});
  }
  INTERFACEDATA data{methods.data(), static_cast<UINT>(methods.size())};
  return CreateDispTypeInfo(&data, lcid, info);
}

}  // namespace

// The type library is the method table's description, there once the
// library is registered.
HRESULT TypeInfoOf(const GUID& guid, LCID lcid, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, VersionKey().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return TYPE_E_LIBNOTREGISTERED;
  }
  RegCloseKey(key);
  if (!IsEqualGUID(guid, kDispatchIid)) return TYPE_E_ELEMENTNOTFOUND;
  return DescribeInterface(lcid, info);
}

// The library's rows of the registration record, as RegisterTypeLib
// writes them on Windows.
HRESULT RegisterTypeLibrary() {
  return WriteRecordRows(registration::Writer::kTypeLibrary, kPlatformKey) ? S_OK
                                                                           : SELFREG_E_TYPELIB;
}

// The library and the interfaces it describes.
HRESULT UnregisterTypeLibrary() {
  bool ok = true;
  for (const OleString& key : RecordRoots(registration::Writer::kTypeLibrary)) {
    ok = RemoveTree(key) && ok;
  }
  return ok ? S_OK : SELFREG_E_TYPELIB;
}

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
