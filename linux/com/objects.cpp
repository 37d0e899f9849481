// The runtime's own class and GUID text. The one class the runtime itself
// provides is the component categories manager: com's manager over
// HKEY_CLASSES_ROOT (com::ClassesRoot), behind Windows' ICatRegister.
#include <algorithm>
#include <atomic>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <comcat.h>
#include <objbase.h>

#include "linux/com/runtime_classes.h"
#include "linux/com/single_interface.h"

#include "com/classes_root.h"
#include "com/component_categories.h"

namespace {

namespace com = tarvona::com;

com::GUID ToCom(REFGUID g) {
  com::GUID out{g.Data1, g.Data2, g.Data3, {}};
  for (int i = 0; i < 8; ++i) out.Data4[i] = g.Data4[i];
  return out;
}

class CategoriesManager final : public tarvona::linux_com::SingleInterface<ICatRegister> {
 public:
  CategoriesManager() : SingleInterface(IID_ICatRegister) {}
  HRESULT Start() {
    com::ICatRegister* manager = nullptr;
    const HRESULT hr = com::SystemClassCreator(root_).CreateInstance(
        com::CLSID_StdComponentCategoriesMgr, nullptr, com::CLSCTX_INPROC_SERVER,
        com::IID_ICatRegister, reinterpret_cast<void**>(&manager));
    manager_ = manager;
    return hr;
  }


  HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO* infos) override {
    if (count > 0 && infos == nullptr) return E_POINTER;
    return Guarded([&] {
      std::vector<com::CATEGORYINFO> converted(count);
      for (ULONG i = 0; i < count; ++i) {
        converted[i].catid = ToCom(infos[i].catid);
        converted[i].lcid = infos[i].lcid;
        std::copy(std::begin(infos[i].szDescription), std::end(infos[i].szDescription),
                  converted[i].szDescription);
      }
      return manager_->RegisterCategories(count, converted.data());
    });
  }
  HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID* ids) override {
    return WithIds(count, ids, [&](const com::CATID* c) {
      return manager_->UnRegisterCategories(count, c);
    });
  }
  HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                        CATID* ids) override {
    return WithIds(count, ids, [&](const com::CATID* c) {
      return manager_->RegisterClassImplCategories(ToCom(clsid), count, c);
    });
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                          CATID* ids) override {
    return WithIds(count, ids, [&](const com::CATID* c) {
      return manager_->UnRegisterClassImplCategories(ToCom(clsid), count, c);
    });
  }
  HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                       CATID* ids) override {
    return WithIds(count, ids, [&](const com::CATID* c) {
      return manager_->RegisterClassReqCategories(ToCom(clsid), count, c);
    });
  }
  HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                         CATID* ids) override {
    return WithIds(count, ids, [&](const com::CATID* c) {
      return manager_->UnRegisterClassReqCategories(ToCom(clsid), count, c);
    });
  }

 private:
  ~CategoriesManager() override {
    if (manager_ != nullptr) manager_->Release();
  }

  template <typename Call>
  static HRESULT Guarded(Call call) {
    try {
      return call();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  template <typename Call>
  HRESULT WithIds(ULONG count, const CATID* ids, Call call) {
    if (count > 0 && ids == nullptr) return E_POINTER;
    return Guarded([&] {
      std::vector<com::CATID> converted;
      for (ULONG i = 0; i < count; ++i) converted.push_back(ToCom(ids[i]));
      return call(converted.data());
    });
  }

  com::ClassesRoot root_;
  com::ICatRegister* manager_ = nullptr;
};

// Makes categories managers; there is nothing of a module to keep loaded.
class CategoriesFactory final : public tarvona::linux_com::SingleInterface<IClassFactory> {
 public:
  CategoriesFactory() : SingleInterface(IID_IClassFactory) {}
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    CategoriesManager* manager = nullptr;
    try {
      manager = new CategoriesManager;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    HRESULT hr = manager->Start();
    if (SUCCEEDED(hr)) hr = manager->QueryInterface(iid, out);
    manager->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

namespace tarvona::linux_com {

HRESULT RuntimeClassObject(REFCLSID clsid, REFIID iid, void** out) {
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_StdComponentCategoriesMgr)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) CategoriesFactory;
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

}  // namespace tarvona::linux_com

extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
  if (text == nullptr || size < 39) return 0;
  const std::string ascii = com::GuidToString(ToCom(guid));
  for (size_t i = 0; i < ascii.size(); ++i) text[i] = static_cast<OLECHAR>(ascii[i]);
  text[ascii.size()] = 0;
  return static_cast<int>(ascii.size() + 1);
}
