// The Windows side of the host's platform seam (host/platform_host.h).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "host/platform_host.h"

namespace tarvona::host {

const char kAllowListName[] = "Tarvona\\allowed-origins";  // under %APPDATA%

void PrepareStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

std::optional<int> RunPlatformMode(int argc, char** argv) {
  const bool machine = argc == 3 && std::strcmp(argv[2], "--machine") == 0;
  if ((argc == 2 || machine) && std::strcmp(argv[1], "--register") == 0) {
    return RegisterWithBrowsers(machine) ? 0 : 1;
  }
  if ((argc == 2 || machine) && std::strcmp(argv[1], "--unregister") == 0) {
    return UnregisterFromBrowsers(machine) ? 0 : 1;
  }
  return std::nullopt;
}

void AppendLine(const std::filesystem::path& path, std::string_view line) {
  // Append-only access writes each call at the file's end, atomically.
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace tarvona::host
