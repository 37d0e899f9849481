// tarvona-host: hosts controls for programs and browsers that speak JSON.
//   tarvona-host --lines   one JSON request per line on stdin, one response
//                          per line on stdout; end of input ends the host.
//   tarvona-host [ARGS]    a browser's native-messaging host: requests and
//                          responses in frames (a 32-bit length in native
//                          byte order, then UTF-8 JSON). The browser's own
//                          arguments (the extension's origin) are ignored.
//                          Only page origins the user allows may create
//                          controls; while the consent dialog asks the
//                          user, the host sends {"id":null,"status":
//                          "waiting-for-permission"}. stdout carries frames
//                          only. When the browser hangs up (tab closed,
//                          page left), every dialog the host shows closes
//                          at once, even within a call.
// Controls are created from the registration record, as tarvona-regsvr
// writes it: the user's classes file ($XDG_DATA_HOME/tarvona/classes.reg)
// first, then the machine's (/var/lib/tarvona/classes.reg).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "com/classes_root.h"
#include "host/com_activation.h"
#include "host/host_session.h"
#include "host/line_reader.h"
#include "host/native_messaging.h"
#include "host/origin_policy.h"
#include "platform/dynamic_library.h"

namespace {

constexpr size_t kMaxRequest = 1 << 20;

int RunLines() {
  const tarvona::com::ClassesRoot registry;
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

// A response the browser would refuse (over its 1 MB cap) becomes an error
// for the same request.
std::string Bounded(std::string response, const std::string& request_text) {
  if (response.size() <= tarvona::host::kMaxResponseFrame) return response;
  auto request = nlohmann::ordered_json::parse(request_text, nullptr, false);
  nlohmann::ordered_json error = {
      {"id", request.is_object() && request.contains("id") ? request["id"] : nullptr},
      {"error",
       {{"name", "E_FAIL"}, {"message", "the result is larger than a browser accepts"}}}};
  return tarvona::host::Serialize(error);
}

int RunNativeMessaging() {
  // A browser that has gone away shows as a failed write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  const tarvona::com::ClassesRoot registry;
  tarvona::host::ComActivator activator(registry, tarvona::platform::SystemLibraryLoader());
  // While the consent dialog waits for the user, the page says so. The
  // frame has no request id: pages that do not know it pass it by.
  // The browser hangs up the host's input when the page goes; the dialogs
  // watch it, without reading it, and close then.
  tarvona::host::OriginPolicy origins(
      tarvona::host::OriginPolicy::DefaultAllowListPath(),
      tarvona::host::DesktopConsentPrompt(
          [] {
            tarvona::host::WriteFrame(stdout, R"({"id":null,"status":"waiting-for-permission"})");
          },
          STDIN_FILENO));
  tarvona::host::HostSession session(activator, &origins, STDIN_FILENO);
  std::string request;
  for (;;) {
    switch (tarvona::host::ReadFrame(stdin, request)) {
      case tarvona::host::FrameStatus::kEnd:
        return 0;
      case tarvona::host::FrameStatus::kMalformed:
        std::fprintf(stderr, "tarvona-host: malformed frame; ending\n");
        return 1;
      case tarvona::host::FrameStatus::kFrame:
        break;
    }
    if (!tarvona::host::WriteFrame(stdout, Bounded(session.HandleText(request), request))) {
      return 0;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--lines") == 0) return RunLines();
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(stderr, "usage: %s --lines | %s [browser arguments]\n", argv[0], argv[0]);
    return 2;
  }
  return RunNativeMessaging();
}
