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

#include "com/registry.h"
#include "host/com_activation.h"
#include "host/emulated_control_host.h"
#include "host/host_session.h"
#include "host/native_messaging.h"
#include "host/origin_policy.h"
#include "platform/dynamic_library.h"

namespace {

class Deny final : public tarvona::host::ConsentPrompt {
 public:
  Answer Ask(std::string_view) override { return Answer::kDeny; }
};

void Check(const std::string& response) {
  auto parsed = nlohmann::json::parse(response, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("id")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tarvona::com::MemoryRegistry registry;
  static tarvona::host::ComActivator activator(registry,
                                               tarvona::platform::SystemLibraryLoader());
  static tarvona::host::EmulatedControlHost controls(activator);
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
