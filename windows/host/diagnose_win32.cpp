// The diagnostics report's view of Windows: the registration under the
// user's and the machine's Software\Classes, the browsers' registry keys
// (common/browser_hosts.h), the token maker's modules beside the control or
// in the system folder, the current user's MY store.
#include <windows.h>

#include <string>
#include <vector>

#include "common/browser_hosts.h"
#include "common/control_identity.h"
#include "common/registration_record.h"
#include "host/diagnose_platform.h"
#include "host/diagnose_report.h"
#include "host/system_message_win32.h"
#include "host/wide_text.h"
#include "windows/cryptoapi/cryptoapi_platform.h"

namespace tarvona::host::diagnose {
namespace {

namespace hosts = browser_hosts;

constexpr bool k64Bit = sizeof(void*) == 8;

struct Hive {
  HKEY key;
  const char* name;
};
const Hive kUser = {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"};
const Hive kMachine = {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"};

// A key's default value: ERROR_SUCCESS with the text, else the registry's
// answer (ERROR_FILE_NOT_FOUND for a missing key).
LSTATUS ReadText(HKEY hive, const std::string& key, REGSAM view, std::string* text) {
  const std::wstring path = OleFromUtf8(key);
  HKEY opened = nullptr;
  LSTATUS status = RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE | view, &opened);
  if (status != ERROR_SUCCESS) return status;
  DWORD type = 0;
  DWORD size = 0;
  status = RegQueryValueExW(opened, nullptr, nullptr, &type, nullptr, &size);
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    status = RegQueryValueExW(opened, nullptr, nullptr, &type,
                              reinterpret_cast<BYTE*>(value.data()), &size);
    value.resize(std::wstring(value.c_str()).size());
    if (status == ERROR_SUCCESS) *text = Utf8FromOle(value.data(), value.size());
  } else if (status == ERROR_FILE_NOT_FOUND) {
    // The key is there without a value: an empty text.
    status = ERROR_SUCCESS;
    text->clear();
  }
  RegCloseKey(opened);
  return status;
}

std::string Package() {
  return std::string("tarvona-") + TARVONA_VERSION + (k64Bit ? "-x64.msi" : "-x86.msi");
}

}  // namespace

std::vector<Record> Records() {
  const std::string classes = "Software\\Classes\\";
  const std::string control = classes + "CLSID\\" + registration::GuidText(identity::kControlClsid);
  std::vector<Record> records;
  for (const Hive& hive : {kUser, kMachine}) {
    Record& record = records.emplace_back();
    record.machine = hive.key == HKEY_LOCAL_MACHINE;
    record.name = std::string(record.machine ? "the machine's record (" : "the user's record (") +
                  hive.name + "\\Software\\Classes)";
    std::string ignored;
    const LSTATUS status = ReadText(hive.key, control, 0, &ignored);
    if (status == ERROR_FILE_NOT_FOUND) continue;
    if (status != ERROR_SUCCESS) {
      record.error = SystemMessage(status);
      continue;
    }
    record.registered = true;
    ReadText(hive.key, control + "\\InprocServer32", 0, &record.module);
    ReadText(hive.key, classes + identity::kControlProgId + "\\CLSID", 0, &record.prog_id_class);
  }
  return records;
}

std::vector<BrowserPlaces> ManifestPlaces() {
  // The browsers read the user's key first, then the machine's, in both
  // registry views of a 64-bit system.
  BOOL wow64 = FALSE;
  const bool two_views = k64Bit || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
  struct Place {
    Hive hive;
    REGSAM view;
    const char* suffix;
  };
  std::vector<Place> order = {{kUser, 0, ""}};
  if (two_views) {
    order.push_back({kMachine, KEY_WOW64_32KEY, " (32-bit view)"});
    order.push_back({kMachine, KEY_WOW64_64KEY, " (64-bit view)"});
  } else {
    order.push_back({kMachine, 0, ""});
  }
  std::vector<BrowserPlaces> browsers;
  for (const hosts::Browser& browser : hosts::kBrowsers) {
    BrowserPlaces& places = browsers.emplace_back();
    places.browser = browser.id;
    places.firefox = browser.firefox;
    for (const Place& where : order) {
      ManifestPlace& place = places.places.emplace_back();
      place.entry = std::string(where.hive.name) + "\\" + hosts::KeyOf(browser) + where.suffix;
      place.whose = where.hive.key == HKEY_CURRENT_USER ? "the user's" : "the machine's";
      std::string manifest;
      place.holds =
          ReadText(where.hive.key, hosts::KeyOf(browser), where.view, &manifest) == ERROR_SUCCESS;
      place.file = std::filesystem::u8path(manifest);
    }
  }
  return browsers;
}

bool HostPathMayBeRelative() { return true; }

std::vector<ModuleFolder> TokenModuleFolders(const std::filesystem::path& control_folder) {
  std::vector<ModuleFolder> folders = {{control_folder, "beside the control"}};
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length > 0 && length < MAX_PATH) folders.push_back({system, "in the system folder"});
  return folders;
}

bool TokenModulesShipped() { return false; }

std::optional<std::vector<std::string>> OtherCryptokiModules(
    const std::vector<std::filesystem::path>&) {
  return std::nullopt;
}

std::optional<std::vector<RegisteredModule>> RegisteredModules() { return std::nullopt; }

capi::CryptoPlatform& StorePlatform() { return capi::cryptoapi::UserCryptoPlatform(); }

StoreFacts DescribeStore() {
  return {"the current user's personal store (MY)", std::nullopt, false};
}

Remedies RemediesHere() {
  const std::string repair = "repair the installation as an administrator: msiexec /fa " +
                             Package() + ", or install it again";
  return {
      repair,
      "register this host with the browsers: tarvona-host.exe --register for this user, or "
      "--register --machine as an administrator; or " +
          repair,
      "sign in again as this user: CryptoAPI opens the store with the user's profile",
      "install the token maker's software, which puts Tarvonav4.dll and Tarvonav5.dll in the "
      "system folder, or copy the modules beside the control",
      std::string("install the token maker's software again; this host is ") +
          (k64Bit ? "64-bit and needs its 64-bit modules" : "32-bit and needs its 32-bit modules"),
      "insert the token or smart card and check its reader",
  };
}

std::string RegisterModule(const std::string& module, bool) {
  return "regsvr32 \"" + module + "\" as an administrator";
}

}  // namespace tarvona::host::diagnose
