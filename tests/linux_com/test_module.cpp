// A small in-process server for the activation tests: one class, whose
// objects answer IUnknown only. It may go once no object, class object or
// server lock is left. Built without DllCanUnloadNow too
// (TEST_MODULE_WITHOUT_UNLOAD), as a module lacking an entry point.
#include <objbase.h>

#include <atomic>

#include "linux/com/single_interface.h"
#include "tests/linux_com/test_module.h"

namespace {

using tarvona::linux_com::SingleInterface;

std::atomic<long> holds{0};

// Holds the module while it lives.
template <typename Interface>
class Held : public SingleInterface<Interface> {
 protected:
  explicit Held(REFIID iid) : SingleInterface<Interface>(iid) { ++holds; }
  ~Held() override { --holds; }
};

class Object final : public Held<IUnknown> {
 public:
  Object() : Held(IID_IUnknown) {}
};

class Factory final : public Held<IClassFactory> {
 public:
  Factory() : Held(IID_IClassFactory) {}
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

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kTestModuleClass)) return CLASS_E_CLASSNOTAVAILABLE;
  Factory* factory = new Factory;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

#ifndef TEST_MODULE_WITHOUT_UNLOAD
HRESULT DllCanUnloadNow() { return holds == 0 ? S_OK : S_FALSE; }
#endif
