// The host's request handling in both framings: lines (one request per
// input) and native-messaging frames read from the input. No class is
// registered, so "create" fails its own way; every request must end in one
// well-formed JSON response and the framing must never read outside the
// input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "host/control_host.h"
#include "host/host_session.h"
#include "host/native_messaging.h"
#include "host/origin_policy.h"

namespace {

class Deny final : public tarvona::host::ConsentPrompt {
 public:
  Answer Ask(std::string_view) override { return Answer::kDeny; }
};

// COM with no class registered.
class NoClasses final : public tarvona::host::ControlHost {
 public:
  tarvona::host::Outcome Create(const std::string& prog_id, const std::string*, int,
                                std::unique_ptr<tarvona::host::HostedControl>*) override {
    return {tarvona::host::status::kClassNotRegistered, "class not registered: " + prog_id};
  }
};

void Check(const std::string& response) {
  auto parsed = nlohmann::json::parse(response, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("id")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NoClasses controls;
  tarvona::host::OriginPolicy origins("/nonexistent/allowed-origins", std::make_unique<Deny>());
  tarvona::host::HostSession lines(controls);
  tarvona::host::HostSession framed(controls, &origins);

  std::string text(reinterpret_cast<const char*>(data), size);
  Check(lines.HandleText(text));

  std::FILE* in = fmemopen(text.data(), text.size(), "rb");
  if (in == nullptr) return 0;
  std::string request;
  while (tarvona::host::ReadFrame(in, request) == tarvona::host::FrameStatus::kFrame) {
    if (request.empty() || request.size() > tarvona::host::kMaxRequestFrame) std::abort();
    Check(framed.HandleText(request));
  }
  std::fclose(in);
  return 0;
}
