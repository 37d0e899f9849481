#pragma once

// The module's COM objects. Each is small and answers QueryInterface from
// an explicit table of the interfaces it offers.

#include <atomic>

#include <unknwn.h>
#include <windows.h>

#include "capi/certificate_picker.h"
#include "capi/crypto_platform.h"
#include "platform/dynamic_library.h"
#include "platform/com_ptr.h"

namespace tarvona::ocx {

// What every control object is built over; the module entry composes it.
struct ControlEnvironment {
  const platform::LibraryLoader& loader;
  capi::CryptoPlatform& crypto;
  capi::CertificatePicker& picker;
};
const ControlEnvironment& Environment();

// New objects with one reference held by the caller; null when memory is
// exhausted. Each counts among the module's live objects until destroyed.
IUnknown* CreateControlObject();
IUnknown* CreatePropertyPageObject();

// The reference count of a heap object offering `Interfaces`: one count
// for all of them, and the object (`Object`, the most derived class)
// deleted with the last reference.
template <typename Object, typename... Interfaces>
class RefCounted : public Interfaces... {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete static_cast<Object*>(this);
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

// One row of a QueryInterface table: an interface and how to reach it.
template <typename Object>
struct InterfaceEntry {
  const IID* iid;
  void* (*cast)(Object*);
};

template <typename Object, size_t N>
HRESULT QueryFromTable(Object* object, const InterfaceEntry<Object> (&table)[N], REFIID iid,
                       void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (const InterfaceEntry<Object>& entry : table) {
    if (IsEqualIID(iid, *entry.iid)) {
      *out = entry.cast(object);
      static_cast<IUnknown*>(*out)->AddRef();
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

using platform::Held;

}  // namespace tarvona::ocx
