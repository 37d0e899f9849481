#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/policy.h"

namespace tarvona::host {

// Asks the user whether a web origin may use the tokens and certificates.
class ConsentPrompt {
 public:
  enum class Answer { kDeny, kAllowOnce, kAllowAlways };
  virtual ~ConsentPrompt() = default;
  virtual Answer Ask(std::string_view origin) = 0;
};

// The desktop dialog when a display is available; without one, every
// answer is "deny" at once, never a hang. `before_showing` runs just before
// the dialog appears (the browser road tells the page it is waiting for the
// user's answer). When `hangup` (the host's input) hangs up, the dialog
// closes at once and the answer is "deny": nobody is left to allow.
std::unique_ptr<ConsentPrompt> DesktopConsentPrompt(std::function<void()> before_showing = {},
                                                    int hangup = -1);

// Which page origins may create controls: those on the user's allow-list
// ($XDG_CONFIG_HOME/tarvona/allowed-origins; on Windows
// %APPDATA%\Tarvona\allowed-origins; one origin per line, "#"
// comments), or those the user approves when asked. Pages from files and
// opaque origins ("null") are never allowed. The machine's policy comes
// first: its blocked origins are refused and its allowed ones let in
// before the user's list is read; without its consent dialog, nothing but
// its allowed origins gets in (the user's list holds the dialog's
// answers); a policy that is not valid lets no page in.
class OriginPolicy {
 public:
  OriginPolicy(std::string allow_list_path, std::unique_ptr<ConsentPrompt> prompt,
               Policy machine = {});

  // The allow-list of the current user.
  static std::string DefaultAllowListPath();

  bool Allows(std::string_view origin);

  // The machine's policy, which also rules the store calls of pages.
  const Policy& machine() const { return machine_; }

 private:
  bool Listed(std::string_view origin) const;
  void Remember(std::string_view origin) const;

  std::string allow_list_path_;
  std::unique_ptr<ConsentPrompt> prompt_;
  Policy machine_;
  std::string allowed_once_;  // approved for this host's life only
};

// One entry of an allow-list file, trimmed, with its line number.
struct AllowListEntry {
  int line;
  std::string text;
};
// The entries of the allow-list at `path`, blank lines and "#" comments
// left out; none when there is no such file.
std::vector<AllowListEntry> ReadAllowList(const std::string& path);

// "scheme://host[:port]" of http or https, lower-case scheme and host, no
// path: the only form an allowed origin takes.
bool IsWebOrigin(std::string_view origin);

}  // namespace tarvona::host
