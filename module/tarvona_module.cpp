#include "module/tarvona_module.h"

#include "module/categories.h"
#include "module/class_registration.h"
#include "module/identity.h"
#include "module/tarvona_ctrl.h"
#include "module/tarvona_ppg.h"

namespace tarvona::module {

using com::Failed;
using com::S_OK;

ControlClassObject::ControlClassObject(ModuleState& module, const ModuleEnvironment& environment)
    : ClassObject(module, CLSID_TarvonaActiveX, false, kControlProgId), environment_(environment) {}

bool ControlClassObject::UpdateRegistry(bool register_class, const RegistrationContext& context) {
  if (!register_class) return UnregisterClass(context, clsid(), prog_id());
  return RegisterControlClass(context, clsid(), prog_id(), IDS_TARVONAACTIVEX, IDB_TARVONAACTIVEX,
                              /*apartment=*/true, kControlMiscStatus, LIBID_TARVONAACTIVEXLib,
                              kLibMajor, kLibMinor);
}

com::IUnknown* ControlClassObject::CreateObject() noexcept {
  try {
    return static_cast<com::IDispatch*>(new TarvonaControlObject(module(), environment_));
  } catch (...) {
    return nullptr;
  }
}

PageClassObject::PageClassObject(ModuleState& module, const ModuleEnvironment& environment)
    : ClassObject(module, CLSID_TarvonaActiveXPropPage, false, kPageProgId),
      environment_(environment) {}

bool PageClassObject::UpdateRegistry(bool register_class, const RegistrationContext& context) {
  // The page's ProgID stays with its class object; the record has none.
  if (!register_class) return UnregisterClass(context, clsid(), nullptr);
  return RegisterPropertyPageClass(context, clsid(), IDS_TARVONAACTIVEX_PPG, /*apartment=*/false);
}

com::IUnknown* PageClassObject::CreateObject() noexcept {
  try {
    return new CTarvonaActiveXPropPage(module(), environment_);
  } catch (...) {
    return nullptr;
  }
}

TarvonaModule::TarvonaModule(const ModuleEnvironment& environment)
    : environment_(environment),
      app_(state_),
      control_factory_(state_, environment),
      page_factory_(state_, environment) {
  app_.InitInstance();
}

TarvonaModule::~TarvonaModule() { app_.ExitInstance(); }

HRESULT TarvonaModule::DllRegisterServer(const RegistrationServices& services) {
  {
    com::ComPtr<com::ITypeLib> lib;
    com::TLibAttr attr{};
    if (Failed(services.type_libs.LoadTypeLib(services.module_path, lib.put())) ||
        Failed(lib->GetLibAttr(&attr)) || attr.guid != LIBID_TARVONAACTIVEXLib ||
        Failed(com::RegisterTypeLib(lib.get(), services.module_path, nullptr, services.registry))) {
      return com::SELFREG_E_TYPELIB;
    }
  }
  const RegistrationContext context{services.registry, services.module_path,
                                    environment_.resources};
  if (!state_.UpdateRegistryAll(true, context)) return com::SELFREG_E_CLASS;

  HRESULT hr = CreateComponentCategory(services.classes, CATID_SafeForInitializing,
                                       kSafeForInitializingDescription);
  if (Failed(hr)) return hr;
  hr = RegisterCLSIDInCategory(services.classes, CLSID_TarvonaActiveX, CATID_SafeForInitializing);
  if (Failed(hr)) return hr;
  hr = CreateComponentCategory(services.classes, CATID_SafeForScripting,
                               kSafeForScriptingDescription);
  if (Failed(hr)) return hr;
  hr = RegisterCLSIDInCategory(services.classes, CLSID_TarvonaActiveX, CATID_SafeForScripting);
  return Failed(hr) ? hr : S_OK;
}

HRESULT TarvonaModule::DllUnregisterServer(const RegistrationServices& services) {
  HRESULT hr =
      UnRegisterCLSIDInCategory(services.classes, CLSID_TarvonaActiveX, CATID_SafeForInitializing);
  if (Failed(hr)) return hr;
  hr = UnRegisterCLSIDInCategory(services.classes, CLSID_TarvonaActiveX, CATID_SafeForScripting);
  if (Failed(hr)) return hr;
  if (Failed(com::UnRegisterTypeLib(LIBID_TARVONAACTIVEXLib, kLibMajor, kLibMinor,
                                    services.registry))) {
    return com::SELFREG_E_TYPELIB;
  }
  const RegistrationContext context{services.registry, services.module_path,
                                    environment_.resources};
  if (!state_.UpdateRegistryAll(false, context)) return com::SELFREG_E_CLASS;
  return S_OK;
}

}  // namespace tarvona::module
