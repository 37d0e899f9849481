// The component categories manager, keeping categories in HKEY_CLASSES_ROOT
// as Windows does:
//   Component Categories\{CATID}                     "409" = description
//   CLSID\{CLSID}\Implemented Categories\{CATID}
//   CLSID\{CLSID}\Required Categories\{CATID}
#include "linux/com/categories.h"

#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "linux/com/classes_root.h"
#include "linux/com/guid_text.h"
#include "linux/com/single_interface.h"
#include "linux/com/wide_text.h"

namespace tarvona::linux_com {
namespace {

bool Done(LSTATUS s) { return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND; }

template <typename Call>
HRESULT Guarded(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

class CategoriesManager final : public SingleInterface<ICatRegister> {
 public:
  CategoriesManager() : SingleInterface(IID_ICatRegister) {}

  HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO* infos) override {
    if (count > 0 && infos == nullptr) return E_POINTER;
    return Guarded([&] {
      for (ULONG i = 0; i < count; ++i) {
        const CATEGORYINFO& info = infos[i];
        std::u16string_view field(info.szDescription, 128);
        const size_t length = field.find(u'\0');
        if (length == std::u16string_view::npos) return E_INVALIDARG;  // no terminator
        char locale[12];
        std::snprintf(locale, sizeof locale, "%x", static_cast<unsigned>(info.lcid));
        const std::string key = "Component Categories\\" + GuidText(info.catid);
        if (root_.CreateKey(key) != ERROR_SUCCESS ||
            root_.SetValue(key, locale, Utf16ToUtf8(field.substr(0, length))) != ERROR_SUCCESS) {
          return REGDB_E_WRITEREGDB;
        }
      }
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID* catids) override {
    if (count > 0 && catids == nullptr) return E_POINTER;
    return Guarded([&] {
      for (ULONG i = 0; i < count; ++i) {
        if (!Done(root_.DeleteTree("Component Categories\\" + GuidText(catids[i])))) {
          return REGDB_E_WRITEREGDB;
        }
      }
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                        CATID* catids) override {
    return AddToClass(clsid, "Implemented Categories", count, catids);
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                          CATID* catids) override {
    return RemoveFromClass(clsid, "Implemented Categories", count, catids);
  }
  HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                       CATID* catids) override {
    return AddToClass(clsid, "Required Categories", count, catids);
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                         CATID* catids) override {
    return RemoveFromClass(clsid, "Required Categories", count, catids);
  }

 private:
  ~CategoriesManager() override = default;

  HRESULT AddToClass(REFCLSID clsid, const char* list, ULONG count, const CATID* catids) {
    if (count > 0 && catids == nullptr) return E_POINTER;
    return Guarded([&] {
      const std::string key = "CLSID\\" + GuidText(clsid) + "\\" + list;
      for (ULONG i = 0; i < count; ++i) {
        if (root_.CreateKey(key + "\\" + GuidText(catids[i])) != ERROR_SUCCESS) {
          return REGDB_E_WRITEREGDB;
        }
      }
      return S_OK;
    });
  }

  // Removing what is not there succeeds; the list key goes with its last
  // entry.
  HRESULT RemoveFromClass(REFCLSID clsid, const char* list, ULONG count, const CATID* catids) {
    if (count > 0 && catids == nullptr) return E_POINTER;
    return Guarded([&] {
      const std::string key = "CLSID\\" + GuidText(clsid) + "\\" + list;
      for (ULONG i = 0; i < count; ++i) {
        if (!Done(root_.DeleteTree(key + "\\" + GuidText(catids[i])))) return REGDB_E_WRITEREGDB;
      }
      std::vector<std::string> left;
      if (root_.EnumKeys(key, &left) == ERROR_SUCCESS && left.empty() &&
          !Done(root_.DeleteTree(key))) {
        return REGDB_E_WRITEREGDB;
      }
      return S_OK;
    });
  }

  ClassesRoot root_;
};

}  // namespace

HRESULT CreateCategoriesManager(REFIID iid, void** out) {
  CategoriesManager* manager = nullptr;
  try {
    manager = new CategoriesManager;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = manager->QueryInterface(iid, out);
  manager->Release();
  return hr;
}

}  // namespace tarvona::linux_com
