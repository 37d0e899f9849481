#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/own_path.h"

namespace tarvona::platform {
namespace {

class PosixLibrary final : public DynamicLibrary {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { dlclose(handle_); }
  PosixLibrary(const PosixLibrary&) = delete;
  PosixLibrary& operator=(const PosixLibrary&) = delete;

  void* Symbol(const char* name) const override { return dlsym(handle_, name); }

 private:
  void* handle_;
};

class PosixLoader final : public LibraryLoader {
 public:
  std::unique_ptr<DynamicLibrary> Load(const std::string& file_name) const override {
    // RTLD_LOCAL keeps each module's symbols to itself: two modules may
    // export the same Cryptoki names.
    void* handle = dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
    // The normal search takes the run path ($ORIGIN) of the object calling
    // dlopen, and an interposed dlopen (a sanitizer's, say) hides that
    // object. Modules installed next to the control are then looked for
    // there by name.
    if (handle == nullptr && file_name.find('/') == std::string::npos) {
      if (std::filesystem::path folder = OwnFolder(); !folder.empty()) {
        handle = dlopen((folder / file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
      }
    }
    if (handle == nullptr) return nullptr;
    return std::make_unique<PosixLibrary>(handle);
  }
};

}  // namespace

const LibraryLoader& SystemLibraryLoader() {
  static const PosixLoader loader;
  return loader;
}

}  // namespace tarvona::platform
