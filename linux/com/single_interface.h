#pragma once

// What every object the runtime hands out needs: IUnknown for one
// interface and a reference count, the object deleted at the last Release.

#include <atomic>

#include <unknwn.h>

namespace tarvona::linux_com {

template <typename Interface>
class SingleInterface : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, iid_)) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  explicit SingleInterface(REFIID iid) : iid_(iid) {}
  virtual ~SingleInterface() = default;

 private:
  const IID& iid_;
  std::atomic<ULONG> references_{1};
};

}  // namespace tarvona::linux_com
