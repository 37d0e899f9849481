#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tarvona::host {

// A child process spoken to over its stdin and stdout, line by line as
// programs talk to `tarvona-host --lines`, or in native-messaging frames as
// browsers do.
class HostProcess {
 public:
  // How long Finish waits by default: far longer than any host takes to
  // release its controls, yet never for ever.
  static constexpr std::chrono::milliseconds kEndWithin = std::chrono::minutes(2);

  // Starts `program` with `args`; check running() afterwards.
  HostProcess(const std::string& program, const std::vector<std::string>& args);
  // Finish(): the child never outlives the object.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Sends one line and returns the reply line, or nullopt when the child
  // has ended.
  std::optional<std::string> Exchange(const std::string& line);
  // Sends one frame and returns the reply frame's payload.
  std::optional<std::string> ExchangeFrame(const std::string& payload);

  // The halves of an exchange, for a reply that comes late or never.
  bool Send(const std::string& line);
  bool SendFrame(const std::string& payload);
  std::optional<std::string> Receive();
  std::optional<std::string> ReceiveFrame();
  // True when the child has written, or closed its output, within `wait`.
  // (It writes only replies, and a reply read leaves nothing buffered.)
  bool Replied(std::chrono::milliseconds wait);

  // Closes the child's input, as a browser hangs up.
  void CloseInput();
  // Closes the child's input and returns its exit status (waitpid form);
  // a child still running after `limit` is killed first (SIGKILL shows in
  // the status).
  int Finish(std::chrono::milliseconds limit = kEndWithin);

 private:
  pid_t pid_ = -1;
  std::FILE* to_child_ = nullptr;
  std::FILE* from_child_ = nullptr;
};

}  // namespace tarvona::host
