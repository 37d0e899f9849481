#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/user_folders.h"

namespace tarvona::platform {
namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::filesystem::path FromSettingOrHome(const char* variable, const char* under_home) {
  if (const char* set = std::getenv(variable); IsAbsolute(set)) return set;
  std::filesystem::path home = HomeFolder();
  return home.empty() ? home : home / under_home;
}

}  // namespace

std::filesystem::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); IsAbsolute(home)) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      !IsAbsolute(found->pw_dir)) {
    return {};
  }
  return found->pw_dir;
}

std::filesystem::path UserDataFolder() {
  return FromSettingOrHome("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path UserConfigFolder() { return FromSettingOrHome("XDG_CONFIG_HOME", ".config"); }

}  // namespace tarvona::platform
