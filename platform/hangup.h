#pragma once

#include <memory>

namespace tarvona::platform {

// True once `fd`, a descriptor of this process reading a pipe (the host's
// input), has hung up: nobody writes to it any more. Nothing is read, so
// what waits there stays for whoever reads it; a regular file never hangs
// up, and -1 never does.
bool HungUp(int fd);

// While it lives, a watcher on another thread ends this process (exit
// status 0) as soon as `fd` hangs up, whatever this thread is doing: for a
// call that may never return (a card that stopped answering) once nobody is
// left to take its answer. Only the process's end frees what such a call
// holds (a card reader's lock); nothing is destroyed or flushed on the way.
// -1 watches nothing; neither does a watcher that cannot be started.
class EndOnHangup {
 public:
  explicit EndOnHangup(int fd);
  ~EndOnHangup();
  EndOnHangup(const EndOnHangup&) = delete;
  EndOnHangup& operator=(const EndOnHangup&) = delete;

 private:
  struct Watcher;
  std::unique_ptr<Watcher> watcher_;
};

}  // namespace tarvona::platform
