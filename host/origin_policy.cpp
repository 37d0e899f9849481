#include "host/origin_policy.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/platform_host.h"
#include "platform/user_folders.h"

namespace tarvona::host {
namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool IsWebOrigin(std::string_view origin) {
  std::string_view rest;
  if (origin.starts_with("https://")) {
    rest = origin.substr(8);
  } else if (origin.starts_with("http://")) {
    rest = origin.substr(7);
  } else {
    return false;
  }
  if (rest.empty() || rest.size() > 255) return false;
  const bool bracketed = rest.front() == '[';  // an IPv6 address
  size_t host_end = bracketed ? rest.find(']') : rest.find(':');
  if (bracketed && host_end++ == std::string_view::npos) return false;
  std::string_view host = rest.substr(0, host_end);
  std::string_view port = host_end == std::string_view::npos ? "" : rest.substr(host_end);
  auto host_char = [bracketed](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           (bracketed && (c == ':' || c == '[' || c == ']'));
  };
  if (host.empty() || !std::all_of(host.begin(), host.end(), host_char)) return false;
  if (port.empty()) return true;
  return port.size() >= 2 && port.size() <= 6 && port.front() == ':' &&
         std::all_of(port.begin() + 1, port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

OriginPolicy::OriginPolicy(std::string allow_list_path, std::unique_ptr<ConsentPrompt> prompt,
                           Policy machine)
    : allow_list_path_(std::move(allow_list_path)),
      prompt_(std::move(prompt)),
      machine_(std::move(machine)) {}

std::string OriginPolicy::DefaultAllowListPath() {
  std::filesystem::path config = platform::UserConfigFolder();
  return config.empty() ? std::string() : (config / kAllowListName).string();
}

std::vector<AllowListEntry> ReadAllowList(const std::string& path) {
  std::vector<AllowListEntry> entries;
  std::ifstream list(path);
  int number = 0;
  for (std::string line; std::getline(list, line);) {
    ++number;
    std::string_view entry = Trim(line);
    if (!entry.empty() && entry.front() != '#') entries.push_back({number, std::string(entry)});
  }
  return entries;
}

bool OriginPolicy::Listed(std::string_view origin) const {
  const std::vector<AllowListEntry> entries = ReadAllowList(allow_list_path_);
  return std::any_of(entries.begin(), entries.end(),
                     [&](const AllowListEntry& entry) { return entry.text == origin; });
}

void OriginPolicy::Remember(std::string_view origin) const {
  std::filesystem::path path(allow_list_path_);
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  AppendLine(path, std::string(origin) + "\n");
}

bool OriginPolicy::Allows(std::string_view origin) {
  if (machine_.refuses_every_page || !IsWebOrigin(origin)) return false;
  auto in = [origin](const std::vector<std::string>& origins) {
    return std::find(origins.begin(), origins.end(), origin) != origins.end();
  };
  if (in(machine_.blocked_origins)) return false;
  if (in(machine_.allowed_origins)) return true;
  if (!machine_.consent_prompt) return false;
  if (origin == allowed_once_ || Listed(origin)) return true;
  if (prompt_ == nullptr) return false;
  switch (prompt_->Ask(origin)) {
    case ConsentPrompt::Answer::kAllowAlways:
      Remember(origin);
      return true;
    case ConsentPrompt::Answer::kAllowOnce:
      allowed_once_ = origin;
      return true;
    case ConsentPrompt::Answer::kDeny:
      return false;
  }
  return false;
}

}  // namespace tarvona::host
