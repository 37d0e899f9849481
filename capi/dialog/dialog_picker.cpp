#include "capi/dialog/dialog_picker.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "capi/dialog/picker_protocol.h"
#include "platform/child_process.h"
#include "platform/display.h"
#include "platform/own_path.h"

namespace tarvona::capi {
namespace {

// Runs the program for `request`, after `arguments` of its own.
std::optional<platform::ChildOutcome> RunDialog(const Request& request,
                                                std::vector<std::string> arguments,
                                                std::string_view input, size_t output_limit) {
  arguments.insert(arguments.end(), {"--for", dialog::PurposeWord(request.purpose)});
  if (!request.requester.empty()) arguments.insert(arguments.end(), {"--from", request.requester});
  return platform::RunChild((platform::OwnFolder() / DialogPicker::kProgramName).string(),
                            arguments, input, output_limit, request.hangup);
}

}  // namespace

std::optional<size_t> DialogPicker::Pick(std::span<const CertificateSummary> certificates) {
  return PickFor(Request{}, certificates);
}

std::optional<size_t> DialogPicker::PickFor(const Request& request,
                                            std::span<const CertificateSummary> certificates) {
  if (certificates.empty() || !platform::HasDisplay()) return std::nullopt;
  std::string input;
  for (const CertificateSummary& summary : certificates) input += dialog::EncodeLine(summary);
  // The answer is an index: a few digits and a line end.
  auto outcome = RunDialog(request, {}, input, 64);
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
std::optional<std::string> DialogPicker::AskPassword(const Request& request, std::string_view store,
                                                     int attempt) {
  if (!platform::HasDisplay()) return std::nullopt;
  auto outcome =
      RunDialog(request, {"--password", std::string(store), "--attempt", std::to_string(attempt)},
                {}, dialog::kPasswordLimit);
  if (!outcome || outcome->exit_code != dialog::kExitChosen) return std::nullopt;
  return std::move(outcome->output);
}

}  // namespace tarvona::capi
