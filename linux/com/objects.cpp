// The runtime's own class and GUID text. The one class the runtime itself
// provides is the component categories manager (categories.cpp).
#include <new>
#include <string>

#include <comcat.h>
#include <objbase.h>

#include "linux/com/categories.h"
#include "linux/com/guid_text.h"
#include "linux/com/runtime_classes.h"
#include "linux/com/single_interface.h"

namespace {

// Makes categories managers; there is nothing of a module to keep loaded.
class CategoriesFactory final : public tarvona::linux_com::SingleInterface<IClassFactory> {
 public:
  CategoriesFactory() : SingleInterface(IID_IClassFactory) {}
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return tarvona::linux_com::CreateCategoriesManager(iid, out);
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
  const std::string ascii = tarvona::linux_com::GuidText(guid);
  for (size_t i = 0; i < ascii.size(); ++i) text[i] = static_cast<OLECHAR>(ascii[i]);
  text[ascii.size()] = 0;
  return static_cast<int>(ascii.size() + 1);
}
