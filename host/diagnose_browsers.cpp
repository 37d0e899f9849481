// The browsers' host manifests: the one each browser finds first, held
// against what the installation writes.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/browser_hosts.h"
#include "host/diagnose.h"
#include "host/diagnose_platform.h"

namespace tarvona::host::diagnose {
namespace {

using json = nlohmann::ordered_json;
namespace hosts = browser_hosts;

// Far larger than any host manifest: a file beyond it is no manifest.
constexpr std::streamsize kMostManifest = 64 * 1024;

// A manifest at `place` for `browser`, held against what the installation
// writes.
void CheckManifest(Section& section, const BrowserPlaces& browser, const ManifestPlace& place,
                   const Remedies& remedies) {
  const std::string file = PathText(place.file);
  const auto problem = [&](std::string check, std::string text) -> Finding& {
    Finding& finding = section.Problem(std::move(check), browser.browser, std::move(text),
                                       remedies.register_browsers);
    finding.facts = {{"entry", place.entry}, {"whose", place.whose}, {"manifest", file}};
    return finding;
  };
  if (place.file.empty()) {
    problem("manifest", place.entry + " names no manifest");
    return;
  }
  std::ifstream in(place.file, std::ios::binary);
  if (!in) {
    problem("manifest",
            place.entry +
                (place.entry == file ? std::string() : " names the manifest " + file + ", which") +
                " cannot be read");
    return;
  }
  std::string text(kMostManifest + 1, '\0');
  in.read(text.data(), kMostManifest + 1);
  text.resize(static_cast<size_t>(in.gcount()));
  const json manifest =
      text.size() > static_cast<size_t>(kMostManifest) ? json() : json::parse(text, nullptr, false);
  if (!manifest.is_object()) {
    problem("manifest", file + " (" + place.whose + ") is not a JSON manifest");
    return;
  }
  const auto text_of = [&](const char* key) {
    const auto found = manifest.find(key);
    return found != manifest.end() && found->is_string() ? found->get<std::string>()
                                                         : std::string();
  };
  if (const std::string name = text_of("name"); name != hosts::kHostName) {
    problem("manifest",
            file + " is for the host " + Quoted(name) + ", not " + Quoted(hosts::kHostName));
    return;
  }
  const std::string host = text_of("path");
  std::filesystem::path host_path = std::filesystem::u8path(host);
  if (host.empty() || (host_path.is_relative() && !HostPathMayBeRelative())) {
    problem("manifest-host",
            file + " names no host by its full path (\"path\": " + Quoted(host) + ")");
    return;
  }
  if (host_path.is_relative()) host_path = place.file.parent_path() / host_path;
  std::error_code error;
  if (!std::filesystem::is_regular_file(host_path, error)) {
    problem("manifest-host",
            file + " names the host " + PathText(host_path) + ", which does not exist");
    return;
  }
  if (text_of("type") != "stdio") {
    problem("manifest", file + " does not say \"type\": \"stdio\"");
    return;
  }
  const char* key = browser.firefox ? "allowed_extensions" : "allowed_origins";
  const std::string expected(browser.firefox ? hosts::kFirefoxId : hosts::kChromiumOrigin);
  std::vector<std::string> allowed;
  if (const auto list = manifest.find(key); list != manifest.end() && list->is_array()) {
    for (const json& entry : *list) {
      if (entry.is_string()) allowed.push_back(entry.get<std::string>());
    }
  }
  if (std::find(allowed.begin(), allowed.end(), expected) == allowed.end()) {
    std::vector<std::string> quoted;
    std::transform(allowed.begin(), allowed.end(), std::back_inserter(quoted), Quoted);
    problem("extension-id",
            file + " allows " +
                (quoted.empty() ? std::string("no extension") : Joined(quoted, ", ")) +
                ", not the package's extension " + Quoted(expected))
        .facts["allowed"] = allowed;
    return;
  }
  section
      .Ok("manifest", browser.browser,
          file + " (" + place.whose + ") names the host " + PathText(host_path) + " and allows " +
              Quoted(expected))
      .facts = {{"entry", place.entry},
                {"whose", place.whose},
                {"manifest", file},
                {"host", PathText(host_path)},
                {"allowed", allowed}};
}

}  // namespace

void CheckBrowsers(Report& report) {
  Section& section = report.In("Browsers");
  const Remedies remedies = RemediesHere();
  for (const BrowserPlaces& browser : ManifestPlaces()) {
    const auto found = std::find_if(browser.places.begin(), browser.places.end(),
                                    [](const ManifestPlace& place) { return place.holds; });
    if (found == browser.places.end()) {
      std::vector<std::string> looked;
      for (const ManifestPlace& place : browser.places) looked.push_back(place.entry);
      section
          .Problem("manifest", browser.browser,
                   "no host manifest where it looks: " + Joined(looked, ", then "),
                   remedies.register_browsers)
          .facts = {{"looked", looked}};
      continue;
    }
    CheckManifest(section, browser, *found, remedies);
  }
}

}  // namespace tarvona::host::diagnose
