#pragma once

// The module as a whole: the application object, the two class objects and
// the logic behind the four exported entry points. The module file holds one
// TarvonaModule for as long as it is loaded (module/module_entry.cpp);
// tests build their own with the services they choose.

#include <string>

#include "com/component_categories.h"
#include "module/object_factory.h"

namespace tarvona::module {

class CTarvonaActiveXApp final : public OleControlModule {
 public:
  using OleControlModule::OleControlModule;
};

class ControlClassObject final : public ClassObject {
 public:
  ControlClassObject(ModuleState& module, const ModuleEnvironment& environment);
  bool UpdateRegistry(bool register_class, const RegistrationContext& context) override;

 protected:
  com::IUnknown* CreateObject() noexcept override;

 private:
  const ModuleEnvironment& environment_;
};

class PageClassObject final : public ClassObject {
 public:
  PageClassObject(ModuleState& module, const ModuleEnvironment& environment);
  bool UpdateRegistry(bool register_class, const RegistrationContext& context) override;

 protected:
  com::IUnknown* CreateObject() noexcept override;

 private:
  const ModuleEnvironment& environment_;
};

// What registration works with besides the module's environment.
struct RegistrationServices {
  com::Registry& registry;
  com::ComClassCreator& classes;  // the categories manager comes from here
  const com::TypeLibLoader& type_libs;
  std::string module_path;  // the module file's full name
};

class TarvonaModule {
 public:
  // Static construction (application, control class object, page class
  // object, so the list reads page, then control), then start-up.
  explicit TarvonaModule(const ModuleEnvironment& environment);
  // Exit (class objects no longer registered), then destruction in reverse.
  ~TarvonaModule();
  TarvonaModule(const TarvonaModule&) = delete;
  TarvonaModule& operator=(const TarvonaModule&) = delete;

  HRESULT DllRegisterServer(const RegistrationServices& services);
  HRESULT DllUnregisterServer(const RegistrationServices& services);
  HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** out) noexcept {
    return state_.GetClassObject(clsid, iid, out);
  }
  HRESULT DllCanUnloadNow() noexcept { return state_.CanUnloadNow(); }

  ModuleState& state() { return state_; }
  CTarvonaActiveXApp& app() { return app_; }

 private:
  const ModuleEnvironment& environment_;
  ModuleState state_;
  CTarvonaActiveXApp app_;
  ControlClassObject control_factory_;
  PageClassObject page_factory_;
};

}  // namespace tarvona::module
