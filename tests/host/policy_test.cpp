#include "host/policy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tarvona {
namespace {

using nlohmann::json;

host::StoredPolicy Stored(std::vector<host::StoredSetting> settings) {
  host::StoredPolicy stored;
  stored.settings = std::move(settings);
  stored.read_from = {"HKLM", "HKCU"};
  stored.list_form = "a list";
  stored.switch_form = "a switch";
  return stored;
}

TEST(PolicyTest, ValuesAreCheckedAndTheFirstOfANameWins) {
  struct Case {
    const char* what;
    std::vector<host::StoredSetting> settings;
    const char* problem;  // nullptr: a valid policy
  };
  const Case cases[] = {
      {"nothing set", {}, nullptr},
      {"every setting",
       {{"AllowedOrigins", {"https://corp.example", "http://localhost:8000"}, "HKLM"},
        {"BlockedOrigins", json::array(), "HKLM"},
        {"ConsentPrompt", false, "HKLM"},
        {"StoreRoad", false, "HKLM"},
        {"CertificateDialog", false, "HKLM"}},
       nullptr},
      {"the machine's value over the user's",
       {{"ConsentPrompt", true, "HKLM"}, {"ConsentPrompt", false, "HKCU"}},
       nullptr},
      {"an unknown name", {{"ConsentPrompts", false, "HKLM"}}, "HKLM: unknown setting \"ConsentPrompts\""},
      {"a name in another case", {{"consentprompt", false, "HKLM"}}, "unknown setting"},
      {"a switch as a number", {{"StoreRoad", 0, "HKLM"}}, "HKLM: StoreRoad must be a switch"},
      {"a switch as text", {{"StoreRoad", "false", "HKLM"}}, "StoreRoad must be a switch"},
      {"a list as text", {{"AllowedOrigins", "https://corp.example", "HKLM"}},
       "HKLM: AllowedOrigins must be a list"},
      {"a number in a list", {{"BlockedOrigins", {1}, "HKLM"}}, "BlockedOrigins: 1 is not an origin"},
      {"a path", {{"AllowedOrigins", {"https://corp.example/"}, "HKLM"}}, "is not an origin"},
      {"upper case", {{"AllowedOrigins", {"https://Corp.example"}, "HKLM"}}, "is not an origin"},
      {"an empty entry", {{"BlockedOrigins", {""}, "HKLM"}}, "\"\" is not an origin"},
      {"a bad value overridden", {{"StoreRoad", true, "HKLM"}, {"StoreRoad", 2, "HKCU"}},
       "HKCU: StoreRoad must be a switch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::Policy policy = host::EvaluatePolicy(Stored(c.settings));
    EXPECT_EQ(policy.refuses_every_page, c.problem != nullptr);
    std::string notes;
    for (const std::string& note : policy.notes) notes += note + "\n";
    if (c.problem != nullptr) {
      EXPECT_NE(notes.find(c.problem), std::string::npos) << notes;
      EXPECT_NE(notes.find("every page is refused"), std::string::npos) << notes;
    } else {
      EXPECT_EQ(notes, "");
    }
  }

  host::Policy machine_first = host::EvaluatePolicy(Stored(
      {{"ConsentPrompt", true, "HKLM"}, {"ConsentPrompt", false, "HKCU"},
       {"AllowedOrigins", {"https://user.example"}, "HKCU"}}));
  EXPECT_TRUE(machine_first.consent_prompt);
  EXPECT_EQ(machine_first.allowed_origins, std::vector<std::string>{"https://user.example"});
  EXPECT_EQ(machine_first.set_in.at("ConsentPrompt"), "HKLM");
  EXPECT_EQ(machine_first.set_in.at("AllowedOrigins"), "HKCU");

  host::StoredPolicy unreadable = Stored({{"ConsentPrompt", false, "HKLM"}});
  unreadable.problems = {"HKCU cannot be read: Access denied"};
  EXPECT_TRUE(host::EvaluatePolicy(unreadable).refuses_every_page);
}

TEST(PolicyTest, TheDescriptionShowsWhatIsInEffectAndWhereItCameFrom) {
  auto lines = [](const host::Policy& policy) {
    std::string text;
    for (const std::string& line : host::DescribePolicy(policy)) text += line + "\n";
    return text;
  };
  EXPECT_EQ(lines(host::EvaluatePolicy(Stored({{"AllowedOrigins", {"https://a.example", "https://b.example"}, "HKLM"},
                                                {"StoreRoad", false, "HKCU"}}))),
            "policy: HKLM, HKCU\n"
            "AllowedOrigins: https://a.example, https://b.example (HKLM)\n"
            "BlockedOrigins: (none) (not set)\n"
            "ConsentPrompt: true (not set)\n"
            "StoreRoad: false (HKCU)\n"
            "CertificateDialog: true (not set)\n");
  EXPECT_EQ(lines(host::EvaluatePolicy(host::StoredPolicy{})).substr(0, 13), "policy: none\n");
  const std::string broken = lines(host::EvaluatePolicy(Stored({{"Other", 1, "HKLM"}})));
  EXPECT_EQ(broken,
            "policy: HKLM, HKCU\n"
            "every page is refused\n"
            "note: HKLM: unknown setting \"Other\"\n"
            "note: the policy for pages is not valid: every page is refused\n");
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Matches(const std::string& text, const std::string& pattern) {
  std::set<std::string> found;
  const std::regex expression(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
       it != std::sregex_iterator(); ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

// Group Policy writes what the host reads: the template's values are the
// host's settings, each of its form, under the host's key, and every text
// the template names is in its English resources (the editor shows a
// template with a missing one as broken).
TEST(PolicyTemplateTest, WritesTheHostsSettingsAndNamesOnlyTextsItHas) {
  const std::string admx = Slurp(TARVONA_SOURCE_DIR "/windows/installer/tarvona.admx");
  const std::string adml = Slurp(TARVONA_SOURCE_DIR "/windows/installer/en-US/tarvona.adml");
  const std::set<std::string> settings(std::begin(host::kPolicySettings),
                                       std::end(host::kPolicySettings));
  const std::set<std::string> lists = {std::string(host::kAllowedOrigins),
                                       std::string(host::kBlockedOrigins)};
  EXPECT_EQ(Matches(admx, R"re(valueName="([^"]*)")re"), settings);
  EXPECT_EQ(Matches(admx, R"re(<multiText id="[^"]*" valueName="([^"]*)")re"), lists);
  EXPECT_EQ(Matches(admx, R"re(key="([^"]*)")re"), std::set<std::string>{"Software\\Policies\\Tarvona"});
  // Each switch: enabled 1, disabled 0, as REG_DWORD.
  const std::regex switch_policy(
      R"re(valueName="([^"]*)">\s*<parentCategory[^>]*>\s*<supportedOn[^>]*>\s*)re"
      R"re(<enabledValue><decimal value="1" /></enabledValue>\s*)re"
      R"re(<disabledValue><decimal value="0" /></disabledValue>)re");
  std::set<std::string> switches;
  for (auto it = std::sregex_iterator(admx.begin(), admx.end(), switch_policy);
       it != std::sregex_iterator(); ++it) {
    switches.insert((*it)[1]);
  }
  std::set<std::string> expected_switches;
  for (const std::string& setting : settings) {
    if (!lists.contains(setting)) expected_switches.insert(setting);
  }
  EXPECT_EQ(switches, expected_switches);

  const std::set<std::string> strings = Matches(adml, R"re(<string id="([^"]*)")re");
  for (const std::string& used : Matches(admx, R"re(\$\(string\.([^)]*)\))re")) {
    EXPECT_TRUE(strings.contains(used)) << used;
  }
  EXPECT_EQ(Matches(admx, R"re(\$\(presentation\.([^)]*)\))re"),
            Matches(adml, R"re(<presentation id="([^"]*)")re"));
  EXPECT_EQ(Matches(admx, R"re(<multiText id="([^"]*)")re"),
            Matches(adml, R"re(<multiTextBox refId="([^"]*)")re"));
}

}  // namespace
}  // namespace tarvona
