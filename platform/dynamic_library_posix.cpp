#include <dlfcn.h>

#include "platform/dynamic_library.h"

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
