#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/child_process.h"
#include "platform/descriptor_posix.h"
#include "platform/hangup.h"

extern char** environ;

namespace tarvona::platform {
namespace {

// A started child until it is reaped: leaving early kills and reaps it.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    Wait(true);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  bool reaped() const { return pid_ <= 0; }

  // The wait status once the child has ended; nullopt while it runs (when
  // not blocking) or when it cannot be waited for (then reaped() is true).
  std::optional<int> Wait(bool block) {
    int status = 0;
    for (;;) {
      pid_t got = waitpid(pid_, &status, block ? 0 : WNOHANG);
      if (got == pid_) break;
      if (got == 0) return std::nullopt;
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

// A close-on-exec descriptor moved above the standard ones, so that placing
// one file on 0 and another on 1 in the child cannot overwrite either.
int AboveStandard(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

int MemoryFile(const char* name) { return AboveStandard(memfd_create(name, MFD_CLOEXEC)); }

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

// Closes every descriptor but `keep`; only system calls, as between fork
// and exec. `limit` bounds the loop where close_range is missing.
void CloseAllBut(int keep, int limit) {
  const auto kept = static_cast<unsigned>(keep);
  if ((kept == STDERR_FILENO + 1 || close_range(STDERR_FILENO + 1, kept - 1, 0) == 0) &&
      close_range(kept + 1, UINT_MAX, 0) == 0) {
    return;
  }
  for (int fd = STDERR_FILENO + 1; fd < limit; ++fd) {
    if (fd != keep) close(fd);
  }
}

// The child's side, between fork and exec: system calls only. An exec
// that fails sends its errno through `report` (close-on-exec, so an exec
// that succeeds sends nothing).
[[noreturn]] void StartChild(pid_t parent, int in, int out, int report, int fd_limit,
                             const char* program, char* const* argv) {
  // Dies with the thread that started it. If that thread is gone already,
  // the child belongs to nobody and must not show anything.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent ||
      dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0) {
    _exit(127);
  }
  // Whatever the host holds (a browser's message pipes, a token's files)
  // is none of the child's business, close-on-exec or not.
  CloseAllBut(report, fd_limit);
  execve(program, argv, environ);
  int error = errno;
  ssize_t ignored = write(report, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

}  // namespace

std::optional<ChildOutcome> RunChild(const std::string& program,
                                     std::span<const std::string> arguments,
                                     std::string_view input, size_t output_limit, int hangup) {
  if (hangup >= 0 && HungUp(hangup)) return std::nullopt;
  UniqueFd in(MemoryFile("tarvona-child-input"));
  UniqueFd out(MemoryFile("tarvona-child-output"));
  if (in.get() < 0 || out.get() < 0 || !WriteAll(in.get(), input) ||
      lseek(in.get(), 0, SEEK_SET) != 0) {
    return std::nullopt;
  }
  int report_ends[2];
  if (pipe2(report_ends, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd report_in(AboveStandard(report_ends[0]));
  UniqueFd report_out(AboveStandard(report_ends[1]));
  if (report_in.get() < 0 || report_out.get() < 0) return std::nullopt;

  // Everything the child needs is made before the fork.
  std::vector<std::string> texts;
  texts.reserve(arguments.size() + 1);
  texts.push_back(program);
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  rlimit files{};
  int fd_limit = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 65536
                     ? static_cast<int>(files.rlim_cur)
                     : 65536;

  // fork, not posix_spawn: the child must set its parent-death signal
  // before it execs.
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    StartChild(parent, in.get(), out.get(), report_out.get(), fd_limit, program.c_str(),
               argv.data());
  }
  Child child(pid);
  report_out.Reset();
  int exec_error = 0;
  ssize_t got = 0;
  while ((got = read(report_in.get(), &exec_error, sizeof exec_error)) < 0 && errno == EINTR) {
  }
  if (got != 0) return std::nullopt;  // not started

  std::optional<int> status;
  if (hangup < 0) {
    status = child.Wait(true);
  } else {
    // The child's end shows on a process descriptor; without one (an old
    // kernel), a check every tenth of a second.
    UniqueFd ended(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    while (!child.reaped()) {
      Woken woken = WaitForHangup(hangup, ended.get(), ended.get() >= 0 ? -1 : 100);
      // Nobody waits for the answer any more: the child is killed on return.
      if (woken.failed || woken.hung_up) return std::nullopt;
      status = child.Wait(false);
    }
  }
  if (!status) return std::nullopt;
  ChildOutcome outcome;
  outcome.exit_code = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  outcome.output = ReadUpTo(out.get(), output_limit);
  return outcome;
}

}  // namespace tarvona::platform
