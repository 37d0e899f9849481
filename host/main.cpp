// tarvona-host: hosts controls for programs that speak JSON.
//   tarvona-host --lines   one JSON request per line on stdin, one response
//                          per line on stdout; end of input ends the host.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "control/tarvona_control.h"
#include "host/host_session.h"
#include "host/line_reader.h"

namespace {

constexpr char kControlProgId[] = "TARVONAACTIVEX.TarvonaActiveXCtrl.1";
constexpr size_t kMaxRequest = 1 << 20;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Creates the control in this process by its ProgID.
class DirectFactory final : public tarvona::host::ControlFactory {
 public:
  std::unique_ptr<tarvona::CTarvonaActiveXCtrl> Create(std::string_view prog_id) override {
    if (!EqualsIgnoringCase(prog_id, kControlProgId)) return nullptr;
    return std::make_unique<tarvona::CTarvonaActiveXCtrl>();
  }
};

int RunLines() {
  DirectFactory factory;
  tarvona::host::HostSession session(factory);
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
