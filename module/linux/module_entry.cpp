// The module file's own part on Linux: what each control is built over,
// and the four exports (listed in exports.map).
#include <olectl.h>

#include "capi/dialog/dialog_picker.h"
#include "capi/nss/nss_platform.h"
#include "module/class_factory.h"
#include "module/com_objects.h"

namespace tarvona::ocx {

// The store road on Linux: the user's NSS database, and a dialog of our
// own over it.
const ControlEnvironment& Environment() {
  static capi::DialogPicker picker(capi::nss::UserCryptoPlatform());
  static const ControlEnvironment environment{platform::SystemLibraryLoader(),
                                              capi::nss::UserCryptoPlatform(), picker};
  return environment;
}

}  // namespace tarvona::ocx

STDAPI DllRegisterServer() { return tarvona::ocx::RegisterServer(); }

STDAPI DllUnregisterServer() { return tarvona::ocx::UnregisterServer(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return tarvona::ocx::GetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return tarvona::ocx::CanUnloadNow(); }
