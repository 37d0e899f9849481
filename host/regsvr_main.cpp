// tarvona-regsvr: registers an in-process server, as regsvr32 does.
//   tarvona-regsvr [--system] [-u] MODULE
//                                calls DllRegisterServer (or, with -u,
//                                DllUnregisterServer) of MODULE. The record
//                                is the user's classes file; with --system
//                                it is the machine's, which every user's
//                                hosts read under their own (root only).
// Exit status: 0 done, 1 the entry point failed (its HRESULT is printed) or
// the machine's record cannot be written, 2 usage, 3 the module cannot be
// loaded or lacks the entry point.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/control_host.h"
#include "linux/com/classes_root.h"
#include "platform/dynamic_library.h"

namespace {

// The machine's record is written by the module as a user's record is, with
// the machine's data home standing in for the user's. The folder and file
// are readable by every user, as hosts of every user read them.
bool UseMachineRecord(const char* program) {
  const std::string folder = std::string(tarvona::linux_com::kMachineDataHome) + "/tarvona";
  if ((mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) || chmod(folder.c_str(), 0755) != 0) {
    std::fprintf(stderr, "%s: cannot write the machine's record in %s: %s\n", program,
                 folder.c_str(), std::strerror(errno));
    return false;
  }
  return setenv("XDG_DATA_HOME", tarvona::linux_com::kMachineDataHome, 1) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  bool system = false;
  int next = 1;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    if (std::strcmp(argv[next], "-u") == 0) {
      unregister = true;
    } else if (std::strcmp(argv[next], "--system") == 0) {
      system = true;
    } else {
      break;
    }
  }
  if (next != argc - 1 || argv[next][0] == '-') {
    std::fprintf(stderr, "usage: %s [--system] [-u] MODULE\n", argv[0]);
    return 2;
  }
  const char* module = argv[argc - 1];
  // The record names the module by its full path.
  std::unique_ptr<char, decltype(&free)> path(realpath(module, nullptr), &free);
  if (!path) {
    std::fprintf(stderr, "%s: cannot find %s\n", argv[0], module);
    return 3;
  }
  if (system && !UseMachineRecord(argv[0])) return 1;
  auto library = tarvona::platform::SystemLibraryLoader().Load(path.get());
  if (!library) {
    const char* why = dlerror();
    std::fprintf(stderr, "%s: cannot load %s: %s\n", argv[0], module, why ? why : "unknown");
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto call = reinterpret_cast<int32_t (*)()>(library->Symbol(entry));
  if (call == nullptr) {
    std::fprintf(stderr, "%s: %s has no %s entry point\n", argv[0], module, entry);
    return 3;
  }
  const int32_t hr = call();
  // Each change is written anew with the owner's access alone.
  if (system) (void)chmod(tarvona::linux_com::MachineClassesPath().c_str(), 0644);
  if (hr < 0) {
    std::string_view name = tarvona::host::StatusName(hr);
    std::fprintf(stderr, "%s in %s failed: 0x%08X%s%.*s%s\n", entry, module,
                 static_cast<unsigned>(hr), name.empty() ? "" : " (", static_cast<int>(name.size()),
                 name.data(), name.empty() ? "" : ")");
    return 1;
  }
  std::printf("%s in %s succeeded.\n", entry, module);
  return 0;
}
