#include <windows.h>

#include <string>

#include "platform/dynamic_library.h"
#include "platform/own_path.h"

namespace tarvona::platform {
namespace {

class Win32Library final : public DynamicLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  Win32Library(const Win32Library&) = delete;
  Win32Library& operator=(const Win32Library&) = delete;

  void* Symbol(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

// File names are UTF-8; Windows takes UTF-16.
std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                       static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), size);
  return wide;
}

// A module's own dependencies are looked for beside it and in the system
// folder, never in the current folder or on PATH.
constexpr DWORD kBesideOrSystem = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

class Win32Loader final : public LibraryLoader {
 public:
  std::unique_ptr<DynamicLibrary> Load(const std::string& file_name) const override {
    const std::wstring name = Widen(file_name);
    if (name.empty() || name.find(L'\0') != std::wstring::npos) return nullptr;
    HMODULE module = nullptr;
    if (name.find_first_of(L"\\/:") != std::wstring::npos) {
      module = LoadLibraryExW(name.c_str(), nullptr, kBesideOrSystem);
    } else {
      // A bare name never goes through the normal search, which takes the
      // current folder and PATH: a file planted there would run inside a
      // signing process. The control's own folder first, then the system
      // folder, where a token maker's installer puts its modules.
      if (const std::filesystem::path folder = OwnFolder(); !folder.empty()) {
        module = LoadLibraryExW((folder / name).c_str(), nullptr, kBesideOrSystem);
      }
      if (module == nullptr) {
        module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
      }
    }
    if (module == nullptr) return nullptr;
    return std::make_unique<Win32Library>(module);
  }
};

}  // namespace

const LibraryLoader& SystemLibraryLoader() {
  static const Win32Loader loader;
  return loader;
}

}  // namespace tarvona::platform
