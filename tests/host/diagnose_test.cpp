// tarvona-host --diagnose on an installation made as a user makes one
// (scripts/tarvona-install.sh into a fresh home) with a SoftHSM2 token, an
// NSS store holding a certificate with its key, and an allow-list. Healthy,
// it reports no problem and exits 0; each fault a helpdesk meets is named,
// with its fix, and the exit is 1. The host runs in a mount namespace of its
// own that hides the machine's manifest folders and record, so only what
// the test installed is judged.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/browser_hosts.h"
#include "linux/com/classes_root.h"
#include "testing/nss_database.h"
#include "testing/softhsm_tokens.h"
#include "tests/host/host_fixture.h"

namespace tarvona {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr char kLabel[] = "Diagnose";
// Never to be seen in a report.
constexpr char kUserPin[] = "user-pin-never-shown";
constexpr char kSoPin[] = "so-pin-never-shown";
constexpr char kSite[] = "https://diagnose.example";

// A fresh home with the control installed in it, as the installer leaves it.
class Installation {
 public:
  Installation() {
    char folder[] = "/tmp/tarvona-diagnose-XXXXXX";
    home_ = mkdtemp(folder);
    setenv("HOME", home_.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    const auto installed =
        testing::RunProgram({std::string(TARVONA_SOURCE_DIR) + "/scripts/tarvona-install.sh",
                             "--build", TARVONA_BINARY_DIR});
    EXPECT_EQ(installed.status, 0) << installed.err;
    fs::create_directories(home_ / ".config/tarvona");
    std::ofstream(home_ / ".config/tarvona/allowed-origins") << "# the bank\n" << kSite << "\n";
  }
  ~Installation() {
    unsetenv("TARVONA_FAULT_TOKEN_FLAGS");
    fs::remove_all(home_);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const fs::path& home() const { return home_; }
  fs::path lib() const { return home_ / ".local/share/tarvona/lib"; }
  // The machine's policy file, as the namespace's /etc shows it.
  void SetPolicy(const std::string& text) const {
    fs::create_directories(home_ / "etc/tarvona");
    fs::create_directories(home_ / "etc-work");
    std::ofstream(home_ / "etc/tarvona/policy.json") << text;
  }

  // The report, in the namespace that hides the machine's own files.
  testing::Finished Diagnose(bool as_json) const {
    std::string hide;
    for (const auto& browser : browser_hosts::kLinuxBrowsers) {
      hide += " '" + std::string(browser.machine_folder) + "'";
    }
    hide += " '" + fs::path(linux_com::MachineClassesPath()).parent_path().string() + "'";
    // The machine's /etc/tarvona hidden too, or this home's laid over /etc.
    const std::string etc =
        fs::exists(home_ / "etc")
            ? "mount -t overlay tarvona-diagnose -o lowerdir=/etc,upperdir='" +
                  (home_ / "etc").string() + "',workdir='" + (home_ / "etc-work").string() +
                  "' /etc || exit 97; "
            : "[ ! -d /etc/tarvona ] || mount -t tmpfs tarvona-diagnose /etc/tarvona || exit 97; ";
    const std::string script = "for folder in" + hide +
                               "; do [ ! -d \"$folder\" ] || "
                               "mount -t tmpfs tarvona-diagnose \"$folder\" || exit 97; done; " +
                               etc + "exec \"$@\"";
    std::vector<std::string> argv = {"/usr/bin/unshare",
                                     "--mount",
                                     "--",
                                     "/bin/sh",
                                     "-c",
                                     script,
                                     "sh",
                                     (lib() / "tarvona-host").string(),
                                     "--diagnose"};
    if (as_json) argv.push_back("--json");
    return testing::RunProgram(argv);
  }

 private:
  fs::path home_;
};

class DiagnoseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tokens_ = new testing::SoftHsmTokens();
    serial_ = tokens_->AddToken(kLabel, kUserPin, kSoPin);
    testing::ImportOptions options;
    options.user_pin = kUserPin;
    tokens_->ImportKeyPair(kLabel, "rsa2048", {0x01}, options);
    store_ = new testing::NssDatabase();
    store_->ImportKeyPair("rsa2048");
  }
  static void TearDownTestSuite() {
    delete store_;
    delete tokens_;
  }

  static testing::SoftHsmTokens* tokens_;
  static testing::NssDatabase* store_;
  static std::string serial_;
};

testing::SoftHsmTokens* DiagnoseTest::tokens_ = nullptr;
testing::NssDatabase* DiagnoseTest::store_ = nullptr;
std::string DiagnoseTest::serial_;

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

std::vector<json> Findings(const json& report) {
  std::vector<json> all;
  for (const json& section : report.value("sections", json::array())) {
    for (const json& finding : section["findings"]) all.push_back(finding);
  }
  return all;
}

// The facts of the first finding of `check` that is ok.
json Facts(const std::vector<json>& findings, const std::string& check) {
  for (const json& finding : findings) {
    if (finding["check"] == check && finding["status"] == "ok") {
      return finding.value("facts", json::object());
    }
  }
  ADD_FAILURE() << "no ok finding " << check;
  return json::object();
}

void Rewrite(const fs::path& file, const std::string& from, const std::string& to) {
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << file;
  text.replace(at, from.size(), to);
  std::ofstream(file, std::ios::trunc) << text;
}

// A problem the report must name: where, a part of what it says, a part
// of its fix.
struct Expected {
  std::string check;
  std::string subject;
  std::string text;
  std::string fix;
};

struct Case {
  const char* name;
  std::function<void(const Installation&)> spoil;
  std::vector<Expected> problems;  // none: healthy, exit 0
};

// Each case spoils a fresh installation as it goes wrong in the field, or
// leaves it healthy; the report must name exactly the problems listed, each
// with its fix, in both forms, exit 1 when there are any, and never show a
// PIN or key material.
TEST_F(DiagnoseTest, NamesEachProblemWithItsFix) {
  const std::string install = "scripts/tarvona-install.sh";
  const Case cases[] = {
      {"healthy installation", nullptr, {}},
      {"manifest missing",
       [](const Installation& at) {
         fs::remove(at.home() / ".config/chromium/NativeMessagingHosts/com.tarvona.host.json");
       },
       {{"manifest", "Chromium", "no host manifest where it looks", install}}},
      {"wrong extension ID",
       [](const Installation& at) {
         Rewrite(at.home() / ".config/google-chrome/NativeMessagingHosts/com.tarvona.host.json",
                 "ndclhbempiipciignpnikgelcjcbaane", "abcdefghijklmnopabcdefghijklmnop");
       },
       {{"extension-id", "Chrome", "not the package's extension", install}}},
      {"module file missing",
       [](const Installation& at) { fs::remove(at.lib() / "TarvonaActiveX.ocx"); },
       {{"module-file", "", "TarvonaActiveX.ocx, which does not exist", "tarvona-regsvr"}}},
      {"token with its PIN locked",
       // The fault build's adaptors in place of the shipped ones, their core
       // where their run path looks, report the token's user PIN as locked.
       [](const Installation& at) {
         const fs::path faults = testing::FaultModulesDir();
         for (const char* module : {"Tarvonav4.dll", "Tarvonav5.dll"}) {
           fs::copy_file(faults / module, at.lib() / module, fs::copy_options::overwrite_existing);
         }
         fs::copy_file(faults.parent_path() / "libtarvona-adaptor-faults.so",
                       at.lib().parent_path() / "libtarvona-adaptor-faults.so");
         // 40000: CKF_USER_PIN_LOCKED.
         setenv("TARVONA_FAULT_TOKEN_FLAGS", (std::string(kLabel) + ":40000").c_str(), 1);
       },
       {{"token-pin", "Tarvonav4.dll", "the user PIN is locked", "UnblockUserPin"},
        {"token-pin", "Tarvonav5.dll", "the user PIN is locked", "UnblockUserPin"}}},
      {"bad policy",
       [](const Installation& at) { at.SetPolicy(R"({"ConsentPrompt": "no"})"); },
       {{"machine-policy", "", "ConsentPrompt", "docs/administration.md"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation installation;
    fs::create_directories(installation.home() / ".pki");
    fs::create_directory_symlink(store_->directory(), installation.home() / ".pki/nssdb");
    if (c.spoil) c.spoil(installation);
    const int exit_code = c.problems.empty() ? 0 : 1;
    const auto run = installation.Diagnose(true);
    EXPECT_EQ(ExitCode(run.status), exit_code) << run.out << run.err;
    const json report = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << run.out << run.err;
    const auto text = installation.Diagnose(false);
    EXPECT_EQ(ExitCode(text.status), exit_code) << text.out << text.err;
    const std::vector<json> findings = Findings(report);
    std::vector<json> problems;
    std::copy_if(findings.begin(), findings.end(), std::back_inserter(problems),
                 [](const json& finding) { return finding["status"] == "problem"; });
    ASSERT_EQ(problems.size(), c.problems.size()) << json(problems).dump(1);
    EXPECT_EQ(report["problems"], c.problems.size());
    for (size_t i = 0; i < problems.size(); ++i) {
      const Expected& expected = c.problems[i];
      const std::string said = problems[i]["text"];
      const std::string fix = problems[i].value("fix", "");
      EXPECT_EQ(problems[i]["check"], expected.check);
      EXPECT_EQ(problems[i]["subject"], expected.subject);
      EXPECT_NE(said.find(expected.text), std::string::npos) << said;
      EXPECT_NE(fix.find(expected.fix), std::string::npos) << fix;
      const std::string named = expected.subject.empty() ? said : expected.subject + ": " + said;
      EXPECT_NE(text.out.find("PROBLEM  " + named + "\n           fix: " + fix + "\n"),
                std::string::npos)
          << text.out;
    }
    for (const std::string& out : {run.out, text.out}) {
      for (const char* secret : {"never-shown", "PRIVATE KEY", "BEGIN"}) {
        EXPECT_EQ(out.find(secret), std::string::npos) << secret;
      }
    }
    if (!c.problems.empty()) continue;
    // Healthy, the report says what it found where.
    EXPECT_NE(text.out.find("No problems found"), std::string::npos) << text.out;
    const json record = Facts(findings, "record");
    EXPECT_EQ(record["machine"], false);
    EXPECT_EQ(record["module"], (installation.lib() / "TarvonaActiveX.ocx").string());
    std::set<std::string> browsers;
    for (const json& finding : findings) {
      if (finding["check"] == "manifest") browsers.insert(finding["subject"].get<std::string>());
    }
    EXPECT_EQ(browsers, (std::set<std::string>{"Chromium", "Chrome", "Firefox"}));
    const json token = Facts(findings, "token");
    EXPECT_EQ(token["label"], kLabel);
    EXPECT_EQ(token["serial"], serial_);
    EXPECT_EQ(token["mechanisms"]["CKM_SHA1_RSA_PKCS"], true);
    EXPECT_EQ(
        Facts(findings, "store"),
        (json{{"store", "the NSS database sql:" + (installation.home() / ".pki/nssdb").string()},
              {"certificates", 1},
              {"private_keys", 1},
              {"password", false}}));
    EXPECT_EQ(Facts(findings, "allow-list")["sites"], json::array({kSite}));
  }
}

}  // namespace
}  // namespace tarvona
