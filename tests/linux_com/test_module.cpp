// A small in-process server for the activation tests: one class, whose
// objects answer IUnknown only. It may go once no object, class object
// reference or server lock is left. Built without DllCanUnloadNow too
// (TEST_MODULE_WITHOUT_UNLOAD), as a module lacking an entry point.
#include <objbase.h>

#include <atomic>

#include "tests/linux_com/test_module.h"

namespace {

std::atomic<long> holds{0};

class Object final : public IUnknown {
 public:
  Object() { ++holds; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ~Object() { --holds; }
  std::atomic<ULONG> references_{1};
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
      return E_NOINTERFACE;
    }
    AddRef();
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++holds); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--holds); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* object = new Object;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    holds += lock ? 1 : -1;
    return S_OK;
  }
};

Factory factory;

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kTestModuleClass)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, out);
}

#ifndef TEST_MODULE_WITHOUT_UNLOAD
HRESULT DllCanUnloadNow() { return holds == 0 ? S_OK : S_FALSE; }
#endif
