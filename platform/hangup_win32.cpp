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

// On Windows a watch holds nothing of its own: while it exists, the shared
// watcher below looks at its pipe.
struct EndOnHangup::Watcher {};

namespace {

// One watcher thread for the process, started by the first watch and then
// kept: a thread's start and end cost a millisecond and more under Wine,
// which a thread per watch would add to every call. It looks only while a
// watch is armed, and arming and looking take the same lock, so once a
// watch has ended nothing it watched can end the process.
class SharedWatcher {
 public:
  // Null when the thread cannot be started: then nothing is watched.
  static SharedWatcher* Get() {
    // Never destroyed: the thread may be waiting on it as the process ends.
    static SharedWatcher* const shared = [] {
      auto* made = new SharedWatcher;
      if (made->Start()) return made;
      delete made;
      return static_cast<SharedWatcher*>(nullptr);
    }();
    return shared;
  }

  void Arm(int fd) {
    EnterCriticalSection(&lock_);
    if (armed_++ == 0) fd_ = fd;
    SetEvent(wake_);
    LeaveCriticalSection(&lock_);
  }
  void Disarm() {
    EnterCriticalSection(&lock_);
    if (--armed_ == 0) {
      fd_ = -1;
      ResetEvent(wake_);
    }
    LeaveCriticalSection(&lock_);
  }

 private:
  SharedWatcher() { InitializeCriticalSection(&lock_); }
  ~SharedWatcher() {
    if (wake_ != nullptr) CloseHandle(wake_);
    DeleteCriticalSection(&lock_);
  }

  bool Start() {
    wake_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wake_ == nullptr) return false;
    HANDLE thread = CreateThread(nullptr, 0, &SharedWatcher::Watch, this, 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
  }

  static DWORD WINAPI Watch(void* self) {
    auto* watcher = static_cast<SharedWatcher*>(self);
    for (;;) {
      WaitForSingleObject(watcher->wake_, INFINITE);
      Sleep(kLookEveryMs);
      EnterCriticalSection(&watcher->lock_);
      // Not ExitProcess: that runs every library's detach code while the
      // call's thread may hold their locks.
      if (watcher->armed_ > 0 && HungUp(watcher->fd_)) TerminateProcess(GetCurrentProcess(), 0);
      LeaveCriticalSection(&watcher->lock_);
    }
  }

  CRITICAL_SECTION lock_;
  HANDLE wake_ = nullptr;  // set while armed
  int armed_ = 0;
  int fd_ = -1;
};

}  // namespace

EndOnHangup::EndOnHangup(int fd) {
  if (fd < 0) return;
  SharedWatcher* shared = SharedWatcher::Get();
  if (shared == nullptr) return;
  watcher_ = std::make_unique<Watcher>();
  shared->Arm(fd);
}

EndOnHangup::~EndOnHangup() {
  if (watcher_) SharedWatcher::Get()->Disarm();
}

}  // namespace tarvona::platform
