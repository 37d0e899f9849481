// The browsers find a native-messaging host on Windows through a registry
// key per browser whose default value names the host's manifest (the keys
// and the manifests' form: common/browser_hosts.h, which the installer's
// generator uses too).
//   for the user:    the manifests in %LOCALAPPDATA%\Tarvona, naming this
//                    program by its full path; the keys under HKCU
//   for the machine: the manifests next to this program, naming it by its
//                    file name (the browsers read a relative path from the
//                    manifest's folder), as the MSI installs them; the keys
//                    under HKLM, which takes an administrator
// Unregistering removes both.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/browser_hosts.h"
#include "host/platform_host.h"
#include "platform/own_path.h"
#include "platform/user_folders.h"
#include "host/wide_text.h"

namespace tarvona::host {
namespace {

namespace hosts = browser_hosts;

std::filesystem::path ManifestFolder(bool machine) {
  if (machine) return platform::OwnBinaryPath().parent_path();
  std::filesystem::path data = platform::UserDataFolder();
  return data.empty() ? data : data / L"Tarvona";
}

std::wstring Wide(std::string_view text) { return OleFromUtf8(text); }

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {reinterpret_cast<const char*>(text.data()), text.size()};
}

bool WriteFile(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

bool RegisterWithBrowsers(bool machine) {
  const std::filesystem::path program = platform::OwnBinaryPath();
  const std::filesystem::path folder = ManifestFolder(machine);
  if (program.empty() || folder.empty()) return false;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  bool ok = true;
  const std::string named = Utf8(machine ? program.filename() : program);
  for (std::string_view manifest : hosts::kManifests) {
    ok = WriteFile(folder / Wide(manifest),
                   hosts::Manifest(named, hosts::IsFirefoxManifest(manifest))) &&
         ok;
  }
  const HKEY hive = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  for (const hosts::Browser& browser : hosts::kBrowsers) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(hive, Wide(hosts::KeyOf(browser)).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
      ok = false;
      continue;
    }
    const std::wstring value = (folder / Wide(browser.manifest)).wstring();
    ok =
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        ok;
    RegCloseKey(key);
  }
  return ok;
}

bool UnregisterFromBrowsers(bool machine) {
  bool ok = true;
  const HKEY hive = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  for (const hosts::Browser& browser : hosts::kBrowsers) {
    const LSTATUS status = RegDeleteKeyW(hive, Wide(hosts::KeyOf(browser)).c_str());
    ok = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && ok;
  }
  const std::filesystem::path folder = ManifestFolder(machine);
  if (!folder.empty()) {
    std::error_code ignored;
    for (std::string_view manifest : hosts::kManifests)
      std::filesystem::remove(folder / Wide(manifest), ignored);
    // The user's folder only when nothing else is in it; the program's stays.
    if (!machine) std::filesystem::remove(folder, ignored);
  }
  return ok;
}

}  // namespace tarvona::host
