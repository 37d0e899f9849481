#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/origin_policy.h"

extern char** environ;

namespace tarvona::host {
namespace {

bool HasDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

// Runs tarvona-consent, which sits next to this program, and reads its
// one-word answer. Anything unexpected is a denial.
class DesktopPrompt final : public ConsentPrompt {
 public:
  Answer Ask(std::string_view origin) override {
    if (!HasDisplay()) return Answer::kDeny;
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return Answer::kDeny;
    const std::string program = (self.parent_path() / "tarvona-consent").string();
    const std::string shown(origin);

    int output[2];
    if (pipe(output) != 0) return Answer::kDeny;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The browser's frames must not see the dialog's output or input.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    posix_spawn_file_actions_addclose(&actions, output[1]);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(shown.c_str()),
                    nullptr};
    pid_t pid = -1;
    bool started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    char answer[16] = {};
    if (started) {
      ssize_t got = read(output[0], answer, sizeof(answer) - 1);
      answer[got > 0 ? got : 0] = '\0';
      waitpid(pid, nullptr, 0);
    }
    close(output[0]);
    std::string_view word(answer);
    if (word.starts_with("always")) return Answer::kAllowAlways;
    if (word.starts_with("once")) return Answer::kAllowOnce;
    return Answer::kDeny;
  }
};

}  // namespace

std::unique_ptr<ConsentPrompt> DesktopConsentPrompt() { return std::make_unique<DesktopPrompt>(); }

}  // namespace tarvona::host
