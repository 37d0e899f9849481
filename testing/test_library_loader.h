#pragma once

#include <dlfcn.h>

#include <memory>
#include <set>
#include <string>

#include "platform/dynamic_library.h"

namespace tarvona::testing {

// Loads modules from one folder by full path, so each test chooses which
// module files exist and which entry points they show, whatever the
// process's library search path.
class DirectoryLoader final : public platform::LibraryLoader {
 public:
  explicit DirectoryLoader(std::string directory) : directory_(std::move(directory)) {}

  // The file is treated as absent.
  DirectoryLoader& Without(const std::string& file_name) {
    missing_.insert(file_name);
    return *this;
  }
  // Every module loaded through this loader hides the entry point.
  DirectoryLoader& Hiding(const std::string& symbol) {
    hidden_.insert(symbol);
    return *this;
  }

  std::unique_ptr<platform::DynamicLibrary> Load(const std::string& file_name) const override {
    if (missing_.contains(file_name)) return nullptr;
    void* handle = dlopen((directory_ + "/" + file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    return std::make_unique<Library>(handle, hidden_);
  }

 private:
  class Library final : public platform::DynamicLibrary {
   public:
    Library(void* handle, const std::set<std::string>& hidden) : handle_(handle), hidden_(hidden) {}
    ~Library() override { dlclose(handle_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    void* Symbol(const char* name) const override {
      return hidden_.contains(name) ? nullptr : dlsym(handle_, name);
    }

   private:
    void* handle_;
    std::set<std::string> hidden_;
  };

  std::string directory_;
  std::set<std::string> missing_;
  std::set<std::string> hidden_;
};

}  // namespace tarvona::testing
