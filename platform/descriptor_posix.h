#pragma once

#include <unistd.h>

namespace tarvona::platform {

// An owned descriptor, closed when it goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// What ended a wait for `fd` to hang up (see HungUp).
struct Woken {
  bool failed = false;   // poll failed: nothing can be watched
  bool hung_up = false;  // `fd` hung up
  bool other = false;    // `other` is readable
};

// Waits until `fd` hangs up or `other` (-1 for none) is readable, or for
// `timeout_ms` (-1 for ever); an interrupted wait ends with neither.
Woken WaitForHangup(int fd, int other, int timeout_ms);

}  // namespace tarvona::platform
