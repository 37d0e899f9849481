#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>

#include <memory>
#include <system_error>

#include "platform/own_path.h"

namespace tarvona::platform {

std::filesystem::path OwnBinaryPath() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&OwnBinaryPath), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0) {
    return {};
  }
  // The program itself has an empty name in the link map.
  if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
  }
  std::unique_ptr<char, decltype(&free)> resolved(realpath(map->l_name, nullptr), &free);
  return resolved ? std::filesystem::path(resolved.get()) : std::filesystem::path(map->l_name);
}

std::filesystem::path OwnFolder() { return OwnBinaryPath().parent_path(); }

}  // namespace tarvona::platform
