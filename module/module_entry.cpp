// The module file's own part: the objects that live while it is loaded and
// its four exports. Everything else of the file is hidden.
#include <string>

#include "capi/dialog/dialog_picker.h"
#include "capi/nss/nss_platform.h"
#include "com/classes_root.h"
#include "module/embedded_resources.h"
#include "module/tarvona_module.h"
#include "platform/own_path.h"

namespace {

using namespace tarvona;

// Constructed in this order when the file is loaded, destroyed in reverse
// when it is unloaded. Constructing the module marks its class objects
// registered; destroying it clears them before the class objects go.
const com::ResourceSet g_resources =
    com::ResourceSet::Parse(module::EmbeddedResources()).value_or(com::ResourceSet());
com::ClassesRoot g_registry;  // HKEY_CLASSES_ROOT: the user's classes over the machine's
// The store road on Linux: the user's NSS database, and a dialog of our own
// over it.
capi::DialogPicker g_picker(capi::nss::UserCryptoPlatform());
const module::ModuleEnvironment g_environment{platform::SystemLibraryLoader(),
                                              capi::nss::UserCryptoPlatform(),
                                              g_picker,
                                              g_resources,
                                              g_registry,
                                              com::SystemTypeLibLoader()};
module::TarvonaModule g_module(g_environment);

// GetModuleFileName: this file's full name. Linux has no short names, so
// the record holds the full path.
std::string ModulePath() { return platform::OwnBinaryPath().string(); }

// Registration writes and removes the record of one place, the user's
// classes file (the machine's under `tarvona-regsvr --system`), seeing
// nothing of the other: the merged view would let the machine's keys stand
// in for missing ones of the user's.
com::HRESULT Registration(bool register_server) noexcept {
  return com::Guarded([&] {
    com::FileRegistry record;
    com::SystemClassCreator classes(record);
    const module::RegistrationServices services{record, classes, com::SystemTypeLibLoader(),
                                                ModulePath()};
    return register_server ? g_module.DllRegisterServer(services)
                           : g_module.DllUnregisterServer(services);
  });
}

}  // namespace

#define TARVONA_EXPORT extern "C" __attribute__((visibility("default")))

TARVONA_EXPORT com::HRESULT DllRegisterServer() noexcept { return Registration(true); }

TARVONA_EXPORT com::HRESULT DllUnregisterServer() noexcept { return Registration(false); }

TARVONA_EXPORT com::HRESULT DllGetClassObject(const com::CLSID& clsid, const com::IID& iid,
                                              void** out) noexcept {
  return g_module.DllGetClassObject(clsid, iid, out);
}

TARVONA_EXPORT com::HRESULT DllCanUnloadNow() noexcept { return g_module.DllCanUnloadNow(); }
