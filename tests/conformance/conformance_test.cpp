// The conformance vectors on Linux: every group of vectors.js on a control
// created by tarvona-host --lines through its registration record, its
// token a SoftHSM2 token, its store an NSS database under a home of the
// test's own. The same table runs under Wine from JScript against the
// Windows build (tests/windows/jscript/).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "control/method_metadata.h"
#include "encoding/hex.h"
#include "testing/host_lines_client.h"
#include "testing/nss_database.h"
#include "testing/softhsm_tokens.h"
#include "testing/xvfb_display.h"
#include "tests/conformance/conformance_table.h"
#include "tests/host/host_fixture.h"

namespace tarvona::conformance {
namespace {

const json& Table() {
  static const json table = LoadTable(TARVONA_VECTORS_PATH);
  return table;
}

std::vector<std::string> GroupNames() {
  std::vector<std::string> names;
  for (const json& group : Table()["groups"]) names.push_back(group["name"]);
  return names;
}

const json& GroupNamed(const std::string& name) {
  for (const json& group : Table()["groups"]) {
    if (group["name"] == name) return group;
  }
  throw std::runtime_error("no group " + name);
}

// The title of the store's selection dialog for a call (its purpose).
std::string DialogTitle(const std::string& call) {
  if (call == "SignByCSP") return "A program wants to sign with one of your certificates";
  if (call == "DecryptByCSP") return "A program wants to decrypt with one of your certificates";
  return "A program wants to use one of your certificates";
}

class ConformanceTest : public testing::RegisteredModuleTest,
                        public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    const json& fixture = Table()["fixture"];
    for (const json& token : fixture["tokens"]) {
      tokens_.AddToken(token["label"]);
      for (const json& key : token["keys"]) {
        tokens_.ImportKeyPair(token["label"], key["name"], HexDecode(key["id"].get<std::string>()));
      }
    }
    for (const json& entry : fixture["store"]) {
      const std::string name = entry["name"];
      if (entry["private_key"]) {
        database_.ImportKeyPair(name);
      } else {
        database_.AddCertificate(testing::TestDataDir() + "/" + name + ".cert.der", name);
      }
    }
    std::filesystem::create_directories(home_ + "/.pki");
    std::filesystem::create_directory_symlink(database_.directory(), home_ + "/.pki/nssdb");
    setenv("HOME", home_.c_str(), 1);
    // No display: a dialog nobody answers is a cancel, at once.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  void TearDown() override {
    setenv("HOME", saved_home_.c_str(), 1);
    std::filesystem::remove_all(home_);
  }

  testing::SoftHsmTokens tokens_;
  testing::NssDatabase database_;
  std::string home_ = [] {
    char folder[] = "/tmp/tarvona-home-XXXXXX";
    return std::string(mkdtemp(folder));
  }();
  const std::string saved_home_ = std::getenv("HOME") ? std::getenv("HOME") : "/";
};

TEST_P(ConformanceTest, GroupGivesWhatTheTableSays) {
  const json& group = GroupNamed(GetParam());
  const bool accept = group.value("dialog", "") == "accept";
  testing::XvfbDisplay display;
  if (accept) {
    ASSERT_TRUE(testing::XvfbDisplay::Available()) << "needs Xvfb and xdotool";
    ASSERT_TRUE(display.Start()) << "Xvfb did not start";
  }
  Variables variables(FixtureValues(Table(), testing::TestDataDir(), PathStyle::kUnix));
  testing::HostLinesClient host(TARVONA_HOST_PATH);
  ASSERT_EQ(host.Send({{"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}})["object"], 1);
  int index = 0;
  for (const json& step : group["steps"]) {
    SCOPED_TRACE("step " + std::to_string(++index) + ": " + step.dump());
    if (accept) display.AnswerWindow(DialogTitle(step["call"]), "Return");
    json response = host.Invoke(step["call"], variables.Evaluate(step["args"]));
    if (accept) {
      EXPECT_TRUE(display.KeysTyped()) << "the dialog did not show";
    }
    Outcome outcome{response.value("result", json()),
                    response.contains("error") ? response["error"]["name"].get<std::string>() : ""};
    EXPECT_EQ(CheckStep(step, outcome, variables), "");
    if (step.contains("judge") && outcome.result.is_string()) {
      EXPECT_EQ(Judge(step["judge"], outcome.result.get<std::string>(), testing::TestDataDir()), "")
          << step["id"];
    }
  }
  EXPECT_EQ(host.Send({{"release", 1}})["released"], 1);
  EXPECT_EQ(host.Finish(), 0);
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) {
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    if (c == ' ') name += '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Vectors, ConformanceTest, ::testing::ValuesIn(GroupNames()), ParamName);

// The table itself: every method of the control is called, and every
// judged step names itself once.
TEST(ConformanceTable, CoversEveryMethodAndNamesEachJudgedStepOnce) {
  std::set<std::string> called;
  std::set<std::string> ids;
  size_t judged = 0;
  for (const json& group : Table()["groups"]) {
    for (const json& step : group["steps"]) {
      std::string call = step["call"];
      if (!step.contains("error")) called.insert(call);
    }
    for (const std::string& id : JudgedIds(group)) {
      ids.insert(id);
      ++judged;
    }
  }
  EXPECT_EQ(ids.size(), judged);
  for (const MethodInfo& method : method_metadata::kMethods) {
    EXPECT_TRUE(called.count(std::string(method.name))) << method.name;
  }
}

}  // namespace
}  // namespace tarvona::conformance
