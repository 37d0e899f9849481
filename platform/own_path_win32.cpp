#include <windows.h>

#include <string>

#include "platform/own_path.h"

namespace tarvona::platform {

std::filesystem::path OwnBinaryPath() {
  // The module holding this function: the control's DLL when it is loaded
  // as one, otherwise the program.
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&OwnBinaryPath), &module)) {
    return {};
  }
  // GetModuleFileNameW cuts a long path short without failing: grow the
  // buffer until the name fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path OwnFolder() { return OwnBinaryPath().parent_path(); }

}  // namespace tarvona::platform
