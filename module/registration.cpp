// DllRegisterServer and DllUnregisterServer: the type library, the class
// records and the two component categories, in that order. The class
// records are the module's rows of the registration record, written and
// removed as they stand. Neither call rolls back: after a failure the
// registry holds what the completed steps left.
#include <comcat.h>
#include <olectl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "module/class_factory.h"
#include "common/registration_record.h"
#include "module/ocx_module.h"

namespace tarvona::ocx {
namespace {

using registration::Row;
using registration::Writer;

// A row's text with the module file's names in place of the placeholders.
// Rows are ASCII; the names may not be.
OleString Filled(const std::string& text, const OleString& path, const OleString& short_path,
                 const OleString& win) {
  const OleString folder = path.substr(0, path.find_last_of(OLESTR("\\/")));
  OleString out = Widen(text);
  for (const auto& [placeholder, value] :
       {std::pair<OleString, const OleString&>{Widen(registration::kShortPathPlaceholder),
                                               short_path},
        {Widen(registration::kPathPlaceholder), path},
        {Widen(registration::kFolderPlaceholder), folder},
        {Widen(registration::kWinPlaceholder), win}}) {
    for (size_t at = out.find(placeholder); at != OleString::npos;
         at = out.find(placeholder, at + value.size())) {
      out.replace(at, placeholder.size(), value);
    }
  }
  return out;
}

bool WriteRow(const OleString& key_path, const OleString& name, const OleString& data,
              bool key_only) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // A string value, its terminating zero included.
  const bool ok =
      key_only || RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(OLECHAR))) ==
                      ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool KeyExists(const OleString& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool UnregisterClasses() {
  bool ok = true;
  bool shared = false;
  const std::vector<OleString> roots = RecordRoots(Writer::kModule);
  for (const OleString& root : roots) {
    if (root.rfind(OLESTR("CLSID\\"), 0) != 0) continue;
    if (KeyExists(root + OLESTR("\\InprocServer"))) {
      // A 16-bit server shares the class: only our own parts go, and its
      // ProgID stays.
      shared = true;
      for (LPCOLESTR part : {OLESTR("\\InprocServer32"), OLESTR("\\ToolboxBitmap32")}) {
        ok = RemoveTree(root + part) && ok;
      }
      continue;
    }
    ok = RemoveTree(root) && ok;
  }
  for (const OleString& root : roots) {
    if (root.rfind(OLESTR("CLSID\\"), 0) == 0 || shared) continue;
    ok = RemoveTree(root) && ok;
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

bool RemoveTree(const OleString& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_BADKEY;
}

std::vector<OleString> RecordRoots(registration::Writer writer) {
  std::vector<OleString> roots;
  for (const Row& row : registration::Record()) {
    if (row.writer != writer) continue;
    const size_t first = row.key.find('\\');
    const std::string head = row.key.substr(0, first);
    const bool keyed = head == "CLSID" || head == "TypeLib" || head == "Interface";
    OleString root = Widen(row.key.substr(0, keyed ? row.key.find('\\', first + 1) : first));
    if (std::find(roots.begin(), roots.end(), root) == roots.end()) roots.push_back(root);
  }
  return roots;
}

bool WriteRecordRows(registration::Writer writer, const OleString& win) {
  const OleString path = ModuleFileName();
  const OleString short_path = RegisteredModulePath();
  if (path.empty() || short_path.empty()) return false;
  for (const Row& row : registration::Record()) {
    if (row.writer != writer) continue;
    if (!WriteRow(Filled(row.key, path, short_path, win), Widen(row.name),
                  Filled(row.data, path, short_path, win), row.key_only)) {
      return false;
    }
  }
  return true;
}

HRESULT RegisterServer() {
  HRESULT hr = RegisterTypeLibrary();
  if (FAILED(hr)) return hr;
  if (!WriteRecordRows(Writer::kModule, {})) return SELFREG_E_CLASS;

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
  return UnregisterClasses() ? S_OK : SELFREG_E_CLASS;
}

}  // namespace tarvona::ocx
