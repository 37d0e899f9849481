#include <windows.h>

#include <string>

#include "platform/user_folders.h"

namespace tarvona::platform {
namespace {

// The folders Windows gives every session in its environment. A value that
// is not an absolute path is ignored, as on Linux.
std::filesystem::path FromEnvironment(const wchar_t* variable) {
  const DWORD size = GetEnvironmentVariableW(variable, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(variable, value.data(), size);
  if (length == 0 || length >= size) return {};
  value.resize(length);
  std::filesystem::path path(value);
  return path.is_absolute() ? path : std::filesystem::path();
}

std::filesystem::path FromEnvironmentOrHome(const wchar_t* variable, const wchar_t* under_home) {
  if (std::filesystem::path set = FromEnvironment(variable); !set.empty()) return set;
  std::filesystem::path home = HomeFolder();
  return home.empty() ? home : home / under_home;
}

}  // namespace

std::filesystem::path HomeFolder() { return FromEnvironment(L"USERPROFILE"); }

std::filesystem::path UserDataFolder() {
  return FromEnvironmentOrHome(L"LOCALAPPDATA", L"AppData\\Local");
}

std::filesystem::path UserConfigFolder() {
  return FromEnvironmentOrHome(L"APPDATA", L"AppData\\Roaming");
}

}  // namespace tarvona::platform
