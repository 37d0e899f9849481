// The browsers find a native-messaging host on Windows through a registry
// key per browser whose default value names the host's manifest:
//   HKCU\Software\Google\Chrome\NativeMessagingHosts\com.tarvona.host
//   HKCU\Software\Microsoft\Edge\NativeMessagingHosts\com.tarvona.host
//   HKCU\Software\Mozilla\NativeMessagingHosts\com.tarvona.host
// Registering writes the manifests (Chromium's form for Chrome and Edge,
// Firefox's for Firefox) to %LOCALAPPDATA%\Tarvona, naming this program,
// and the keys; unregistering removes both.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "host/platform_host.h"
#include "platform/own_path.h"
#include "platform/user_folders.h"

namespace tarvona::host {
namespace {

constexpr const wchar_t* kHostName = L"com.tarvona.host";
constexpr const char* kChromiumOrigin = "chrome-extension://ndclhbempiipciignpnikgelcjcbaane/";
constexpr const char* kFirefoxId = "tarvona-control@tarvona.dev";

struct Browser {
  const wchar_t* key;       // under HKCU, without the host's name
  const wchar_t* manifest;  // file name under %LOCALAPPDATA%\Tarvona
};
constexpr Browser kBrowsers[] = {
    {L"Software\\Google\\Chrome\\NativeMessagingHosts", L"com.tarvona.host.chromium.json"},
    {L"Software\\Microsoft\\Edge\\NativeMessagingHosts", L"com.tarvona.host.chromium.json"},
    {L"Software\\Mozilla\\NativeMessagingHosts", L"com.tarvona.host.firefox.json"},
};

std::filesystem::path ManifestFolder() {
  std::filesystem::path data = platform::UserDataFolder();
  return data.empty() ? data : data / L"Tarvona";
}

std::wstring KeyOf(const Browser& browser) { return std::wstring(browser.key) + L"\\" + kHostName; }

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {reinterpret_cast<const char*>(text.data()), text.size()};
}

bool WriteManifest(const std::filesystem::path& file, const std::filesystem::path& program,
                   bool firefox) {
  nlohmann::ordered_json manifest = {
      {"name", "com.tarvona.host"},
      {"description", "Tarvona control: security tokens and certificates for web pages"},
      {"path", Utf8(program)},
      {"type", "stdio"}};
  if (firefox) {
    manifest["allowed_extensions"] = {kFirefoxId};
  } else {
    manifest["allowed_origins"] = {kChromiumOrigin};
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << manifest.dump(2) << '\n';
  return static_cast<bool>(out.flush());
}

}  // namespace

bool RegisterWithBrowsers() {
  const std::filesystem::path program = platform::OwnBinaryPath();
  const std::filesystem::path folder = ManifestFolder();
  if (program.empty() || folder.empty()) return false;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  bool ok = true;
  for (const Browser& browser : kBrowsers) {
    const std::filesystem::path manifest = folder / browser.manifest;
    ok = WriteManifest(
             manifest, program,
             std::wstring_view(browser.manifest).find(L"firefox") != std::wstring_view::npos) &&
         ok;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyOf(browser).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
      ok = false;
      continue;
    }
    const std::wstring value = manifest.wstring();
    ok =
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        ok;
    RegCloseKey(key);
  }
  return ok;
}

bool UnregisterFromBrowsers() {
  bool ok = true;
  for (const Browser& browser : kBrowsers) {
    const LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, KeyOf(browser).c_str());
    ok = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && ok;
  }
  const std::filesystem::path folder = ManifestFolder();
  if (!folder.empty()) {
    std::error_code ignored;
    for (const Browser& browser : kBrowsers)
      std::filesystem::remove(folder / browser.manifest, ignored);
    std::filesystem::remove(folder, ignored);  // only when nothing else is in it
  }
  return ok;
}

}  // namespace tarvona::host
