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
//                          page left) while a call runs, the host ends at
//                          once, and every dialog it shows closes with it;
//                          between calls, it ends at the end of its input.
//                          The machine's policy for pages (host/policy.h)
//                          comes first; what it says is wrong goes to
//                          stderr, and then no page gets in.
//   tarvona-host --diagnose [--json]
//                          what support needs to see when it does not work:
//                          the installation, registration, browsers, token
//                          modules, store and policy, each problem with its
//                          fix, as text or one JSON object; exits 1 when
//                          something on the road is broken (docs/diagnostics.md).
// On Linux, controls are created from the registration record, as
// tarvona-regsvr writes it: the user's classes file
// ($XDG_DATA_HOME/tarvona/classes.reg) first, then the machine's
// (/var/lib/tarvona/classes.reg). On Windows (tarvona-host.exe) they are
// created by COM itself (CoCreateInstance) from the registry, and
//   tarvona-host --register | --unregister [--machine]
// writes or removes the browsers' entries for this host for the user, or
// with --machine (an administrator) for every user.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "host/diagnose.h"
#include "host/host_session.h"
#include "host/line_reader.h"
#include "host/native_messaging.h"
#include "host/origin_policy.h"
#include "host/platform_host.h"
#include "host/policy.h"
#include "platform/hangup.h"

namespace {

constexpr size_t kMaxRequest = 1 << 20;
// The host's input, which the browser hangs up when the page goes.
constexpr int kInput = 0;

int RunLines() {
  auto controls = tarvona::host::OpenPlatformControls();
  tarvona::host::HostSession session(controls->host());
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
    controls->Pump();
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
      {"error", {{"name", "E_FAIL"}, {"message", "the result is larger than a browser accepts"}}}};
  return tarvona::host::Serialize(error);
}

int RunNativeMessaging() {
  auto controls = tarvona::host::OpenPlatformControls();
  // The machine's policy for pages comes before the user's own settings.
  tarvona::host::Policy policy = tarvona::host::ReadMachinePolicy();
  for (const std::string& note : policy.notes) {
    std::fprintf(stderr, "tarvona-host: %s\n", note.c_str());
  }
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
          kInput),
      std::move(policy));
  tarvona::host::HostSession session(controls->host(), &origins, kInput);
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
    std::string response;
    {
      // Nothing below the control times out: a card or reader that stops
      // answering holds the call, and the reader's lock, for ever. Once the
      // browser hangs up, nobody is left for the answer, and only the
      // host's end lets the reader go.
      const tarvona::platform::EndOnHangup watch(kInput);
      response = session.HandleText(request);
    }
    if (!tarvona::host::WriteFrame(stdout, Bounded(std::move(response), request))) return 0;
    controls->Pump();
  }
}

}  // namespace

int main(int argc, char** argv) {
  tarvona::host::PrepareStandardStreams();
  if (auto code = tarvona::host::RunPlatformMode(argc, argv)) return *code;
  if (argc == 2 && std::strcmp(argv[1], "--lines") == 0) return RunLines();
  const bool diagnose = argc >= 2 && std::strcmp(argv[1], "--diagnose") == 0;
  const bool json = argc == 3 && std::strcmp(argv[2], "--json") == 0;
  if (diagnose && (argc == 2 || json)) return tarvona::host::diagnose::Run(json);
  if (diagnose || (argc == 2 && std::strcmp(argv[1], "--help") == 0)) {
    std::fprintf(stderr, "usage: %s --lines | %s --diagnose [--json] | %s [browser arguments]\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  return RunNativeMessaging();
}
