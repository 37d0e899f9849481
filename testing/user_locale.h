#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvona::testing {

// The language of the dialogs a test starts, as a user sets it: LANG names
// a locale, and nothing else decides (LC_ALL, LC_MESSAGES and LANGUAGE
// cleared). The locale is compiled from the system's sources (Debian's
// locales package) into a private folder that LOCPATH names, so the
// machine's own locale folders are never written. Made after the display
// starts (XvfbDisplay::Start sets English); the environment is restored
// and the folder removed at the end.
class UserLocale {
 public:
  // `name` as LANG takes it: "de_DE.UTF-8".
  explicit UserLocale(const std::string& name) {
    for (const char* variable : kVariables) {
      const char* value = std::getenv(variable);
      saved_.emplace_back(variable,
                          value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    char folder[] = "/tmp/tarvona-locale-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    const size_t dot = name.find('.');
    const std::string source = name.substr(0, dot);
    const std::string charmap = dot == std::string::npos ? "UTF-8" : name.substr(dot + 1);
    const std::string command = "localedef -i '" + source + "' -f '" + charmap + "' '" + folder_ +
                                "/" + name + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) unsetenv(variable);
    setenv("LOCPATH", folder_.c_str(), 1);
    setenv("LANG", name.c_str(), 1);
    made_ = true;
  }

  ~UserLocale() {
    for (const auto& [variable, value] : saved_) {
      if (value) {
        setenv(variable, value->c_str(), 1);
      } else {
        unsetenv(variable);
      }
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  UserLocale(const UserLocale&) = delete;
  UserLocale& operator=(const UserLocale&) = delete;

  // False when localedef could not make it.
  bool made() const { return made_; }

 private:
  static constexpr const char* kVariables[] = {"LOCPATH", "LANG", "LC_ALL", "LC_MESSAGES",
                                               "LANGUAGE"};
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
  std::string folder_;
  bool made_ = false;
};

}  // namespace tarvona::testing
