// The module's two class objects and the exports that hand them out and
// tell whether the module may be unloaded.
#include "module/class_factory.h"

#include <atomic>

#include "module/com_objects.h"
#include "module/ocx_module.h"

namespace tarvona::ocx {
namespace {

// A class object lives as long as the module; its count tells
// DllCanUnloadNow whether a caller still holds it.
class ClassFactory final : public IClassFactory {
 public:
  using Create = IUnknown* (*)();
  ClassFactory(const CLSID& clsid, Create create) : clsid_(clsid), create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    static constexpr InterfaceEntry<ClassFactory> kTable[] = {
        {&IID_IUnknown, [](ClassFactory* p) -> void* { return p; }},
        {&IID_IClassFactory, [](ClassFactory* p) -> void* { return p; }},
    };
    return QueryFromTable(this, kTable, iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IUnknown* object = create_();
    if (object == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }

  const CLSID& clsid() const { return clsid_; }
  bool HeldByCaller() const { return references_.load() > 1; }

 private:
  const CLSID clsid_;
  const Create create_;
  std::atomic<ULONG> references_{1};  // the module's own
};

ClassFactory g_control_factory(kControlClsid, CreateControlObject);
ClassFactory g_page_factory(kPageClsid, CreatePropertyPageObject);
ClassFactory* const g_factories[] = {&g_page_factory, &g_control_factory};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (ClassFactory* factory : g_factories) {
    if (IsEqualCLSID(clsid, factory->clsid())) return factory->QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() {
  if (ModuleInUse()) return S_FALSE;
  for (const ClassFactory* factory : g_factories) {
    if (factory->HeldByCaller()) return S_FALSE;
  }
  return S_OK;
}

}  // namespace tarvona::ocx
