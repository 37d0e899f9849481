// The module file's own part: its load, what each control is built over,
// and the four exports (listed in TarvonaActiveX.def).
#include <olectl.h>

#include <memory>
#include <optional>
#include <vector>

#include "class_factory.h"
#include "com_objects.h"
#include "ocx_module.h"

namespace tarvona::ocx {
namespace {

// ---- The store road's plug -------------------------------------------
// Until the CryptoAPI platform is linked in, the store road sees an empty
// personal store: certificate source 0 and 1 find nothing (1301, 1011)
// and certificates given as data cannot be parsed (1305). The CryptoAPI
// platform and its selection dialog replace these two objects here and
// nowhere else.
class EmptyStore final : public capi::CryptoPlatform {
 public:
  std::optional<std::vector<std::unique_ptr<capi::Certificate>>> OpenPersonalStore() override {
    return std::vector<std::unique_ptr<capi::Certificate>>{};
  }
  int32_t ParseCertificate(std::span<const uint8_t>,
                           std::unique_ptr<capi::Certificate>& certificate) override {
    certificate.reset();
    return kProviderUnavailable;
  }
  std::unique_ptr<capi::PrivateKeyProvider> AcquirePrivateKey(const capi::Certificate&) override {
    return nullptr;
  }
  std::unique_ptr<capi::DefaultProvider> AcquireDefaultProvider() override { return nullptr; }
};

class NoChoice final : public capi::CertificatePicker {
 public:
  std::unique_ptr<capi::Certificate> Choose() override { return nullptr; }
};

capi::CryptoPlatform& StorePlatform() {
  static EmptyStore store;
  return store;
}

capi::CertificatePicker& StorePicker() {
  static NoChoice picker;
  return picker;
}
// -----------------------------------------------------------------------

}  // namespace

const ControlEnvironment& Environment() {
  static const ControlEnvironment environment{platform::SystemLibraryLoader(), StorePlatform(),
                                              StorePicker()};
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
