#include "module/object_factory.h"

namespace tarvona::module {

using com::S_FALSE;
using com::S_OK;

ModuleState::~ModuleState() = default;

void ModuleState::RegisterAll() {
  std::lock_guard guard(lock_);
  for (ClassObject* f = head_; f != nullptr; f = f->next_) f->registered_ = true;
}

void ModuleState::RevokeAll() {
  std::lock_guard guard(lock_);
  for (ClassObject* f = head_; f != nullptr; f = f->next_) f->registered_ = false;
}

HRESULT ModuleState::GetClassObject(const CLSID& clsid, const IID& iid, void** out) noexcept {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  std::lock_guard guard(lock_);
  for (ClassObject* f = head_; f != nullptr; f = f->next_) {
    if (f->registered_ && f->clsid_ == clsid) return f->QueryInterface(iid, out);
  }
  return com::CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ModuleState::CanUnloadNow() noexcept {
  if (live_ > 0) return S_FALSE;
  std::lock_guard guard(lock_);
  for (ClassObject* f = head_; f != nullptr; f = f->next_) {
    if (f->references_ > 1) return S_FALSE;
  }
  return S_OK;
}

bool ModuleState::UpdateRegistryAll(bool register_class, const RegistrationContext& context) {
  std::lock_guard guard(lock_);
  for (ClassObject* f = head_; f != nullptr; f = f->next_) {
    if (!f->UpdateRegistry(register_class, context)) return false;
  }
  return true;
}

HRESULT ModuleState::GetTypeLib(const com::GUID& libid, uint16_t major, uint16_t minor,
                                com::LCID lcid, const ModuleEnvironment& environment,
                                com::ITypeLib** out) noexcept {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  std::lock_guard guard(type_lib_lock_);
  if (!type_lib_) {
    HRESULT hr = com::LoadRegTypeLib(libid, major, minor, lcid, environment.registry,
                                     environment.type_libs, type_lib_.put());
    if (com::Failed(hr)) return hr;
  }
  type_lib_->AddRef();
  *out = type_lib_.get();
  return S_OK;
}

ClassObject::ClassObject(ModuleState& module, const CLSID& clsid, bool multiple_instance,
                         const char* prog_id)
    : module_(module), clsid_(clsid), multiple_instance_(multiple_instance), prog_id_(prog_id) {
  std::lock_guard guard(module_.lock_);
  next_ = module_.head_;
  module_.head_ = this;
}

ClassObject::~ClassObject() {
  std::lock_guard guard(module_.lock_);
  for (ClassObject** link = &module_.head_; *link != nullptr; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

HRESULT ClassObject::QueryInterface(const IID& iid, void** out) noexcept {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (iid != com::IID_IUnknown && iid != com::IID_IClassFactory) {
    return com::E_NOINTERFACE;
  }
  AddRef();
  *out = static_cast<com::IClassFactory*>(this);
  return S_OK;
}

HRESULT ClassObject::CreateInstance(com::IUnknown* outer, const IID& iid, void** out) noexcept {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return com::CLASS_E_NOAGGREGATION;
  com::IUnknown* object = CreateObject();
  if (object == nullptr) return com::E_OUTOFMEMORY;
  // The object's own reference goes; what the caller asked for stays.
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

HRESULT ClassObject::LockServer(bool lock) noexcept {
  if (lock) {
    module_.LockApp();
  } else {
    module_.UnlockApp();
  }
  return S_OK;
}

bool OleControlModule::InitInstance() {
  module_.RegisterAll();
  return true;
}

int OleControlModule::ExitInstance() {
  module_.RevokeAll();
  return 0;
}

}  // namespace tarvona::module
