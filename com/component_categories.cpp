#include "com/component_categories.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "com/wide_text.h"

namespace tarvona::com {
namespace {

bool Done(LSTATUS s) { return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND; }

class CategoriesManager final : public ComObject<ICatRegister> {
 public:
  explicit CategoriesManager(Registry& registry) : registry_(registry) {}

  HRESULT RegisterCategories(ULONG count, const CATEGORYINFO* infos) noexcept override {
    if (count > 0 && infos == nullptr) return E_POINTER;
    return Guarded([&] {
      for (ULONG i = 0; i < count; ++i) {
        const CATEGORYINFO& info = infos[i];
        std::u16string_view field(info.szDescription, 128);
        size_t length = field.find(u'\0');
        if (length == std::u16string_view::npos) return E_INVALIDARG;  // no terminator
        std::u16string_view description = field.substr(0, length);
        char locale[12];
        std::snprintf(locale, sizeof locale, "%x", info.lcid);
        const std::string key = "Component Categories\\" + GuidToString(info.catid);
        if (registry_.CreateKey(key) != ERROR_SUCCESS ||
            registry_.SetValue(key, locale, Utf16ToUtf8(description)) != ERROR_SUCCESS) {
          return REGDB_E_WRITEREGDB;
        }
      }
      return S_OK;
    });
  }

  HRESULT UnRegisterCategories(ULONG count, const CATID* catids) noexcept override {
    if (count > 0 && catids == nullptr) return E_POINTER;
    return Guarded([&] {
      for (ULONG i = 0; i < count; ++i) {
        if (!Done(registry_.DeleteTree("Component Categories\\" + GuidToString(catids[i])))) {
          return REGDB_E_WRITEREGDB;
        }
      }
      return S_OK;
    });
  }

  HRESULT RegisterClassImplCategories(const CLSID& clsid, ULONG count,
                                      const CATID* catids) noexcept override {
    return AddToClass(clsid, "Implemented Categories", count, catids);
  }
  HRESULT UnRegisterClassImplCategories(const CLSID& clsid, ULONG count,
                                        const CATID* catids) noexcept override {
    return RemoveFromClass(clsid, "Implemented Categories", count, catids);
  }
  HRESULT RegisterClassReqCategories(const CLSID& clsid, ULONG count,
                                     const CATID* catids) noexcept override {
    return AddToClass(clsid, "Required Categories", count, catids);
  }
  HRESULT UnRegisterClassReqCategories(const CLSID& clsid, ULONG count,
                                       const CATID* catids) noexcept override {
    return RemoveFromClass(clsid, "Required Categories", count, catids);
  }

 private:
  ~CategoriesManager() = default;

  HRESULT AddToClass(const CLSID& clsid, const char* list, ULONG count,
                     const CATID* catids) noexcept {
    if (count > 0 && catids == nullptr) return E_POINTER;
    return Guarded([&] {
      const std::string key = "CLSID\\" + GuidToString(clsid) + "\\" + list;
      for (ULONG i = 0; i < count; ++i) {
        if (registry_.CreateKey(key + "\\" + GuidToString(catids[i])) != ERROR_SUCCESS) {
          return REGDB_E_WRITEREGDB;
        }
      }
      return S_OK;
    });
  }

  // Removing what is not there succeeds; the list key goes with its last
  // entry.
  HRESULT RemoveFromClass(const CLSID& clsid, const char* list, ULONG count,
                          const CATID* catids) noexcept {
    if (count > 0 && catids == nullptr) return E_POINTER;
    return Guarded([&] {
      const std::string key = "CLSID\\" + GuidToString(clsid) + "\\" + list;
      for (ULONG i = 0; i < count; ++i) {
        if (!Done(registry_.DeleteTree(key + "\\" + GuidToString(catids[i])))) {
          return REGDB_E_WRITEREGDB;
        }
      }
      std::vector<std::string> left;
      if (registry_.EnumKeys(key, &left) == ERROR_SUCCESS && left.empty() &&
          !Done(registry_.DeleteTree(key))) {
        return REGDB_E_WRITEREGDB;
      }
      return S_OK;
    });
  }

  Registry& registry_;
};

}  // namespace

HRESULT SystemClassCreator::CreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context,
                                           const IID& iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_StdComponentCategoriesMgr || (context & CLSCTX_INPROC_SERVER) == 0) {
    return REGDB_E_CLASSNOTREG;
  }
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* manager = new (std::nothrow) CategoriesManager(registry_);
  if (manager == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = manager->QueryInterface(iid, out);
  manager->Release();
  return hr;
}

}  // namespace tarvona::com
