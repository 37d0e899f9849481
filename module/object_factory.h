#pragma once

// The hosting framework's module side: the list of class objects, the count
// of live objects that decides when the module may be unloaded, the class
// factories themselves and the application object's start-up and exit.

#include <atomic>
#include <mutex>
#include <string>

#include "capi/certificate_picker.h"
#include "capi/crypto_platform.h"
#include "com/com.h"
#include "com/module_resources.h"
#include "com/registry.h"
#include "com/type_library.h"
#include "platform/dynamic_library.h"

namespace tarvona::module {

using com::CLSID;
using com::HRESULT;
using com::IID;
using com::ULONG;

// What the module's objects reach of the system. The module file uses the
// real ones; tests put in their own.
struct ModuleEnvironment {
  const platform::LibraryLoader& loader;  // the control's token modules
  capi::CryptoPlatform& crypto;           // the control's certificate store road
  capi::CertificatePicker& picker;        // and its selection dialog
  const com::ResourceSet& resources;
  com::Registry& registry;  // HKEY_CLASSES_ROOT
  const com::TypeLibLoader& type_libs;
};

// What a class object's registration operation writes with.
struct RegistrationContext {
  com::Registry& registry;
  const std::string& module_path;
  const com::ResourceSet& resources;
};

class ClassObject;

class ModuleState {
 public:
  ModuleState() = default;
  ~ModuleState();
  ModuleState(const ModuleState&) = delete;
  ModuleState& operator=(const ModuleState&) = delete;

  // Objects alive (controls, pages) and server locks; atomic.
  void LockApp() { ++live_; }
  void UnlockApp() { --live_; }
  long live_objects() const { return live_; }

  // Start-up and exit: set or clear every class object's registered flag.
  void RegisterAll();
  void RevokeAll();
  // The first registered class object of that CLSID, asked for `iid`;
  // CLASS_E_CLASSNOTAVAILABLE when there is none.
  HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** out) noexcept;
  // S_FALSE while an object lives, the server is locked, or a class object
  // is referenced from outside.
  HRESULT CanUnloadNow() noexcept;
  // Every class object's registration operation, in list order; false at
  // the first that fails.
  bool UpdateRegistryAll(bool register_class, const RegistrationContext& context);

  // The library registered for that version, loaded once per module.
  HRESULT GetTypeLib(const com::GUID& libid, uint16_t major, uint16_t minor, com::LCID lcid,
                     const ModuleEnvironment& environment, com::ITypeLib** out) noexcept;

 private:
  friend class ClassObject;

  std::mutex lock_;  // guards the list and every registered flag
  ClassObject* head_ = nullptr;
  std::atomic<long> live_{0};
  std::mutex type_lib_lock_;
  com::ComPtr<com::ITypeLib> type_lib_;
};

// One creatable class (COleObjectFactory): it links itself at the head of
// the module's list when constructed and out again when destroyed. It lives
// as long as the module, so its reference count starts at one and never
// frees it.
class ClassObject : public com::IClassFactory {
 public:
  ClassObject(ModuleState& module, const CLSID& clsid, bool multiple_instance, const char* prog_id);
  virtual ~ClassObject();
  ClassObject(const ClassObject&) = delete;
  ClassObject& operator=(const ClassObject&) = delete;

  HRESULT QueryInterface(const IID& iid, void** out) noexcept override;
  ULONG AddRef() noexcept override { return ++references_; }
  ULONG Release() noexcept override { return --references_; }
  HRESULT CreateInstance(com::IUnknown* outer, const IID& iid, void** out) noexcept override;
  HRESULT LockServer(bool lock) noexcept override;

  // Writes or removes the class's part of the registration record.
  virtual bool UpdateRegistry(bool register_class, const RegistrationContext& context) = 0;

  const CLSID& clsid() const { return clsid_; }
  const char* prog_id() const { return prog_id_; }

 protected:
  // A new object holding one reference, or null.
  virtual com::IUnknown* CreateObject() noexcept = 0;
  ModuleState& module() { return module_; }

 private:
  friend class ModuleState;

  ModuleState& module_;
  CLSID clsid_;
  bool multiple_instance_;  // read only by out-of-process servers
  const char* prog_id_;
  bool registered_ = false;
  ClassObject* next_ = nullptr;
  std::atomic<ULONG> references_{1};
};

// The application object (COleControlModule): its start-up marks the class
// objects registered, its exit clears them.
class OleControlModule {
 public:
  explicit OleControlModule(ModuleState& module) : module_(module) {}
  virtual ~OleControlModule() = default;
  OleControlModule(const OleControlModule&) = delete;
  OleControlModule& operator=(const OleControlModule&) = delete;

  virtual bool InitInstance();
  virtual int ExitInstance();

 private:
  ModuleState& module_;
};

}  // namespace tarvona::module
