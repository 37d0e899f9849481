#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "host/origin_policy.h"
#include "platform/child_process.h"
#include "platform/display.h"
#include "platform/own_path.h"

namespace tarvona::host {
namespace {

// Runs tarvona-consent, which sits next to this program, and reads its
// one-word answer. Anything unexpected is a denial. The dialog gets none of
// the browser's message pipes: it could not read or write frames.
class DesktopPrompt final : public ConsentPrompt {
 public:
  DesktopPrompt(std::function<void()> before_showing, int hangup)
      : before_showing_(std::move(before_showing)), hangup_(hangup) {}

  Answer Ask(std::string_view origin) override {
    if (!platform::HasDisplay()) return Answer::kDeny;
    const std::filesystem::path folder = platform::OwnFolder();
    if (folder.empty()) return Answer::kDeny;
    const std::string program = (folder / "tarvona-consent").string();
    const std::string arguments[] = {std::string(origin)};
    if (before_showing_) before_showing_();
    auto outcome = platform::RunChild(program, arguments, {}, 16, hangup_);
    if (!outcome) return Answer::kDeny;
    std::string_view word(outcome->output);
    if (word.starts_with("always")) return Answer::kAllowAlways;
    if (word.starts_with("once")) return Answer::kAllowOnce;
    return Answer::kDeny;
  }

 private:
  std::function<void()> before_showing_;
  int hangup_;
};

}  // namespace

std::unique_ptr<ConsentPrompt> DesktopConsentPrompt(std::function<void()> before_showing,
                                                    int hangup) {
  return std::make_unique<DesktopPrompt>(std::move(before_showing), hangup);
}

}  // namespace tarvona::host
