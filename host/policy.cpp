#include "host/policy.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "host/origin_policy.h"

namespace tarvona::host {
namespace {

using json = nlohmann::json;

bool Known(std::string_view name) {
  return std::find(std::begin(kPolicySettings), std::end(kPolicySettings), name) !=
         std::end(kPolicySettings);
}

// The origins of a list setting, or a problem.
std::optional<std::vector<std::string>> Origins(const StoredSetting& setting,
                                                const StoredPolicy& stored,
                                                std::vector<std::string>* problems) {
  const std::string prefix = setting.where + ": " + setting.name;
  if (!setting.value.is_array()) {
    problems->push_back(prefix + " must be " + stored.list_form);
    return std::nullopt;
  }
  std::vector<std::string> origins;
  for (const json& entry : setting.value) {
    if (!entry.is_string() || !IsWebOrigin(entry.get<std::string>())) {
      problems->push_back(prefix + ": " + entry.dump(-1, ' ', false, json::error_handler_t::replace) +
                          " is not an origin (scheme://host[:port] of http or https, lower case)");
      return std::nullopt;
    }
    origins.push_back(entry.get<std::string>());
  }
  return origins;
}

std::optional<bool> Switch(const StoredSetting& setting, const StoredPolicy& stored,
                           std::vector<std::string>* problems) {
  if (!setting.value.is_boolean()) {
    problems->push_back(setting.where + ": " + setting.name + " must be " + stored.switch_form);
    return std::nullopt;
  }
  return setting.value.get<bool>();
}

std::string Joined(const std::vector<std::string>& items) {
  if (items.empty()) return "(none)";
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

Policy EvaluatePolicy(const StoredPolicy& stored) {
  Policy policy;
  policy.read_from = stored.read_from;
  policy.notes = stored.notes;
  std::vector<std::string> problems = stored.problems;
  for (const StoredSetting& setting : stored.settings) {
    if (!Known(setting.name)) {
      problems.push_back(setting.where + ": unknown setting \"" + setting.name + "\"");
      continue;
    }
    // Every value is checked, also one that a value before it overrides: a
    // store holding a wrong value is not what its administrator meant.
    const bool first = policy.set_in.emplace(setting.name, setting.where).second;
    if (setting.name == kAllowedOrigins || setting.name == kBlockedOrigins) {
      auto origins = Origins(setting, stored, &problems);
      if (origins && first) {
        (setting.name == kAllowedOrigins ? policy.allowed_origins : policy.blocked_origins) =
            std::move(*origins);
      }
      continue;
    }
    auto value = Switch(setting, stored, &problems);
    if (!value || !first) continue;
    if (setting.name == kConsentPrompt) policy.consent_prompt = *value;
    if (setting.name == kStoreRoad) policy.store_road = *value;
    if (setting.name == kCertificateDialog) policy.certificate_dialog = *value;
  }
  if (!problems.empty()) {
    policy.refuses_every_page = true;
    for (std::string& problem : problems) {
      policy.notes.push_back(std::move(problem));
    }
    policy.notes.push_back("the policy for pages is not valid: every page is refused");
  }
  return policy;
}

Policy ReadMachinePolicy() { return EvaluatePolicy(ReadStoredPolicy()); }

std::vector<std::string> DescribePolicy(const Policy& policy) {
  std::vector<std::string> lines;
  lines.push_back("policy: " + (policy.read_from.empty() ? std::string("none")
                                                          : Joined(policy.read_from)));
  if (policy.refuses_every_page) {
    lines.push_back("every page is refused");
  } else {
    auto line = [&](std::string_view name, const std::string& value) {
      const auto set = policy.set_in.find(name);
      lines.push_back(std::string(name) + ": " + value + " (" +
                      (set == policy.set_in.end() ? std::string("not set") : set->second) + ")");
    };
    auto text = [](bool on) { return std::string(on ? "true" : "false"); };
    line(kAllowedOrigins, Joined(policy.allowed_origins));
    line(kBlockedOrigins, Joined(policy.blocked_origins));
    line(kConsentPrompt, text(policy.consent_prompt));
    line(kStoreRoad, text(policy.store_road));
    line(kCertificateDialog, text(policy.certificate_dialog));
  }
  for (const std::string& note : policy.notes) lines.push_back("note: " + note);
  return lines;
}

}  // namespace tarvona::host
