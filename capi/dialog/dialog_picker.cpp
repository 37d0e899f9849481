#include "capi/dialog/dialog_picker.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "capi/dialog/picker_protocol.h"
#include "platform/own_path.h"

namespace tarvona::capi {
namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

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

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// What is waiting in the pipe, without waiting for more.
std::string ReadAvailable(int fd) {
  std::string text;
  char buffer[256];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<size_t>(got));
  }
}

// Runs the program with `input` as its standard input; its standard output
// when it exits with kExitChosen.
std::optional<std::string> RunPicker(const std::string& program, const std::string& input) {
  // A memory file rather than a pipe: nothing to write while the dialog is
  // up, and no SIGPIPE when the program exits without reading.
  UniqueFd list(memfd_create("tarvona-certpicker-list", MFD_CLOEXEC));
  if (list.get() < 0 || !WriteAll(list.get(), input) || lseek(list.get(), 0, SEEK_SET) != 0) {
    return std::nullopt;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd answer(fds[0]);
  UniqueFd answer_end(fds[1]);
  if (fcntl(answer.get(), F_SETFL, O_NONBLOCK) != 0) return std::nullopt;

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), list.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(actions.get(), answer_end.get(), STDOUT_FILENO);
  // The host's other descriptors are none of the dialog's business.
  posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
  std::string argv0 = program;
  char* argv[] = {argv0.data(), nullptr};
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv, environ);
  answer_end.reset();
  if (spawned != 0) return std::nullopt;

  // The answer is a few bytes, well within the pipe's buffer, so the program
  // never waits for us; and whatever it started that still holds the pipe
  // cannot keep us waiting after it has exited.
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != dialog::kExitChosen) return std::nullopt;
  return ReadAvailable(answer.get());
}

}  // namespace

std::optional<size_t> DialogPicker::Pick(std::span<const CertificateSummary> certificates) {
  if (certificates.empty() || !HasDisplay()) return std::nullopt;
  std::string input;
  for (const CertificateSummary& summary : certificates) input += dialog::EncodeLine(summary);
  auto output = RunPicker((platform::OwnFolder() / kProgramName).string(), input);
  if (!output) return std::nullopt;
  size_t index = 0;
  const char* end = output->data() + output->size();
  auto [rest, error] = std::from_chars(output->data(), end, index);
  if (error != std::errc() || rest == output->data() || (rest != end && *rest != '\n') ||
      index >= certificates.size()) {
    return std::nullopt;
  }
  return index;
}

}  // namespace tarvona::capi
