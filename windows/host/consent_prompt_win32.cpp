#include <windows.h>
//
#include <commctrl.h>

#include <string>
#include <utility>

#include "common/translatable.h"
#include "host/consent_texts.h"
#include "host/origin_policy.h"
#include "host/wide_text.h"
#include "platform/hangup.h"
#include "platform/translation.h"

namespace tarvona::host {
namespace {

enum : int { kDeny = 100, kAllowOnce = 101, kAllowAlways = 102 };

// A session that can show windows to someone: services and other
// non-interactive window stations get no dialog, only "deny".
bool InteractiveDesktop() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (station == nullptr ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// A label in the user's language, its access key marked as Windows marks
// it: the catalogues mark it as GTK does (host/consent_texts.h).
std::wstring ButtonLabel(const char* english) {
  std::string label = platform::Translate(english);
  for (char& c : label) {
    if (c == '_') c = '&';
  }
  return OleFromUtf8(label);
}

// The task dialog, in the user's language: Deny is the default button and
// Escape denies. The timer callback watches the browser's pipe and denies
// when it hangs up.
class TaskDialogPrompt final : public ConsentPrompt {
 public:
  TaskDialogPrompt(std::function<void()> before_showing, int hangup)
      : before_showing_(std::move(before_showing)), hangup_(hangup) {}

  Answer Ask(std::string_view origin) override {
    if (!InteractiveDesktop() || platform::HungUp(hangup_)) return Answer::kDeny;
    namespace texts = consent_texts;
    const std::wstring question =
        OleFromUtf8(FillIn(platform::Translate(texts::kQuestion), {origin}));
    const std::wstring detail = OleFromUtf8(platform::Translate(texts::kDetail));
    const std::wstring labels[] = {ButtonLabel(texts::kDeny), ButtonLabel(texts::kAllowOnce),
                                   ButtonLabel(texts::kAlwaysAllow)};
    const TASKDIALOG_BUTTON buttons[] = {{kDeny, labels[0].c_str()},
                                         {kAllowOnce, labels[1].c_str()},
                                         {kAllowAlways, labels[2].c_str()}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_CALLBACK_TIMER;
    config.pszWindowTitle = L"Tarvona";
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszMainInstruction = question.c_str();
    config.pszContent = detail.c_str();
    config.cButtons = ARRAYSIZE(buttons);
    config.pButtons = buttons;
    config.nDefaultButton = kDeny;
    config.pfCallback = &TaskDialogPrompt::Callback;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(this);
    int pressed = kDeny;
    if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr))) return Answer::kDeny;
    if (pressed == kAllowAlways) return Answer::kAllowAlways;
    if (pressed == kAllowOnce) return Answer::kAllowOnce;
    return Answer::kDeny;
  }

 private:
  static HRESULT CALLBACK Callback(HWND window, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
    auto* self = reinterpret_cast<TaskDialogPrompt*>(data);
    // Told once the dialog exists: where no window can be made, the page
    // hears the denial only.
    if (notification == TDN_CREATED && self->before_showing_) self->before_showing_();
    if (notification == TDN_TIMER && platform::HungUp(self->hangup_)) {
      SendMessageW(window, TDM_CLICK_BUTTON, kDeny, 0);
    }
    return S_OK;
  }

  std::function<void()> before_showing_;
  int hangup_;
};

}  // namespace

std::unique_ptr<ConsentPrompt> DesktopConsentPrompt(std::function<void()> before_showing,
                                                    int hangup) {
  return std::make_unique<TaskDialogPrompt>(std::move(before_showing), hangup);
}

}  // namespace tarvona::host
