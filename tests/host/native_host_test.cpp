#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "host/native_messaging.h"
#include "host/origin_policy.h"
#include "testing/nss_database.h"
#include "testing/softhsm_tokens.h"
#include "testing/user_locale.h"
#include "testing/xvfb_display.h"
#include "tests/host/host_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;

std::string Frame(std::string_view payload) {
  auto length = static_cast<uint32_t>(payload.size());
  return std::string(reinterpret_cast<const char*>(&length), 4) + std::string(payload);
}

std::string Length(uint32_t length) { return {reinterpret_cast<const char*>(&length), 4}; }

// Reads frames from `text` until the framing stops.
std::vector<std::string> ReadAll(const std::string& text, host::FrameStatus* last) {
  std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  std::vector<std::string> frames;
  std::string payload;
  while ((*last = host::ReadFrame(in, payload)) == host::FrameStatus::kFrame) {
    frames.push_back(payload);
  }
  std::fclose(in);
  return frames;
}

TEST(NativeMessagingTest, ReadsWholeFramesAndStopsAtAnythingElse) {
  host::FrameStatus last{};
  EXPECT_EQ(ReadAll(Frame("{}") + Frame("[1]"), &last), (std::vector<std::string>{"{}", "[1]"}));
  EXPECT_EQ(last, host::FrameStatus::kEnd);

  struct Case {
    std::string input;
    size_t frames;
  };
  for (const Case& c : {Case{Frame("{}") + Length(0), 1},             // empty frame
                        Case{Length(host::kMaxRequestFrame + 1), 0},   // oversized
                        Case{Frame("{}") + std::string("\x05\x00", 2), 1},  // cut length
                        Case{Length(10) + "{}", 0}}) {                 // cut payload
    EXPECT_EQ(ReadAll(c.input, &last).size(), c.frames);
    EXPECT_EQ(last, host::FrameStatus::kMalformed);
  }
  EXPECT_EQ(ReadAll(Frame(std::string(host::kMaxRequestFrame, ' ')), &last).size(), 1u);
}

class ScriptedPrompt final : public host::ConsentPrompt {
 public:
  ScriptedPrompt(Answer answer, int* asked) : answer_(answer), asked_(asked) {}
  Answer Ask(std::string_view) override {
    ++*asked_;
    return answer_;
  }

 private:
  Answer answer_;
  int* asked_;
};

class OriginPolicyTest : public ::testing::Test {
 protected:
  OriginPolicyTest() {
    char folder[] = "/tmp/tarvona-origins-XXXXXX";
    folder_ = mkdtemp(folder);
    list_ = folder_ + "/tarvona/allowed-origins";
  }
  ~OriginPolicyTest() override { std::filesystem::remove_all(folder_); }

  host::OriginPolicy Policy(host::ConsentPrompt::Answer answer) {
    return host::OriginPolicy(list_, std::make_unique<ScriptedPrompt>(answer, &asked_));
  }

  std::string folder_;
  std::string list_;
  int asked_ = 0;
};

TEST_F(OriginPolicyTest, OnlyWebOriginsCanBeAllowed) {
  for (const char* good : {"https://bank.example", "http://localhost:8000", "http://127.0.0.1:1",
                           "https://[::1]:8443", "https://a-b.example"}) {
    EXPECT_TRUE(host::IsWebOrigin(good)) << good;
  }
  for (const char* bad : {"null", "file://", "file:///home/x.html", "chrome-extension://abc",
                          "https://", "https://bank.example/", "https://Bank.example",
                          "https://bank.example:", "https://bank.example:80:80", "http://a b",
                          "https://[::1", "javascript:alert(1)", ""}) {
    EXPECT_FALSE(host::IsWebOrigin(bad)) << bad;
  }
  auto policy = Policy(host::ConsentPrompt::Answer::kAllowAlways);
  EXPECT_FALSE(policy.Allows("file://"));
  EXPECT_FALSE(policy.Allows("null"));
  EXPECT_EQ(asked_, 0);  // never even asked
}

TEST_F(OriginPolicyTest, TheListAndTheUsersAnswersDecide) {
  std::filesystem::create_directories(std::filesystem::path(list_).parent_path());
  std::ofstream(list_) << "# my banks\n  https://bank.example  \nhttps://shop.example#not-a-comment\n";
  auto deny = Policy(host::ConsentPrompt::Answer::kDeny);
  EXPECT_TRUE(deny.Allows("https://bank.example"));
  EXPECT_FALSE(deny.Allows("https://shop.example"));
  EXPECT_FALSE(deny.Allows("https://other.example"));
  EXPECT_EQ(asked_, 2);

  auto once = Policy(host::ConsentPrompt::Answer::kAllowOnce);
  EXPECT_TRUE(once.Allows("https://other.example"));
  EXPECT_TRUE(once.Allows("https://other.example"));  // remembered for this host
  EXPECT_EQ(asked_, 3);
  EXPECT_FALSE(Policy(host::ConsentPrompt::Answer::kDeny).Allows("https://other.example"));

  auto always = Policy(host::ConsentPrompt::Answer::kAllowAlways);
  EXPECT_TRUE(always.Allows("https://new.example"));
  EXPECT_TRUE(Policy(host::ConsentPrompt::Answer::kDeny).Allows("https://new.example"));
  EXPECT_TRUE(Policy(host::ConsentPrompt::Answer::kDeny).Allows("https://bank.example"));
}

// The machine's policy comes before the user's list and answers, and the
// user's means cannot get past it.
TEST_F(OriginPolicyTest, TheMachinesPolicyComesFirst) {
  std::filesystem::create_directories(std::filesystem::path(list_).parent_path());
  std::ofstream(list_) << "https://mine.example\nhttps://blocked.example\n";
  using Answer = host::ConsentPrompt::Answer;
  struct Case {
    const char* what;
    host::Policy machine;
    Answer answer;
    std::vector<std::pair<const char*, bool>> allows;
    int asked;
  };
  auto machine = [](std::vector<std::string> allowed, std::vector<std::string> blocked,
                    bool consent_prompt, bool valid) {
    host::Policy policy;
    policy.allowed_origins = std::move(allowed);
    policy.blocked_origins = std::move(blocked);
    policy.consent_prompt = consent_prompt;
    policy.refuses_every_page = !valid;
    return policy;
  };
  const Case cases[] = {
      {"allowed and blocked",
       machine({"https://corp.example", "https://blocked.example"}, {"https://blocked.example"},
               true, true),
       Answer::kAllowAlways,
       {{"https://corp.example", true}, {"https://blocked.example", false},
        {"https://mine.example", true}, {"https://asked.example", true}},
       1},
      // The user's list now holds asked.example too.
      {"no consent dialog", machine({"https://corp.example"}, {}, false, true),
       Answer::kAllowAlways,
       {{"https://corp.example", true}, {"https://mine.example", false},
        {"https://asked.example", false}, {"https://new.example", false}},
       0},
      {"not valid", machine({"https://corp.example"}, {}, true, false), Answer::kAllowAlways,
       {{"https://corp.example", false}, {"https://mine.example", false},
        {"https://new.example", false}},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    asked_ = 0;
    host::OriginPolicy policy(list_, std::make_unique<ScriptedPrompt>(c.answer, &asked_), c.machine);
    for (const auto& [origin, allowed] : c.allows) EXPECT_EQ(policy.Allows(origin), allowed) << origin;
    EXPECT_EQ(asked_, c.asked);
  }
}

// The real consent dialog, answered by keyboard under a private X server.
class ConsentDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::XvfbDisplay::Available()) << "needs Xvfb and xdotool";
    ASSERT_TRUE(display_.Start()) << "Xvfb did not start";
  }
  testing::XvfbDisplay display_;
};

// The buttons speak the user's language, English and then German (LANG,
// with the locale made for the test): their access keys differ, so each
// answer tells the language. A key the dialog does not know leaves the
// answer to the Escape a second later (after a button's 250 ms press), a
// denial.
TEST_F(ConsentDialogTest, ButtonsGiveTheirAnswersAndEscapeDenies) {
  using Answer = host::ConsentPrompt::Answer;
  struct Case {
    const char* keys;
    Answer expected;
  };
  auto answer = [&](std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
      // The last dialog's window gone first, so the keys go to this one.
      ASSERT_TRUE(testing::XvfbDisplay::Closed("Tarvona"));
      display_.AnswerWindow("Tarvona", c.keys);
      EXPECT_EQ(host::DesktopConsentPrompt()->Ask("https://bank.example"), c.expected) << c.keys;
      EXPECT_TRUE(display_.KeysTyped()) << c.keys;
    }
  };
  answer({{"alt+a", Answer::kAllowAlways},
          {"alt+o", Answer::kAllowOnce},
          {"Escape", Answer::kDeny},
          {"Return", Answer::kDeny}});
  testing::UserLocale german("de_DE.UTF-8");
  ASSERT_TRUE(german.made()) << "localedef could not make de_DE.UTF-8 (Debian's locales package)";
  answer({{"alt+i sleep 1 key Escape", Answer::kAllowAlways},
          {"alt+e sleep 1 key Escape", Answer::kAllowOnce},
          {"alt+a sleep 1 key Escape", Answer::kDeny}});
}

// While the dialog waits, the browser's side hears so, before the answer.
TEST_F(ConsentDialogTest, TheHostSaysItWaitsForTheUserBeforeAnswering) {
  char folder[] = "/tmp/tarvona-config-XXXXXX";
  const std::string config = mkdtemp(folder);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  display_.AnswerWindow("Tarvona", "Escape");
  auto finished = testing::RunProgram(
      {TARVONA_HOST_PATH, "chrome-extension://x/"},
      Frame(R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1","origin":"https://bank.example"})"));
  unsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(config);
  EXPECT_TRUE(display_.KeysTyped());
  host::FrameStatus last{};
  auto frames = ReadAll(finished.out, &last);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(json::parse(frames[0]), json::parse(R"({"id":null,"status":"waiting-for-permission"})"));
  EXPECT_EQ(json::parse(frames[1])["error"]["name"], "E_ACCESSDENIED");
}

// Every dialog the host shows belongs to its page: when the browser hangs
// up (tab closed, page left) or the host dies, the dialog closes at once,
// even while the host waits inside a call; nothing the user could no
// longer see is remembered.
class HostDialogsTest : public testing::RegisteredModuleTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::XvfbDisplay::Available()) << "needs Xvfb and xdotool";
    ASSERT_TRUE(display_.Start()) << "Xvfb did not start";
    // The user's store, locked, under a home of the test's own.
    database_.ImportKeyPair("rsa1024");
    database_.SetPassword("secret");
    std::filesystem::create_directories(home_ + "/.pki");
    std::filesystem::create_directory_symlink(database_.directory(), home_ + "/.pki/nssdb");
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", saved_home_.c_str(), 1);
    std::filesystem::remove_all(home_);
  }

  // Starts the host as a browser does, its input a pipe held open.
  void StartHost(const std::string& frames) {
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    const char* argv[] = {TARVONA_HOST_PATH, "chrome-extension://x/", nullptr};
    ASSERT_EQ(posix_spawn(&host_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    to_host_ = input[1];
    ASSERT_EQ(write(to_host_, frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
  }
  void HangUp() { close(std::exchange(to_host_, -1)); }
  int HostStatus() {
    int status = -1;
    waitpid(host_, &status, 0);
    if (to_host_ >= 0) HangUp();
    return status;
  }

  std::string AllowList() const { return home_ + "/.config/tarvona/allowed-origins"; }

  testing::XvfbDisplay display_;
  testing::NssDatabase database_;
  std::string home_ = [] {
    char folder[] = "/tmp/tarvona-home-XXXXXX";
    return std::string(mkdtemp(folder));
  }();
  const std::string saved_home_ = std::getenv("HOME") ? std::getenv("HOME") : "/";
  pid_t host_ = -1;
  int to_host_ = -1;
};

TEST_F(HostDialogsTest, DialogsCloseWhenTheHostEnds) {
  const std::string create = Frame(
      R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1","origin":"https://bank.example"})");
  const struct {
    const char* dialog;
    std::string frames;
    std::string title;
  } dialogs[] = {
      {"consent", create, "Tarvona"},
      {"picker", create + Frame(R"({"id":2,"object":1,"method":"SignByCSP","params":[0,0,"",0,"48656C6C6F"]})"),
       "bank.example wants to sign with one of your certificates"},
      {"password", create + Frame(R"({"id":2,"object":1,"method":"SignByCSP","params":[0,1,"1001",0,"48656C6C6F"]})"),
       "Password for NSS Certificate DB"},
  };
  for (const auto& d : dialogs) {
    for (bool killed : {false, true}) {
      SCOPED_TRACE(std::string(d.dialog) + (killed ? ", host killed" : ", input hung up"));
      std::filesystem::remove_all(home_ + "/.config");
      if (d.title != "Tarvona") {
        std::filesystem::create_directories(home_ + "/.config/tarvona");
        std::ofstream(AllowList()) << "https://bank.example\n";
      }
      StartHost(d.frames);
      ASSERT_TRUE(testing::XvfbDisplay::Shows(d.title));
      if (killed) {
        kill(host_, SIGKILL);
      } else {
        HangUp();
      }
      const bool closed = testing::XvfbDisplay::Closed(d.title);
      EXPECT_TRUE(closed);
      if (!closed) kill(host_, SIGKILL);  // not to wait for an answer that never comes
      int status = HostStatus();
      if (killed) {
        EXPECT_TRUE(WIFSIGNALED(status));
      } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      }
      if (d.title == "Tarvona") {
        EXPECT_FALSE(std::filesystem::exists(AllowList()));  // no "Always allow" taken
      }
    }
  }
}

TEST(ConsentPromptTest, WithoutADisplayDeniesAtOnce) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(host::DesktopConsentPrompt()->Ask("https://bank.example"),
            host::ConsentPrompt::Answer::kDeny);
}

class NativeHostTest : public testing::RegisteredModuleTest {
 protected:
  NativeHostTest() {
    config_home_ = data_home_ + "/config";
    std::filesystem::create_directories(config_home_ + "/tarvona");
    std::ofstream(config_home_ + "/tarvona/allowed-origins") << "http://localhost:8000\n";
    setenv("XDG_CONFIG_HOME", config_home_.c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  ~NativeHostTest() override { unsetenv("XDG_CONFIG_HOME"); }

  // Runs the host as a browser starts it, and splits its output in frames.
  std::vector<json> Run(const std::string& input, int* status, std::string* err = nullptr) {
    auto finished = testing::RunProgram({TARVONA_HOST_PATH, "chrome-extension://x/"}, input);
    *status = finished.status;
    if (err) *err = finished.err;
    host::FrameStatus last{};
    std::vector<json> replies;
    for (const auto& frame : ReadAll(finished.out, &last)) replies.push_back(json::parse(frame));
    EXPECT_EQ(last, host::FrameStatus::kEnd) << "stdout holds more than whole frames";
    return replies;
  }

  std::string config_home_;
};

TEST_F(NativeHostTest, AnswersFramedRequestsFromAllowedOriginsOnly) {
  int status = 0;
  auto replies = Run(
      Frame(R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1","origin":"http://localhost:8000"})") +
          Frame(R"({"id":2,"object":1,"method":"VerifyCertCRL","params":[0,0,""]})") +
          Frame(R"({"id":3,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1","origin":"http://evil.example"})") +
          Frame(R"({"id":4,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})") +
          Frame(R"({"id":5,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1","origin":"file://"})") +
          Frame("{\"id\":6,\"create\":\"\xff\"}") + Frame("not json"),
      &status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(replies.size(), 7u);
  EXPECT_EQ(replies[0]["object"], 1);
  EXPECT_EQ(replies[1]["result"], 1);
  for (size_t i : {2, 3, 4}) EXPECT_EQ(replies[i]["error"]["name"], "E_ACCESSDENIED") << i;
  EXPECT_EQ(replies[5]["error"]["name"], "E_INVALIDARG");  // not UTF-8
  EXPECT_EQ(replies[6]["error"]["name"], "E_INVALIDARG");
}

// A page may not name files on the user's disk (certificate source 4): the
// store calls that read the file for a script host are refused, with the
// file untouched, for a page. Other sources still reach the control.
TEST_F(NativeHostTest, RefusesCertificateFilesToPagesOnly) {
  const std::string file = testing::TestDataDir() + "/rsa2048.cert.pem";
  const auto pem = testing::ReadFile(file);
  struct Case {
    json params;
    json page;          // the browser's road
    json script_host;   // --lines
  };
  const Case cases[] = {
      {{0, 4, file, 0, "00", "00"}, 1004, 1007},
      {{0, "4", "/nonexistent/cert.pem", 0, "00", "00"}, 1004, 1304},
      {{0, 4.0, file + ".missing", 0, "00", "00"}, 1004, 1304},
      {{0, 2, std::string(pem.begin(), pem.end()), 0, "00", "00"}, 1007, 1007},
  };
  std::string frames = Frame(
      R"({"id":0,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1","origin":"http://localhost:8000"})");
  std::string lines = R"({"id":0,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})" "\n";
  for (size_t i = 0; i < std::size(cases); ++i) {
    json call = {{"id", i + 1}, {"object", 1}, {"method", "VerifyByCSP"}, {"params", cases[i].params}};
    frames += Frame(call.dump());
    lines += call.dump() + "\n";
  }
  json encrypt = {{"id", 9}, {"object", 1}, {"method", "EncryptByCSP"}, {"params", {0, 4, file, 0, "0102"}}};
  frames += Frame(encrypt.dump());
  lines += encrypt.dump() + "\n";

  int status = 0;
  auto page = Run(frames, &status);
  auto script_host = testing::RunHost(lines, &status);
  ASSERT_EQ(page.size(), std::size(cases) + 2);
  ASSERT_EQ(script_host.size(), std::size(cases) + 2);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(page[i + 1]["result"], cases[i].page) << cases[i].params.dump();
    EXPECT_EQ(json::parse(script_host[i + 1])["result"], cases[i].script_host) << cases[i].params.dump();
  }
  EXPECT_EQ(page.back()["result"], "");
  EXPECT_NE(json::parse(script_host.back())["result"], "");  // the file's key encrypts
}

TEST_F(NativeHostTest, MalformedFramesEndTheHostWithoutAPartialReply) {
  for (const std::string& tail : {Length(0), Length(host::kMaxRequestFrame + 1) + "{}",
                                  Length(50) + R"({"id":2})", std::string("\x01", 1)}) {
    int status = 0;
    std::string err;
    auto replies = Run(Frame(R"({"id":1,"release":7})") + tail, &status, &err);
    ASSERT_EQ(replies.size(), 1u);  // the good frame before is answered
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(err.find("malformed frame"), std::string::npos);
  }
}

// The machine's policy in /etc/tarvona/policy.json, laid for one host at a
// time: the host runs in namespaces of its own (a user namespace in which
// the test's user is root, and a mount namespace) where /etc is the
// machine's with the test's tarvona/ folder over it. A user's store holds
// rsa1024 with its key; a display is named that is never there, so a
// dialog is announced (the consent dialog's "waiting" frame) and then
// fails to open: no answer from anyone.
class MachinePolicyTest : public NativeHostTest {
 protected:
  MachinePolicyTest() {
    database_.ImportKeyPair("rsa1024");
    std::filesystem::create_directories(folder_ + "/home/.pki");
    std::filesystem::create_directory_symlink(database_.directory(), folder_ + "/home/.pki/nssdb");
    setenv("HOME", (folder_ + "/home").c_str(), 1);
    setenv("WAYLAND_DISPLAY", "/nonexistent/tarvona-display", 1);
  }
  ~MachinePolicyTest() override {
    setenv("HOME", saved_home_.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    std::filesystem::remove_all(folder_);
  }

  struct Layout {
    const char* text = nullptr;  // the file's; nullptr: no file
    std::filesystem::perms file = std::filesystem::perms(0644);
    std::filesystem::perms folder = std::filesystem::perms(0755);
    bool fifo = false;  // a FIFO in the file's place, which no one writes
  };

  // What each reply frame says (testing::Said), in order.
  std::vector<std::string> Run(const Layout& layout, const std::vector<json>& requests,
                               std::string* err) {
    const std::string upper = folder_ + "/upper", work = folder_ + "/work";
    std::filesystem::remove_all(upper);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(upper + "/tarvona");
    std::filesystem::create_directories(work);
    std::filesystem::permissions(upper + "/tarvona", layout.folder);
    if (layout.fifo) {
      EXPECT_EQ(mkfifo((upper + "/tarvona/policy.json").c_str(), 0644), 0);
    } else if (layout.text != nullptr) {
      std::ofstream(upper + "/tarvona/policy.json") << layout.text;
      std::filesystem::permissions(upper + "/tarvona/policy.json", layout.file);
    } else {
      std::filesystem::remove_all(upper + "/tarvona");
    }
    std::string input;
    for (const json& request : requests) input += Frame(request.dump());
    auto finished = testing::RunProgram(
        {"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "--", "/bin/sh", "-c",
         "mount -t overlay tarvona-policy -o lowerdir=/etc,upperdir=\"$1\",workdir=\"$2\" /etc "
         "&& shift 2 && exec \"$@\"",
         "sh", upper, work, TARVONA_HOST_PATH, "chrome-extension://x/"},
        input);
    *err = finished.err;
    EXPECT_TRUE(WIFEXITED(finished.status) && WEXITSTATUS(finished.status) == 0)
        << finished.status << finished.err;
    host::FrameStatus last{};
    std::vector<std::string> said;
    for (const auto& frame : ReadAll(finished.out, &last)) {
      said.push_back(testing::Said(json::parse(frame)));
    }
    return said;
  }

  testing::NssDatabase database_;
  std::string folder_ = [] {
    char folder[] = "/tmp/tarvona-policy-XXXXXX";
    return std::string(mkdtemp(folder));
  }();
  const std::string saved_home_ = std::getenv("HOME") ? std::getenv("HOME") : "/";
};

TEST_F(MachinePolicyTest, EachSettingRulesPagesAndABadPolicyRefusesThemAll) {
  const std::string pem = [] {
    auto bytes = testing::ReadFile(testing::TestDataDir() + "/rsa1024.cert.pem");
    return std::string(bytes.begin(), bytes.end());
  }();
  auto create = [](const char* origin) {
    return json{{"id", 1}, {"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}, {"origin", origin}};
  };
  auto call = [](const char* method, json params) {
    return json{{"id", 2}, {"object", 1}, {"method", method}, {"params", std::move(params)}};
  };
  const json listed = create("http://localhost:8000");  // on the user's list
  const json corp = create("https://corp.example");
  const json other = create("https://other.example");
  const json verify_dialog = call("VerifyByCSP", {0, 0, "", 0, "00", "00"});
  const json verify_serial = call("VerifyByCSP", {0, 1, "1001", 0, "00", "00"});
  const json sign_dialog = call("SignByCSP", {0, 0, "", 0, "48656C6C6F"});
  const json sign_serial = call("SignByCSP", {0, 1, "1001", 0, "48656C6C6F"});
  const json encrypt_pem = call("EncryptByCSP", {0, 2, pem, 0, "0102"});
  const std::vector<json> store_calls = {listed, verify_dialog, verify_serial, sign_dialog,
                                         sign_serial, encrypt_pem};
  const std::vector<json> pages = {corp, listed, other};
  const std::vector<std::string> all_refused = {"E_ACCESSDENIED", "E_ACCESSDENIED",
                                                "E_ACCESSDENIED"};
  // Without a policy: corp.example is asked about, the listed origin let in.
  const std::vector<std::string> today = {"waiting", "E_ACCESSDENIED", "created", "waiting",
                                          "E_ACCESSDENIED"};
  using P = std::filesystem::perms;
  struct Case {
    const char* what;
    Layout layout;
    std::vector<json> requests;
    std::vector<std::string> said;
    const char* told;  // on stderr; nullptr: nothing
  };
  const Case cases[] = {
      {"no policy", {}, pages, today, nullptr},
      {"no policy: the store", {}, store_calls, {"created", "1301", "1007", "\"\"", "text", "text"},
       nullptr},
      {"AllowedOrigins", {R"({"AllowedOrigins": ["https://corp.example"]})"}, pages,
       {"created", "created", "waiting", "E_ACCESSDENIED"}, nullptr},
      {"BlockedOrigins",
       {R"({"AllowedOrigins": ["https://corp.example"],
            "BlockedOrigins": ["https://corp.example", "http://localhost:8000",
                               "https://other.example"]})"},
       pages, all_refused, nullptr},
      {"ConsentPrompt", {R"({"AllowedOrigins": ["https://corp.example"], "ConsentPrompt": false})"},
       pages, {"created", "E_ACCESSDENIED", "E_ACCESSDENIED"}, nullptr},
      {"StoreRoad", {R"({"StoreRoad": false})"}, store_calls,
       {"created", "1301", "1011", "\"\"", "\"\"", "text"}, nullptr},
      {"CertificateDialog", {R"({"CertificateDialog": false})"}, store_calls,
       {"created", "1004", "1007", "\"\"", "text", "text"}, nullptr},
      {"all switches on", {R"({"ConsentPrompt": true, "StoreRoad": true, "CertificateDialog": true})"},
       pages, today, nullptr},
      {"an unknown key", {R"({"AllowedOrigins": ["https://corp.example"], "ConsentPromt": false})"},
       pages, all_refused, "unknown setting \"ConsentPromt\""},
      {"a wrong type", {R"({"ConsentPrompt": "no"})"}, pages, all_refused,
       "ConsentPrompt must be true or false"},
      {"an entry that is no origin", {R"({"BlockedOrigins": ["https://Other.example/"]})"}, pages,
       all_refused, "\"https://Other.example/\" is not an origin"},
      {"not JSON", {R"({"AllowedOrigins": ["https://corp.example")"}, pages, all_refused,
       "is not JSON"},
      {"not an object", {R"(["https://corp.example"])"}, pages, all_refused, "one JSON object"},
      {"not a file", {nullptr, P(0644), P(0755), true}, pages, all_refused, "is not a file"},
      {"a file others can write", {{R"({"BlockedOrigins": ["http://localhost:8000"]})"}, P(0666)},
       pages, today, "is ignored"},
      {"a folder others can write",
       {{R"({"BlockedOrigins": ["http://localhost:8000"]})"}, P(0644), P(0775)}, pages,
       today, "is ignored"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string err;
    EXPECT_EQ(Run(c.layout, c.requests, &err), c.said);
    if (c.told != nullptr) {
      EXPECT_NE(err.find(std::string("tarvona-host: /etc/tarvona/policy.json")), std::string::npos)
          << err;
      EXPECT_NE(err.find(c.told), std::string::npos) << err;
    } else {
      EXPECT_EQ(err.find("tarvona-host:"), std::string::npos) << err;
    }
  }
}

}  // namespace
}  // namespace tarvona
