#include "capi/nss/nss_context.h"

#include <dlfcn.h>
#include <nss.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "capi/nss/nss_handles.h"
#include "platform/user_folders.h"

namespace tarvona::capi::nss {
namespace {

// No built-in roots: the road never builds chains. Modules that the
// database lists and that someone in the process (the token road's modules,
// say) has already initialised are shared, not refused.
constexpr PRUint32 kInitFlags = NSS_INIT_NOROOTINIT | NSS_INIT_PK11RELOAD;

// NSS keeps process-wide state that it never frees, such as the locks of its
// once-only initialisation. Unloaded together with the module that holds
// the control, it would strand that state, so it stays for the process.
void PinNss() {
  for (const char* library : {"libnss3.so", "libnssutil3.so"}) {
    if (void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(handle);
  }
}

class Context {
 public:
  Context() = default;
  // At process end or module unload.
  ~Context() { Shutdown(); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  bool Open(DatabaseUse use) {
    std::lock_guard lock(mutex_);
    if (context_ != nullptr) return true;
    if (broken_) return false;
    std::string directory = DirectoryLocked();
    if (directory.empty()) return false;
    if (use == DatabaseUse::kCreate) {
      std::error_code error;
      if (std::filesystem::create_directories(directory, error)) {
        std::filesystem::permissions(directory, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, error);
      }
    }
    PinNss();
    std::string config = "sql:" + directory;
    context_ = NSS_InitContext(config.c_str(), "", "", "", nullptr, kInitFlags);
    return context_ != nullptr;
  }

  bool Shutdown() {
    std::lock_guard lock(mutex_);
    if (context_ == nullptr) return true;
    // NSS releases the context even when it refuses to shut down.
    if (NSS_ShutdownContext(std::exchange(context_, nullptr)) == SECSuccess) return true;
    broken_ = true;
    return false;
  }

  void SetDirectory(std::string directory) {
    std::lock_guard lock(mutex_);
    directory_ = std::move(directory);
  }

  std::string Directory() {
    std::lock_guard lock(mutex_);
    return DirectoryLocked();
  }

 private:
  std::string DirectoryLocked() const {
    if (!directory_.empty()) return directory_;
    std::string home = platform::HomeFolder().string();
    return home.empty() ? std::string() : home + "/.pki/nssdb";
  }

  std::mutex mutex_;
  NSSInitContext* context_ = nullptr;
  bool broken_ = false;
  std::string directory_;
};

Context& TheContext() {
  static Context context;
  return context;
}

}  // namespace

bool OpenContext(DatabaseUse use) { return TheContext().Open(use); }
bool Shutdown() { return TheContext().Shutdown(); }

std::optional<bool> HasPassword() {
  if (!OpenContext(DatabaseUse::kExisting)) return std::nullopt;
  // The key database's token needs a login exactly when it has a password.
  SlotPtr slot(PK11_GetInternalKeySlot());
  if (!slot) return std::nullopt;
  return PK11_NeedLogin(slot.get()) != PR_FALSE;
}
void SetDatabaseDirectory(std::string directory) {
  TheContext().SetDirectory(std::move(directory));
}
std::string DatabaseDirectory() { return TheContext().Directory(); }

}  // namespace tarvona::capi::nss
