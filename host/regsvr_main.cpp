// tarvona-regsvr: registers an in-process server, as regsvr32 does.
//   tarvona-regsvr [-u] MODULE   calls DllRegisterServer (or, with -u,
//                                DllUnregisterServer) of MODULE.
// Exit status: 0 done, 1 the entry point failed (its HRESULT is printed),
// 2 usage, 3 the module cannot be loaded or lacks the entry point.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "com/hresult.h"
#include "platform/dynamic_library.h"

int main(int argc, char** argv) {
  using tarvona::com::HRESULT;
  const bool unregister = argc == 3 && std::strcmp(argv[1], "-u") == 0;
  if (argc != 2 + (unregister ? 1 : 0) || argv[argc - 1][0] == '-') {
    std::fprintf(stderr, "usage: %s [-u] MODULE\n", argv[0]);
    return 2;
  }
  const char* module = argv[argc - 1];
  // The record names the module by its full path.
  std::unique_ptr<char, decltype(&free)> path(realpath(module, nullptr), &free);
  if (!path) {
    std::fprintf(stderr, "%s: cannot find %s\n", argv[0], module);
    return 3;
  }
  auto library = tarvona::platform::SystemLibraryLoader().Load(path.get());
  if (!library) {
    const char* why = dlerror();
    std::fprintf(stderr, "%s: cannot load %s: %s\n", argv[0], module, why ? why : "unknown");
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto call = reinterpret_cast<HRESULT (*)()>(library->Symbol(entry));
  if (call == nullptr) {
    std::fprintf(stderr, "%s: %s has no %s entry point\n", argv[0], module, entry);
    return 3;
  }
  const HRESULT hr = call();
  if (tarvona::com::Failed(hr)) {
    std::string_view name = tarvona::com::HresultName(hr);
    std::fprintf(stderr, "%s in %s failed: 0x%08X%s%.*s%s\n", entry, module,
                 static_cast<unsigned>(hr), name.empty() ? "" : " (", static_cast<int>(name.size()),
                 name.data(), name.empty() ? "" : ")");
    return 1;
  }
  std::printf("%s in %s succeeded.\n", entry, module);
  return 0;
}
