#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "capi/crypto_platform.h"

// What the diagnostics report asks of the system it runs on, one source per
// system: diagnose_posix.cpp on Linux, windows/host/diagnose_win32.cpp on
// Windows. Paths and texts are UTF-8.
namespace tarvona::host::diagnose {

// One registration record the COM runtime reads, in the order it reads
// them: the user's, then the machine's.
struct Record {
  std::string name;  // "the user's record (/home/u/.local/share/tarvona/classes.reg)"
  bool machine = false;
  std::string error;          // why the record cannot be read; empty when it can
  bool registered = false;    // it holds the control's class
  std::string module;         // the class's InprocServer32 file, as written
  std::string prog_id_class;  // the ProgID's CLSID value; empty when missing
};
std::vector<Record> Records();

// A place where a browser looks for the host's manifest, in the order it
// looks: a folder on Linux, a registry key on Windows.
struct ManifestPlace {
  std::string entry;           // the manifest's path, or the key naming it
  std::string whose;           // "the user's" or "the machine's"
  bool holds = false;          // the entry is there: the manifest file, or the key
  std::filesystem::path file;  // the manifest it names
};
struct BrowserPlaces {
  std::string browser;
  bool firefox = false;
  std::vector<ManifestPlace> places;
};
std::vector<BrowserPlaces> ManifestPlaces();
// Whether a manifest may name its host relative to its own folder.
bool HostPathMayBeRelative();

// The folders the control takes Tarvonav4.dll and Tarvonav5.dll from, in
// the order it looks, for a control in `control_folder`.
struct ModuleFolder {
  std::filesystem::path folder;
  std::string name;  // "beside the control", "in the system folder"
};
std::vector<ModuleFolder> TokenModuleFolders(const std::filesystem::path& control_folder);
// Whether the installation itself ships Tarvonav4.dll and Tarvonav5.dll,
// so each must be there; else they are the token maker's, and one is
// enough.
bool TokenModulesShipped();

// The Cryptoki modules loaded in this process other than `own` (the files
// the token modules were loaded from): what those loaded in turn. nullopt
// where the system cannot tell.
std::optional<std::vector<std::string>> OtherCryptokiModules(
    const std::vector<std::filesystem::path>& own);

// The modules the system's module registry (p11-kit) lists; nullopt where
// there is none.
struct RegisteredModule {
  std::string name;
  std::string file;
};
std::optional<std::vector<RegisteredModule>> RegisteredModules();

// The certificate store road's platform, as the control has it.
capi::CryptoPlatform& StorePlatform();
struct StoreFacts {
  std::string name;              // the database or store, in words
  std::optional<bool> password;  // nullopt where stores have none
  bool may_be_missing = false;   // a store that does not exist yet is no fault
};
StoreFacts DescribeStore();

// What to tell the user to do, in this system's words.
struct Remedies {
  std::string reinstall;          // the whole installation
  std::string register_browsers;  // the browsers' host manifests
  std::string missing_store;      // a store that does not exist
  std::string missing_token_module;
  std::string broken_token_module;
  std::string no_token;
};
Remedies RemediesHere();
// Registering the module file at `module` again, in the record `machine`
// or the user's.
std::string RegisterModule(const std::string& module, bool machine);

}  // namespace tarvona::host::diagnose
