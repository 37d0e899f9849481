// The diagnostics report's view of Linux: the registration records the
// COM runtime reads, the browsers' manifest folders, the adaptors beside the
// control and what they load, p11-kit's modules, the NSS database.
#include <dlfcn.h>
#include <link.h>
// The COM runtime's headers declare TRUE and FALSE as Windows does.
#define CK_DISABLE_TRUE_FALSE
#include <p11-kit/p11-kit.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "capi/nss/nss_context.h"
#include "capi/nss/nss_platform.h"
#include "common/browser_hosts.h"
#include "common/control_identity.h"
#include "common/registration_record.h"
#include "host/diagnose_platform.h"
#include "host/diagnose_report.h"
#include "linux/com/classes_root.h"
#include "linux/com/registry_model.h"
#include "platform/dynamic_library.h"
#include "platform/own_path.h"
#include "platform/user_folders.h"

namespace tarvona::host::diagnose {
namespace {

namespace hosts = browser_hosts;

constexpr char kPackageFolder[] = "/usr/lib/tarvona";
constexpr char kSystemInstallFolder[] = "/usr/local/lib/tarvona";
constexpr char kProxyName[] = "p11-kit-proxy";

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error);
}

// A " "- or ","-separated list of program names naming `name`.
bool Names(const char* list, std::string_view name) {
  std::string_view rest = list;
  while (!rest.empty()) {
    const size_t start = rest.find_first_not_of(" ,\t");
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const size_t end = rest.find_first_of(" ,\t");
    if (rest.substr(0, end) == name) return true;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end);
  }
  return false;
}

struct Freed {
  void operator()(char* text) const { std::free(text); }
};
using OwnedText = std::unique_ptr<char, Freed>;

}  // namespace

std::vector<Record> Records() {
  const std::string control_key = "CLSID\\" + registration::GuidText(identity::kControlClsid);
  std::vector<Record> records;
  for (const auto& [path, machine] : {std::pair{linux_com::UserClassesPath(), false},
                                      std::pair{linux_com::MachineClassesPath(), true}}) {
    Record& record = records.emplace_back();
    record.machine = machine;
    record.name = std::string(machine ? "the machine's record" : "the user's record") +
                  (path.empty() ? std::string() : " (" + path + ")");
    if (path.empty()) {
      record.error = "no home folder is known";
      continue;
    }
    linux_com::MemoryRegistry registry;
    if (const LSTATUS status = linux_com::FileRegistry(path).Read(&registry);
        status != ERROR_SUCCESS) {
      record.error = status == ERROR_BADDB ? "it is not a registry file" : "it cannot be opened";
      continue;
    }
    record.registered = registry.KeyExists(control_key) == ERROR_SUCCESS;
    registry.QueryValue(control_key + "\\InprocServer32", "", &record.module);
    registry.QueryValue(std::string(identity::kControlProgId) + "\\CLSID", "",
                        &record.prog_id_class);
  }
  return records;
}

std::vector<BrowserPlaces> ManifestPlaces() {
  std::vector<BrowserPlaces> browsers;
  for (const hosts::LinuxBrowser& browser : hosts::kLinuxBrowsers) {
    BrowserPlaces& places = browsers.emplace_back();
    places.browser = browser.name;
    places.firefox = browser.firefox;
    const std::filesystem::path base = browser.base == hosts::UserBase::kConfig
                                           ? platform::UserConfigFolder()
                                           : platform::HomeFolder();
    const auto add = [&](std::string whose, const std::filesystem::path& folder) {
      ManifestPlace& place = places.places.emplace_back();
      place.file = folder / hosts::LinuxManifestName();
      place.entry = PathText(place.file);
      place.whose = std::move(whose);
      std::error_code error;
      place.holds = std::filesystem::exists(place.file, error);
    };
    if (!base.empty()) add("the user's", base / browser.user_folder);
    add("the machine's", browser.machine_folder);
  }
  return browsers;
}

bool HostPathMayBeRelative() { return false; }

std::vector<ModuleFolder> TokenModuleFolders(const std::filesystem::path& control_folder) {
  return {{control_folder, "beside the control"}};
}

bool TokenModulesShipped() { return true; }

std::optional<std::vector<std::string>> OtherCryptokiModules(
    const std::vector<std::filesystem::path>& own) {
  struct Seen {
    const std::vector<std::filesystem::path>* own;
    std::vector<std::string> found;
  } seen{&own, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto& so_far = *static_cast<Seen*>(data);
        if (info->dlpi_name == nullptr || info->dlpi_name[0] != '/') return 0;
        for (const auto& file : *so_far.own) {
          if (SameFile(file, info->dlpi_name)) return 0;
        }
        // Its own C_GetFunctionList, not one of a library it links.
        void* handle = dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD);
        if (handle == nullptr) return 0;
        Dl_info where{};
        void* entry = dlsym(handle, "C_GetFunctionList");
        if (entry != nullptr && dladdr(entry, &where) != 0 && where.dli_fname != nullptr &&
            std::strcmp(where.dli_fname, info->dlpi_name) == 0) {
          so_far.found.emplace_back(info->dlpi_name);
        }
        dlclose(handle);
        return 0;
      },
      &seen);
  return seen.found;
}

std::optional<std::vector<RegisteredModule>> RegisteredModules() {
  std::vector<RegisteredModule> modules;
  // Loaded only now: linked, p11-kit would be in the process before the
  // adaptors load its proxy, and hide it from what they load.
  const auto library = platform::SystemLibraryLoader().Load("libp11-kit.so.0");
  if (library == nullptr) return modules;
  const auto load =
      reinterpret_cast<decltype(&p11_kit_modules_load)>(library->Symbol("p11_kit_modules_load"));
  const auto release = reinterpret_cast<decltype(&p11_kit_modules_release)>(
      library->Symbol("p11_kit_modules_release"));
  const auto name_of = reinterpret_cast<decltype(&p11_kit_module_get_name)>(
      library->Symbol("p11_kit_module_get_name"));
  const auto file_of = reinterpret_cast<decltype(&p11_kit_module_get_filename)>(
      library->Symbol("p11_kit_module_get_filename"));
  const auto option =
      reinterpret_cast<decltype(&p11_kit_config_option)>(library->Symbol("p11_kit_config_option"));
  if (load == nullptr || release == nullptr || name_of == nullptr || file_of == nullptr ||
      option == nullptr) {
    return modules;
  }
  CK_FUNCTION_LIST** loaded = load(nullptr, 0);
  if (loaded == nullptr) return modules;
  for (CK_FUNCTION_LIST** module = loaded; *module != nullptr; ++module) {
    const OwnedText name(name_of(*module));
    const OwnedText file(file_of(*module));
    const OwnedText enable_in(option(*module, "enable-in"));
    const OwnedText disable_in(option(*module, "disable-in"));
    // The proxy, which the adaptors load, applies these settings under
    // its own name.
    const bool proxied = (!enable_in || Names(enable_in.get(), kProxyName)) &&
                         !(disable_in && Names(disable_in.get(), kProxyName));
    modules.push_back({name ? name.get() : "", std::string(file ? file.get() : "") +
                                                   (proxied ? "" : "; its proxy leaves it out")});
  }
  release(loaded);
  return modules;
}

capi::CryptoPlatform& StorePlatform() { return capi::nss::UserCryptoPlatform(); }

StoreFacts DescribeStore() {
  return {"the NSS database sql:" + capi::nss::DatabaseDirectory(), capi::nss::HasPassword(), true};
}

Remedies RemediesHere() {
  const std::filesystem::path own = platform::OwnFolder();
  std::string reinstall;
  if (SameFile(own, kPackageFolder)) {
    reinstall = "reinstall the package: sudo apt install --reinstall tarvona";
  } else if (SameFile(own, kSystemInstallFolder)) {
    reinstall = "install again from the source tree: sudo scripts/tarvona-install.sh --system";
  } else {
    reinstall = "install again from the source tree: scripts/tarvona-install.sh";
  }
  const std::string database = capi::nss::DatabaseDirectory();
  return {
      reinstall,
      reinstall,
      "Chromium makes it when it first runs; or make it with certutil -N -d sql:" + database +
          " and import a certificate with its key: pk12util -d sql:" + database + " -i FILE.p12",
      reinstall,
      reinstall + " (the adaptor names the module it could not load on standard error)",
      "insert the token or smart card and check its reader; its Cryptoki module must be "
      "known to p11-kit (p11-kit list-modules)",
  };
}

std::string RegisterModule(const std::string& module, bool machine) {
  const std::string regsvr = PathText(platform::OwnFolder() / "tarvona-regsvr");
  return machine ? "sudo " + regsvr + " --system " + module : regsvr + " " + module;
}

}  // namespace tarvona::host::diagnose
