// DllRegisterServer and DllUnregisterServer on the system registry: the
// type library, the two class records and the two component categories,
// in that order. Neither rolls back: after a failure the registry holds
// what the completed steps left.
#include <comcat.h>
#include <olectl.h>

#include <string>

#include "class_factory.h"
#include "ocx_module.h"

namespace tarvona::ocx {
namespace {

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

// The braced, upper-case form; empty when it does not come out whole.
std::wstring GuidText(const GUID& guid) {
  wchar_t text[39];
  if (StringFromGUID2(guid, text, 39) != 39) return {};
  return text;
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The module file's name in its short (8.3) form, as the record holds it.
std::wstring ShortModulePath() {
  const std::wstring full = ModuleFileName();
  if (full.empty()) return {};
  wchar_t short_name[MAX_PATH];
  const DWORD length = GetShortPathNameW(full.c_str(), short_name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return full;
  return short_name;
}

// A key under HKEY_CLASSES_ROOT, closed when dropped.
class Key {
 public:
  explicit Key(const std::wstring& path) {
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
  bool Set(const wchar_t* name, const std::wstring& data) {
    return ok_ &&
           RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
  bool ok_ = false;
};

// Creates `path` and sets its default value.
bool SetDefault(const std::wstring& path, const std::wstring& data) {
  Key key(path);
  return key.Set(nullptr, data);
}

bool Removed(LSTATUS status) {
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_BADKEY;
}

std::wstring TypeName(UINT id, const std::wstring& clsid) {
  std::wstring name = LoadModuleString(id);
  return name.empty() ? clsid : name;
}

bool RegisterControlClass(const std::wstring& path) {
  const std::wstring clsid = GuidText(kControlClsid);
  const std::wstring libid = GuidText(kLibId);
  if (clsid.empty() || libid.empty() || path.empty()) return false;
  const std::wstring type_name = TypeName(identity::kIdsControl, clsid);
  const std::wstring prog_id = Widen(identity::kControlProgId);
  const std::wstring class_key = L"CLSID\\" + clsid;
  Key class_root(class_key);
  Key prog_root(prog_id);
  if (!class_root || !prog_root) return false;
  const std::wstring version =
      std::to_wstring(identity::kLibMajor) + L"." + std::to_wstring(identity::kLibMinor);
  bool ok =
      prog_root.Set(nullptr, type_name) && SetDefault(prog_id + L"\\CLSID", clsid) &&
      class_root.Set(nullptr, type_name) && SetDefault(class_key + L"\\ProgID", prog_id) &&
      SetDefault(class_key + L"\\InprocServer32", path) &&
      SetDefault(class_key + L"\\ToolboxBitmap32",
                 path + L", " + std::to_wstring(identity::kIdbPicture)) &&
      SetDefault(class_key + L"\\MiscStatus", L"0") &&
      SetDefault(class_key + L"\\MiscStatus\\1", std::to_wstring(identity::kControlMiscStatus)) &&
      SetDefault(class_key + L"\\Control", L"") && SetDefault(class_key + L"\\TypeLib", libid) &&
      SetDefault(class_key + L"\\Version", version);
  if (ok) {
    Key server(class_key + L"\\InprocServer32");
    ok = server.Set(L"ThreadingModel", L"Apartment");
  }
  return ok;
}

// No ProgID key and no threading model for the page.
bool RegisterPageClass(const std::wstring& path) {
  const std::wstring clsid = GuidText(kPageClsid);
  if (clsid.empty() || path.empty()) return false;
  const std::wstring class_key = L"CLSID\\" + clsid;
  return SetDefault(class_key, TypeName(identity::kIdsPage, clsid)) &&
         SetDefault(class_key + L"\\InprocServer32", path);
}

bool UnregisterClass(const GUID& guid, const char* prog_id) {
  const std::wstring clsid = GuidText(guid);
  if (clsid.empty()) return false;
  const std::wstring class_key = L"CLSID\\" + clsid;
  HKEY server16 = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (class_key + L"\\InprocServer").c_str(), 0, KEY_READ,
                    &server16) == ERROR_SUCCESS) {
    // A 16-bit server shares the class: only our own parts go.
    RegCloseKey(server16);
    const bool server =
        Removed(RegDeleteTreeW(HKEY_CLASSES_ROOT, (class_key + L"\\InprocServer32").c_str()));
    const bool bitmap =
        Removed(RegDeleteTreeW(HKEY_CLASSES_ROOT, (class_key + L"\\ToolboxBitmap32").c_str()));
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
    const auto* text = reinterpret_cast<const wchar_t*>(description);
    size_t length = wcslen(text);
    if (length > 127) length = 127;
    std::copy(text, text + length, info.szDescription);
    info.szDescription[length] = L'\0';
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
  const std::wstring module = ModuleFileName();
  {
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
    if (!ok) return SELFREG_E_TYPELIB;
  }
  // The class objects in the module's list order: the page, then the control.
  const std::wstring path = ShortModulePath();
  if (!RegisterPageClass(path) || !RegisterControlClass(path)) return SELFREG_E_CLASS;

  HRESULT hr = DefineCategory(kSafeForInitializing, identity::kSafeForInitializingDescription);
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
  // The library's own locale: a neutral one (0) is refused by some
  // systems' UnRegisterTypeLib.
  if (FAILED(UnRegisterTypeLib(kLibId, identity::kLibMajor, identity::kLibMinor,
                               identity::kLibLocale, kSysKind))) {
    return SELFREG_E_TYPELIB;
  }
  if (!UnregisterClass(kPageClsid, nullptr) ||
      !UnregisterClass(kControlClsid, identity::kControlProgId)) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

}  // namespace tarvona::ocx
