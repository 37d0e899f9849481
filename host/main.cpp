// tarvona-host: hosts controls for programs that speak JSON.
//   tarvona-host --lines   one JSON request per line on stdin, one response
//                          per line on stdout; end of input ends the host.
// Controls are created from the registration record in the user's classes
// file ($XDG_DATA_HOME/tarvona/classes.reg), as tarvona-regsvr writes it.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/com_activation.h"
#include "host/host_session.h"
#include "host/line_reader.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"

namespace {

constexpr size_t kMaxRequest = 1 << 20;

int RunLines() {
  const tarvona::platform::FileRegistry registry;
  tarvona::host::ComActivator activator(registry, tarvona::platform::SystemLibraryLoader());
  tarvona::host::HostSession session(activator);
  tarvona::host::LineReader reader(stdin, kMaxRequest);
  std::string line;
  for (;;) {
    auto status = reader.Next(line);
    if (status == tarvona::host::LineReader::Status::kEnd) break;
    if (status == tarvona::host::LineReader::Status::kLine &&
        line.find_first_not_of(" \t\r") == std::string::npos) {
      continue;  // blank lines are not requests
    }
    std::string response =
        status == tarvona::host::LineReader::Status::kTooLong
            ? R"({"id":null,"error":{"name":"E_INVALIDARG","message":"the request is longer than 1 MiB"}})"
            : session.HandleText(line);
    std::fwrite(response.data(), 1, response.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--lines") == 0) return RunLines();
  std::fprintf(stderr, "usage: %s --lines\n", argv[0]);
  return 2;
}
