#pragma once

#include <string>
#include <string_view>

// How the browsers find the native-messaging host. On Windows: one
// registry key per browser, under HKCU (one user) or HKLM (the machine),
// whose default value names the host's manifest; shared by tarvona-host.exe's
// --register and the installer's generator, so the two write the same keys
// and manifests. On Linux: a folder per browser (kLinuxBrowsers).
namespace tarvona::browser_hosts {

inline constexpr std::string_view kHostName = "com.tarvona.host";
inline constexpr std::string_view kDescription =
    "Tarvona control: security tokens and certificates for web pages";
// The extension's ID, from packaging/extension-key.pem.
inline constexpr std::string_view kChromiumOrigin =
    "chrome-extension://ndclhbempiipciignpnikgelcjcbaane/";
inline constexpr std::string_view kFirefoxId = "tarvona-control@tarvona.dev";

struct Browser {
  std::string_view id;        // a short name for generated identifiers
  std::string_view key;       // under the hive, without the host's name
  std::string_view manifest;  // the manifest's file name
  bool firefox;               // Firefox's manifest form, else Chromium's
};
inline constexpr Browser kBrowsers[] = {
    {"Chrome", "Software\\Google\\Chrome\\NativeMessagingHosts", "com.tarvona.host.chromium.json",
     false},
    {"Edge", "Software\\Microsoft\\Edge\\NativeMessagingHosts", "com.tarvona.host.chromium.json",
     false},
    {"Firefox", "Software\\Mozilla\\NativeMessagingHosts", "com.tarvona.host.firefox.json", true},
};
// The manifests, once each.
inline constexpr std::string_view kManifests[] = {"com.tarvona.host.chromium.json",
                                                  "com.tarvona.host.firefox.json"};

// Linux: each browser looks for "<kHostName>.json" in the user's folder
// first, then in the machine's. scripts/tarvona-install.sh writes the
// user's, the Debian package (scripts/package.sh) the machine's; the
// diagnostics report (tarvona-host --diagnose) reads both.
enum class UserBase {
  kConfig,  // $XDG_CONFIG_HOME, else ~/.config
  kHome,    // the home folder
};
struct LinuxBrowser {
  std::string_view name;
  UserBase base;
  std::string_view user_folder;  // below `base`
  std::string_view machine_folder;
  bool firefox;
};
inline constexpr LinuxBrowser kLinuxBrowsers[] = {
    {"Chromium", UserBase::kConfig, "chromium/NativeMessagingHosts",
     "/etc/chromium/native-messaging-hosts", false},
    {"Chrome", UserBase::kConfig, "google-chrome/NativeMessagingHosts",
     "/etc/opt/chrome/native-messaging-hosts", false},
    {"Firefox", UserBase::kHome, ".mozilla/native-messaging-hosts",
     "/usr/lib/mozilla/native-messaging-hosts", true},
};
inline std::string LinuxManifestName() { return std::string(kHostName) + ".json"; }

inline std::string KeyOf(const Browser& browser) {
  return std::string(browser.key) + "\\" + std::string(kHostName);
}

inline bool IsFirefoxManifest(std::string_view manifest) {
  return manifest.find("firefox") != std::string_view::npos;
}

// A JSON string literal for UTF-8 text.
inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The manifest naming the program at `path` (UTF-8): a full path, or on
// Windows one relative to the manifest's folder, as the installer writes.
inline std::string Manifest(std::string_view path, bool firefox) {
  std::string out = "{\n";
  out += "  \"name\": " + JsonString(kHostName) + ",\n";
  out += "  \"description\": " + JsonString(kDescription) + ",\n";
  out += "  \"path\": " + JsonString(path) + ",\n";
  out += "  \"type\": \"stdio\",\n";
  if (firefox) {
    out += "  \"allowed_extensions\": [" + JsonString(kFirefoxId) + "]\n";
  } else {
    out += "  \"allowed_origins\": [" + JsonString(kChromiumOrigin) + "]\n";
  }
  return out + "}\n";
}

}  // namespace tarvona::browser_hosts
