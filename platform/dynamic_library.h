#pragma once

#include <memory>
#include <string>

namespace tarvona::platform {

// One loaded shared library. Closing happens in the destructor, so a library
// is freed on every path that drops it.
class DynamicLibrary {
 public:
  virtual ~DynamicLibrary() = default;
  // Address of an exported entry point, or null when the library has none.
  virtual void* Symbol(const char* name) const = 0;
};

// Loads libraries by file name. The system loader follows the platform's own
// search rules (on Linux: LD_LIBRARY_PATH, then the loading object's RUNPATH,
// then the system folders); tests substitute a loader of their own.
class LibraryLoader {
 public:
  virtual ~LibraryLoader() = default;
  // Null when the file cannot be found or loaded.
  virtual std::unique_ptr<DynamicLibrary> Load(const std::string& file_name) const = 0;
};

// The platform's loader (dlopen on Linux). Lives for the whole process.
const LibraryLoader& SystemLibraryLoader();

}  // namespace tarvona::platform
