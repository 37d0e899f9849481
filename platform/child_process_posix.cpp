#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/child_process.h"

extern char** environ;

namespace tarvona::platform {
namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// A started child until it is reaped: leaving early kills and reaps it.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    Wait();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The wait status, or nullopt when the child cannot be waited for.
  std::optional<int> Wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
      if (errno != EINTR) {
        pid_ = -1;
        return std::nullopt;
      }
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_;
};

// A close-on-exec memory file above the standard descriptors, so that
// placing one file on 0 and another on 1 in the child cannot overwrite
// either.
int MemoryFile(const char* name) {
  int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

std::string ReadUpTo(int fd, size_t limit) {
  std::string text;
  char buffer[4096];
  while (text.size() < limit) {
    size_t want = std::min(sizeof buffer, limit - text.size());
    ssize_t got = pread(fd, buffer, want, static_cast<off_t>(text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

}  // namespace

std::optional<ChildOutcome> RunChild(const std::string& program,
                                     std::span<const std::string> arguments,
                                     std::string_view input, size_t output_limit) {
  UniqueFd in(MemoryFile("tarvona-child-input"));
  UniqueFd out(MemoryFile("tarvona-child-output"));
  if (in.get() < 0 || out.get() < 0 || !WriteAll(in.get(), input) ||
      lseek(in.get(), 0, SEEK_SET) != 0) {
    return std::nullopt;
  }

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), in.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(actions.get(), out.get(), STDOUT_FILENO);
  // Whatever the host holds (a browser's message pipes, a token's files)
  // is none of the child's business, close-on-exec or not.
  posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);

  std::vector<std::string> texts;
  texts.reserve(arguments.size() + 1);
  texts.push_back(program);
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ) != 0) {
    return std::nullopt;
  }
  Child child(pid);
  auto status = child.Wait();
  if (!status) return std::nullopt;
  ChildOutcome outcome;
  outcome.exit_code = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  outcome.output = ReadUpTo(out.get(), output_limit);
  return outcome;
}

}  // namespace tarvona::platform
