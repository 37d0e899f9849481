#include <windows.h>
//
#include <io.h>

#include "platform/hangup.h"

namespace tarvona::platform {
namespace {

// A pipe's hang-up shows only when asked for: how often the watcher asks.
constexpr DWORD kLookEveryMs = 100;

}  // namespace

// A pipe whose writer has closed it answers a peek with a broken pipe.
bool HungUp(int fd) {
  if (fd < 0) return false;
  auto pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (pipe == INVALID_HANDLE_VALUE || GetFileType(pipe) != FILE_TYPE_PIPE) return false;
  DWORD available = 0;
  return !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) &&
         GetLastError() == ERROR_BROKEN_PIPE;
}

struct EndOnHangup::Watcher {
  int fd = -1;
  HANDLE done = nullptr;
  HANDLE thread = nullptr;

  ~Watcher() {
    if (thread != nullptr) CloseHandle(thread);
    if (done != nullptr) CloseHandle(done);
  }

  static DWORD WINAPI Watch(void* self) {
    auto* watcher = static_cast<Watcher*>(self);
    while (WaitForSingleObject(watcher->done, kLookEveryMs) == WAIT_TIMEOUT) {
      // Not ExitProcess: that runs every library's detach code while the
      // call's thread may hold their locks.
      if (HungUp(watcher->fd)) TerminateProcess(GetCurrentProcess(), 0);
    }
    return 0;
  }
};

EndOnHangup::EndOnHangup(int fd) {
  if (fd < 0) return;
  auto watcher = std::make_unique<Watcher>();
  watcher->fd = fd;
  watcher->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (watcher->done == nullptr) return;
  watcher->thread = CreateThread(nullptr, 0, &Watcher::Watch, watcher.get(), 0, nullptr);
  if (watcher->thread == nullptr) return;
  watcher_ = std::move(watcher);
}

EndOnHangup::~EndOnHangup() {
  if (!watcher_) return;
  SetEvent(watcher_->done);
  WaitForSingleObject(watcher_->thread, INFINITE);
}

}  // namespace tarvona::platform
