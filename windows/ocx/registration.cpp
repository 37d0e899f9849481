// DllRegisterServer and DllUnregisterServer on the system registry: the
// type library, the two class records and the two component categories,
// in that order. Neither rolls back: after a failure the registry holds
// what the completed steps left.
#include <comcat.h>
#include <olectl.h>

#include <algorithm>
#include <string>

#include "class_factory.h"
#include "ocx_module.h"

namespace tarvona::ocx {
namespace {

// The braced, upper-case form; empty when it does not come out whole.
OleString GuidText(const GUID& guid) {
  OLECHAR text[39];
  if (StringFromGUID2(guid, text, 39) != 39) return {};
  return text;
}

OleString Decimal(long long value) { return Widen(std::to_string(value)); }

// A key under HKEY_CLASSES_ROOT, closed when dropped.
class Key {
 public:
  explicit Key(const OleString& path) {
    ok_ = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  ~Key() {
    if (ok_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  explicit operator bool() const { return ok_; }
  // A string value, its terminating zero included.
  bool Set(LPCOLESTR name, const OleString& data) {
    return ok_ &&
           RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(OLECHAR))) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
  bool ok_ = false;
};

// Creates `path` and sets its default value.
bool SetDefault(const OleString& path, const OleString& data) {
  Key key(path);
  return key.Set(nullptr, data);
}

bool Removed(LSTATUS status) {
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_BADKEY;
}

OleString TypeName(UINT id, const OleString& clsid) {
  OleString name = LoadModuleString(id);
  return name.empty() ? clsid : name;
}

bool RegisterControlClass(const OleString& path) {
  const OleString clsid = GuidText(kControlClsid);
  const OleString libid = GuidText(kLibId);
  if (clsid.empty() || libid.empty() || path.empty()) return false;
  const OleString type_name = TypeName(identity::kIdsControl, clsid);
  const OleString prog_id = Widen(identity::kControlProgId);
  const OleString class_key = OLESTR("CLSID\\") + clsid;
  Key class_root(class_key);
  Key prog_root(prog_id);
  if (!class_root || !prog_root) return false;
  const OleString version =
      Decimal(identity::kLibMajor) + OLESTR(".") + Decimal(identity::kLibMinor);
  bool ok =
      prog_root.Set(nullptr, type_name) && SetDefault(prog_id + OLESTR("\\CLSID"), clsid) &&
      class_root.Set(nullptr, type_name) && SetDefault(class_key + OLESTR("\\ProgID"), prog_id) &&
      SetDefault(class_key + OLESTR("\\InprocServer32"), path) &&
      SetDefault(class_key + OLESTR("\\ToolboxBitmap32"),
                 path + OLESTR(", ") + Decimal(identity::kIdbPicture)) &&
      SetDefault(class_key + OLESTR("\\MiscStatus"), OLESTR("0")) &&
      SetDefault(class_key + OLESTR("\\MiscStatus\\1"), Decimal(identity::kControlMiscStatus)) &&
      SetDefault(class_key + OLESTR("\\Control"), OLESTR("")) && SetDefault(class_key + OLESTR("\\TypeLib"), libid) &&
      SetDefault(class_key + OLESTR("\\Version"), version);
  if (ok) {
    Key server(class_key + OLESTR("\\InprocServer32"));
    ok = server.Set(OLESTR("ThreadingModel"), OLESTR("Apartment"));
  }
  return ok;
}

// No ProgID key and no threading model for the page.
bool RegisterPageClass(const OleString& path) {
  const OleString clsid = GuidText(kPageClsid);
  if (clsid.empty() || path.empty()) return false;
  const OleString class_key = OLESTR("CLSID\\") + clsid;
  return SetDefault(class_key, TypeName(identity::kIdsPage, clsid)) &&
         SetDefault(class_key + OLESTR("\\InprocServer32"), path);
}

bool UnregisterClass(const GUID& guid, const char* prog_id) {
  const OleString clsid = GuidText(guid);
  if (clsid.empty()) return false;
  const OleString class_key = OLESTR("CLSID\\") + clsid;
  HKEY server16 = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (class_key + OLESTR("\\InprocServer")).c_str(), 0, KEY_READ,
                    &server16) == ERROR_SUCCESS) {
    // A 16-bit server shares the class: only our own parts go.
    RegCloseKey(server16);
    const bool server =
        Removed(RegDeleteTreeW(HKEY_CLASSES_ROOT, (class_key + OLESTR("\\InprocServer32")).c_str()));
    const bool bitmap =
        Removed(RegDeleteTreeW(HKEY_CLASSES_ROOT, (class_key + OLESTR("\\ToolboxBitmap32")).c_str()));
    return server && bitmap;
  }
  bool ok = Removed(RegDeleteTreeW(HKEY_CLASSES_ROOT, class_key.c_str()));
  if (prog_id != nullptr) {
    ok = Removed(RegDeleteTreeW(HKEY_CLASSES_ROOT, Widen(prog_id).c_str())) && ok;
  }
  return ok;
}

// Each category operation obtains the categories manager anew and
// releases it before returning the one call's result.
template <typename Call>
HRESULT WithCategories(Call call) {
  ICatRegister* categories = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatRegister, reinterpret_cast<void**>(&categories));
  if (FAILED(hr)) return hr;
  hr = call(*categories);
  categories->Release();
  return hr;
}

HRESULT DefineCategory(const GUID& catid, const char16_t* description) {
  return WithCategories([&](ICatRegister& categories) {
    CATEGORYINFO info{};
    info.catid = catid;
    info.lcid = identity::kCategoryLocale;
    size_t length = std::char_traits<char16_t>::length(description);
    if (length > 127) length = 127;
    std::copy(description, description + length, info.szDescription);
    info.szDescription[length] = 0;
    return categories.RegisterCategories(1, &info);
  });
}

HRESULT AddToCategory(const GUID& catid) {
  return WithCategories([&](ICatRegister& categories) {
    CATID ids[] = {catid};
    return categories.RegisterClassImplCategories(kControlClsid, 1, ids);
  });
}

HRESULT RemoveFromCategory(const GUID& catid) {
  return WithCategories([&](ICatRegister& categories) {
    CATID ids[] = {catid};
    return categories.UnRegisterClassImplCategories(kControlClsid, 1, ids);
  });
}

constexpr GUID kSafeForInitializing = identity::ToGuid<GUID>(identity::kCatidSafeForInitializing);
constexpr GUID kSafeForScripting = identity::ToGuid<GUID>(identity::kCatidSafeForScripting);

}  // namespace

HRESULT RegisterServer() {
  HRESULT hr = RegisterTypeLibrary();
  if (FAILED(hr)) return hr;
  // The class objects in the module's list order: the page, then the control.
  const OleString path = RegisteredModulePath();
  if (!RegisterPageClass(path) || !RegisterControlClass(path)) return SELFREG_E_CLASS;

  hr = DefineCategory(kSafeForInitializing, identity::kSafeForInitializingDescription);
  if (FAILED(hr)) return hr;
  hr = AddToCategory(kSafeForInitializing);
  if (FAILED(hr)) return hr;
  hr = DefineCategory(kSafeForScripting, identity::kSafeForScriptingDescription);
  if (FAILED(hr)) return hr;
  hr = AddToCategory(kSafeForScripting);
  return FAILED(hr) ? hr : S_OK;
}

// The category definitions stay: every control on the machine shares them.
HRESULT UnregisterServer() {
  HRESULT hr = RemoveFromCategory(kSafeForInitializing);
  if (FAILED(hr)) return hr;
  hr = RemoveFromCategory(kSafeForScripting);
  if (FAILED(hr)) return hr;
  hr = UnregisterTypeLibrary();
  if (FAILED(hr)) return hr;
  if (!UnregisterClass(kPageClsid, nullptr) ||
      !UnregisterClass(kControlClsid, identity::kControlProgId)) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

}  // namespace tarvona::ocx
