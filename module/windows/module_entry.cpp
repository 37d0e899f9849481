// The module file's own part: its load, what each control is built over,
// and the four exports (listed in TarvonaActiveX.def).
#include <olectl.h>

#include "module/class_factory.h"
#include "module/com_objects.h"
#include "module/ocx_module.h"
#include "windows/cryptoapi/cryptoapi_platform.h"

namespace tarvona::ocx {
namespace {

// The store road on CryptoAPI: the user's "MY" store, and the system's
// selection dialog over it.
capi::CertificatePicker& StorePicker() {
  static capi::cryptoapi::CryptUiPicker picker;
  return picker;
}

}  // namespace

const ControlEnvironment& Environment() {
  static const ControlEnvironment environment{platform::SystemLibraryLoader(),
                                              capi::cryptoapi::UserCryptoPlatform(), StorePicker()};
  return environment;
}

}  // namespace tarvona::ocx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    tarvona::ocx::SetModuleInstance(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllRegisterServer() { return tarvona::ocx::RegisterServer(); }

STDAPI DllUnregisterServer() { return tarvona::ocx::UnregisterServer(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return tarvona::ocx::GetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return tarvona::ocx::CanUnloadNow(); }
