// The module file's own part: the objects that live while it is loaded and
// its four exports. Everything else of the file is hidden.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "module/embedded_resources.h"
#include "module/tarvona_module.h"
#include "platform/classes_root.h"

namespace {

using namespace tarvona;

// Constructed in this order when the file is loaded, destroyed in reverse
// when it is unloaded. Constructing the module marks its class objects
// registered; destroying it clears them before the class objects go.
const platform::ResourceSet g_resources =
    platform::ResourceSet::Parse(module::EmbeddedResources()).value_or(platform::ResourceSet());
platform::ClassesRoot g_registry;  // HKEY_CLASSES_ROOT: the user's classes over the machine's
const module::ModuleEnvironment g_environment{platform::SystemLibraryLoader(), g_resources,
                                              g_registry, platform::SystemTypeLibLoader()};
module::TarvonaModule g_module(g_environment);

// GetModuleFileName: this file's full name. Linux has no short names, so
// the record holds the full path.
std::string ModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  std::unique_ptr<char, decltype(&free)> resolved(realpath(info.dli_fname, nullptr), &free);
  return resolved ? std::string(resolved.get()) : std::string(info.dli_fname);
}

// Registration writes and removes the record of one place, the user's
// classes file (the machine's under `tarvona-regsvr --system`), seeing
// nothing of the other: the merged view would let the machine's keys stand
// in for missing ones of the user's.
platform::HRESULT Registration(bool register_server) noexcept {
  return platform::Guarded([&] {
    platform::FileRegistry record;
    platform::SystemClassCreator classes(record);
    const module::RegistrationServices services{record, classes,
                                                platform::SystemTypeLibLoader(), ModulePath()};
    return register_server ? g_module.DllRegisterServer(services)
                           : g_module.DllUnregisterServer(services);
  });
}

}  // namespace

#define TARVONA_EXPORT extern "C" __attribute__((visibility("default")))

TARVONA_EXPORT platform::HRESULT DllRegisterServer() noexcept { return Registration(true); }

TARVONA_EXPORT platform::HRESULT DllUnregisterServer() noexcept { return Registration(false); }

TARVONA_EXPORT platform::HRESULT DllGetClassObject(const platform::CLSID& clsid,
                                                   const platform::IID& iid, void** out) noexcept {
  return g_module.DllGetClassObject(clsid, iid, out);
}

TARVONA_EXPORT platform::HRESULT DllCanUnloadNow() noexcept { return g_module.DllCanUnloadNow(); }
