#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

#include "platform/descriptor_posix.h"
#include "platform/hangup.h"

namespace tarvona::platform {
namespace {

constexpr short kHangup = POLLHUP | POLLRDHUP | POLLERR | POLLNVAL;

}  // namespace

// Asks only for the read side's hang-up: data waiting there is not
// reported, so it is neither read nor spun on.
Woken WaitForHangup(int fd, int other, int timeout_ms) {
  pollfd watch[2] = {{fd, POLLRDHUP, 0}, {other, POLLIN, 0}};
  Woken woken;
  if (poll(watch, other >= 0 ? 2 : 1, timeout_ms) < 0) {
    woken.failed = errno != EINTR;
    return woken;
  }
  woken.hung_up = (watch[0].revents & kHangup) != 0;
  woken.other = other >= 0 && watch[1].revents != 0;
  return woken;
}

bool HungUp(int fd) { return fd >= 0 && WaitForHangup(fd, -1, 0).hung_up; }

struct EndOnHangup::Watcher {
  UniqueFd done{eventfd(0, EFD_CLOEXEC)};
  std::thread thread;
};

EndOnHangup::EndOnHangup(int fd) {
  if (fd < 0) return;
  auto watcher = std::make_unique<Watcher>();
  if (watcher->done.get() < 0) return;
  try {
    watcher->thread = std::thread([fd, done = watcher->done.get()] {
      for (;;) {
        Woken woken = WaitForHangup(fd, done, -1);
        // The call is over (even if the hang-up came with it): the caller
        // reads the end of input and ends in order.
        if (woken.failed || woken.other) return;
        if (woken.hung_up) _exit(0);
      }
    });
  } catch (const std::system_error&) {
    return;
  }
  watcher_ = std::move(watcher);
}

EndOnHangup::~EndOnHangup() {
  if (!watcher_) return;
  const uint64_t one = 1;
  while (write(watcher_->done.get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
  watcher_->thread.join();
}

}  // namespace tarvona::platform
