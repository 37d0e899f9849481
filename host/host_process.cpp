#include "host/host_process.h"

#include "host/native_messaging.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace tarvona::host {

HostProcess::HostProcess(const std::string& program, const std::vector<std::string>& args) {
  int input[2];
  int output[2];
  // Close-on-exec: another child started later must not hold this one's
  // input open, or this child would never see it end.
  if (pipe2(input, O_CLOEXEC) != 0) return;
  if (pipe2(output, O_CLOEXEC) != 0) {
    close(input[0]);
    close(input[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  for (int fd : {input[0], input[1], output[0], output[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  to_child_ = fdopen(input[1], "w");
  from_child_ = fdopen(output[0], "r");
}

HostProcess::~HostProcess() {
  Finish();
  if (from_child_ != nullptr) std::fclose(from_child_);
}

std::optional<std::string> HostProcess::Exchange(const std::string& line) {
  if (!Send(line)) return std::nullopt;
  return Receive();
}

std::optional<std::string> HostProcess::ExchangeFrame(const std::string& payload) {
  if (!SendFrame(payload)) return std::nullopt;
  return ReceiveFrame();
}

bool HostProcess::Send(const std::string& line) {
  return to_child_ != nullptr && std::fputs(line.c_str(), to_child_) >= 0 &&
         std::fputc('\n', to_child_) != EOF && std::fflush(to_child_) == 0;
}

bool HostProcess::SendFrame(const std::string& payload) {
  return to_child_ != nullptr && WriteFrame(to_child_, payload);
}

std::optional<std::string> HostProcess::Receive() {
  if (from_child_ == nullptr) return std::nullopt;
  std::string reply;
  for (int c = std::fgetc(from_child_); c != EOF; c = std::fgetc(from_child_)) {
    if (c == '\n') return reply;
    reply.push_back(static_cast<char>(c));
  }
  return std::nullopt;
}

std::optional<std::string> HostProcess::ReceiveFrame() {
  std::string reply;
  if (from_child_ == nullptr || ReadFrame(from_child_, reply) != FrameStatus::kFrame) {
    return std::nullopt;
  }
  return reply;
}

bool HostProcess::Replied(std::chrono::milliseconds wait) {
  if (from_child_ == nullptr) return true;
  pollfd output{fileno(from_child_), POLLIN, 0};
  int ready = 0;
  while ((ready = poll(&output, 1, static_cast<int>(wait.count()))) < 0 && errno == EINTR) {
  }
  return ready != 0;
}

void HostProcess::CloseInput() {
  if (to_child_ != nullptr) {
    std::fclose(to_child_);
    to_child_ = nullptr;
  }
}

int HostProcess::Finish(std::chrono::milliseconds limit) {
  CloseInput();
  int status = -1;
  if (pid_ <= 0) return status;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_ || (got < 0 && errno != EINTR)) break;
    if (got == 0 && std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  pid_ = -1;
  return status;
}

}  // namespace tarvona::host
