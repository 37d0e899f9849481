#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace tarvona::host {

// The settings an administrator sets for every user's pages, by name.
//   AllowedOrigins     origins let in without asking
//   BlockedOrigins     origins always refused, whatever else lets them in
//   ConsentPrompt      false: no consent dialog; only AllowedOrigins get in
//   StoreRoad          false: the store methods answer pages as an empty
//                      store does
//   CertificateDialog  false: certificate source 0 (the selection dialog) is
//                      refused to pages
// A setting left out keeps the host's own behaviour.
inline constexpr std::string_view kAllowedOrigins = "AllowedOrigins";
inline constexpr std::string_view kBlockedOrigins = "BlockedOrigins";
inline constexpr std::string_view kConsentPrompt = "ConsentPrompt";
inline constexpr std::string_view kStoreRoad = "StoreRoad";
inline constexpr std::string_view kCertificateDialog = "CertificateDialog";
inline constexpr std::string_view kPolicySettings[] = {
    kAllowedOrigins, kBlockedOrigins, kConsentPrompt, kStoreRoad, kCertificateDialog};

// The machine's policy for pages, as the host applies it before the user's
// own settings.
struct Policy {
  std::vector<std::string> allowed_origins;
  std::vector<std::string> blocked_origins;
  bool consent_prompt = true;
  bool store_road = true;
  bool certificate_dialog = true;
  // The policy could not be read, or is not valid: rather than guess what
  // the administrator meant, the host lets no page in.
  bool refuses_every_page = false;

  // Where the policy was read; empty when the machine has none.
  std::vector<std::string> read_from;
  // The settings given, each with the place it came from.
  std::map<std::string, std::string, std::less<>> set_in;
  // What the host tells on standard error: each problem, a policy ignored.
  std::vector<std::string> notes;
};

// One value as the platform keeps it, in JSON's terms: the file's own JSON
// on Linux; on Windows a REG_MULTI_SZ is an array of strings, a REG_DWORD
// of 0 or 1 false or true, any other DWORD its number, a REG_SZ a string
// and any other type null.
struct StoredSetting {
  std::string name;
  nlohmann::json value;
  std::string where;  // the file, or the key, where it was found
};

// The policy as the platform's store holds it, before it is checked.
struct StoredPolicy {
  // Of two settings with one name, the first wins.
  std::vector<StoredSetting> settings;
  std::vector<std::string> read_from;
  // Reasons the store could not be read: each refuses every page.
  std::vector<std::string> problems;
  // Told, but no problem (a file ignored).
  std::vector<std::string> notes;
  // How a list and a switch are written in this store, for the messages.
  std::string list_form;
  std::string switch_form;
};

// The platform's store (policy_file_posix.cpp: /etc/tarvona/policy.json;
// windows/host/policy_registry_win32.cpp: HKLM, then HKCU,
// \Software\Policies\Tarvona).
StoredPolicy ReadStoredPolicy();

// Checks every stored setting: an unknown name, a value of the wrong form
// or an entry that is not an origin ("scheme://host[:port]", lower case)
// makes the policy refuse every page, as a store that could not be read
// does.
Policy EvaluatePolicy(const StoredPolicy& stored);

// The machine's policy: ReadStoredPolicy, then EvaluatePolicy.
Policy ReadMachinePolicy();

// The policy in effect as text lines: where it was read, each setting with
// its value and origin, and the notes.
std::vector<std::string> DescribePolicy(const Policy& policy);

}  // namespace tarvona::host
