#include "capi/dialog/dialog_picker.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "capi/dialog/picker_protocol.h"
#include "platform/child_process.h"
#include "platform/own_path.h"

namespace tarvona::capi {
namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

std::optional<size_t> DialogPicker::Pick(std::span<const CertificateSummary> certificates) {
  if (certificates.empty() || !HasDisplay()) return std::nullopt;
  std::string input;
  for (const CertificateSummary& summary : certificates) input += dialog::EncodeLine(summary);
  // The answer is an index: a few digits and a line end.
  auto outcome = platform::RunChild((platform::OwnFolder() / kProgramName).string(), {}, input, 64);
  if (!outcome || outcome->exit_code != dialog::kExitChosen) return std::nullopt;
  const std::string& output = outcome->output;
  size_t index = 0;
  const char* end = output.data() + output.size();
  auto [rest, error] = std::from_chars(output.data(), end, index);
  if (error != std::errc() || rest == output.data() || (rest != end && *rest != '\n') ||
      index >= certificates.size()) {
    return std::nullopt;
  }
  return index;
}

}  // namespace tarvona::capi
