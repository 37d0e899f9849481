#pragma once

#include <sys/types.h>

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
  // Starts `program` with `args`; check running() afterwards.
  HostProcess(const std::string& program, const std::vector<std::string>& args);
  // Closes the child's input and waits for it to end.
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
  // Closes the child's input and returns its exit status (waitpid form).
  int Finish();

 private:
  pid_t pid_ = -1;
  std::FILE* to_child_ = nullptr;
  std::FILE* from_child_ = nullptr;
};

}  // namespace tarvona::host
