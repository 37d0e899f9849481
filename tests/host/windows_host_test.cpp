// tarvona-host.exe under 64-bit Wine, driven through its pipes as browsers
// and programs drive it: the control registered in a prefix of its own
// with regsvr32, the token road through the Wine bridge to SoftHSM2, the
// store road through CryptoAPI on the prefix's MY store, the allow-list in
// the prefix's %APPDATA%. Shapes and errors are the Linux host's, and the
// conformance vectors give what they give on Linux.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "encoding/hex.h"
#include "host/host_process.h"
#include "host/native_messaging.h"
#include "testing/softhsm_tokens.h"
#include "testing/user_locale.h"
#include "testing/xvfb_display.h"
#include "tests/conformance/conformance_table.h"
#include "tests/host/host_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;

const std::string kScripts = std::string(TARVONA_SOURCE_DIR) + "/scripts";
const std::string kExe =
    std::string(TARVONA_SOURCE_DIR) + "/build-windows/x86_64/bin/tarvona-host.exe";
const std::string kOcx =
    std::string(TARVONA_SOURCE_DIR) + "/build-windows/x86_64/TarvonaActiveX.ocx";
const std::string kFiller =
    std::string(TARVONA_SOURCE_DIR) + "/build-windows/x86_64/bin/tarvona-fill-store.exe";
constexpr char kProgId[] = "TARVONAACTIVEX.TarvonaActiveXCtrl.1";
constexpr char kAllowedOrigin[] = "http://localhost:8000";
const std::string kBridgeLog = std::string(TARVONA_WINE_HOST_PREFIX) + "-bridge.log";

const json& Vectors() {
  static const json table = conformance::LoadTable(TARVONA_VECTORS_PATH);
  return table;
}

std::string Frame(std::string_view payload) {
  auto length = static_cast<uint32_t>(payload.size());
  return std::string(reinterpret_cast<const char*>(&length), 4) + std::string(payload);
}

testing::Finished ShellRun(const std::string& command) {
  return testing::RunProgram({"/bin/sh", "-c", ". " + kScripts + "/wine-env.sh; " + command});
}

int Shell(const std::string& command) { return ShellRun(command).status; }

// The allow-list in the prefix's %APPDATA%.
std::filesystem::path AllowList() {
  const char* user = getenv("USER");
  return std::filesystem::path(TARVONA_WINE_HOST_PREFIX) / "drive_c/users" /
         (user != nullptr ? user : "root") / "AppData/Roaming/Tarvona/allowed-origins";
}

class WindowsHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::filesystem::exists(kExe) || !std::filesystem::exists(kOcx) ||
        !std::filesystem::exists(kFiller)) {
      failed_step_ =
          "needs " + kExe + ", the control and " + kFiller + " (scripts/build-windows.sh)";
      return;
    }
    // The vectors' tokens and store.
    tokens_ = new testing::SoftHsmTokens();
    const json& fixture = Vectors()["fixture"];
    for (const json& token : fixture["tokens"]) {
      tokens_->AddToken(token["label"]);
      for (const json& key : token["keys"]) {
        tokens_->ImportKeyPair(token["label"], key["name"],
                               HexDecode(key["id"].get<std::string>()));
      }
    }
    const std::string prefix = TARVONA_WINE_HOST_PREFIX;
    const std::string store_data = prefix + "-store-data";
    std::filesystem::remove_all(prefix);
    std::filesystem::remove_all(store_data);
    std::filesystem::copy(testing::TestDataDir(), store_data,
                          std::filesystem::copy_options::recursive);
    std::string entries;
    for (const json& entry : fixture["store"]) {
      entries += " " + entry["name"].get<std::string>() + (entry["private_key"] ? "" : ":nokey");
    }
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("TARVONA_BRIDGE_ADAPTORS", testing::FaultModulesDir().c_str(), 1);
    setenv("TARVONA_BRIDGE_LOG", kBridgeLog.c_str(), 1);
    unsetenv("DISPLAY");  // no desktop: the consent dialog denies at once
    unsetenv("WAYLAND_DISPLAY");
    Shell("wineserver -p");
    // The first step that fails is named in every test's failure.
    auto step = [](const char* name, bool done) {
      if (!done && failed_step_.empty()) failed_step_ = name;
      return done;
    };
    ready_ = step("the token bridge (scripts/wine-bridge.sh)",
                  testing::RunProgram({kScripts + "/wine-bridge.sh", prefix, TARVONA_BINARY_DIR})
                          .status == 0) &&
             step("regsvr32 of the control",
                  Shell("\"$TARVONA_WINE\" regsvr32 /s \"$(\"$TARVONA_WINE\" winepath -w '" + kOcx +
                        "' 2>/dev/null)\"") == 0) &&
             step("filling the MY store",
                  Shell("sh " + std::string(TARVONA_SOURCE_DIR) +
                        "/testing/wine-store/make_store_data.sh '" + store_data + "' && " +
                        kScripts + "/wine-run.sh " + kFiller +
                        " --reset --data \"$(\"$TARVONA_WINE\" winepath -w '" + store_data +
                        "' 2>/dev/null)\"" + entries + " >/dev/null") == 0);
    std::filesystem::create_directories(AllowList().parent_path());
    std::ofstream(AllowList()) << "# pages\n" << kAllowedOrigin << "\n";
  }
  static void TearDownTestSuite() {
    Shell("wineserver -k 2>/dev/null || true");
    delete tokens_;
    tokens_ = nullptr;
  }
  void SetUp() override {
    // A build that asked for these tests fails when their set-up does.
    ASSERT_TRUE(ready_) << "the Wine prefix could not be set up: " << failed_step_;
  }

  // The host as a browser starts it, to the end of `input`; its frames.
  std::vector<json> RunFramed(const std::string& input, int* status, std::string* rest,
                              std::string* err = nullptr) {
    auto finished =
        testing::RunProgram({kScripts + "/wine-run.sh", kExe, "chrome-extension://x/"}, input);
    *status = finished.status;
    if (err != nullptr) *err = finished.err;
    std::vector<json> frames;
    std::string_view out = finished.out;
    while (out.size() >= 4) {
      uint32_t length = 0;
      std::memcpy(&length, out.data(), 4);
      if (out.size() - 4 < length) break;
      frames.push_back(json::parse(out.substr(4, length)));
      out.remove_prefix(4 + length);
    }
    *rest = std::string(out);
    return frames;
  }

  // tarvona-host.exe in lines or frames: one request (without its id) to its
  // response.
  class Host {
   public:
    explicit Host(bool frames)
        : frames_(frames),
          process_(kScripts + "/wine-run.sh",
                   frames ? std::vector<std::string>{kExe, "chrome-extension://x/"}
                          : std::vector<std::string>{kExe, "--lines"}) {}
    json Send(json request) {
      request["id"] = ++id_;
      auto reply =
          frames_ ? process_.ExchangeFrame(request.dump()) : process_.Exchange(request.dump());
      EXPECT_TRUE(reply.has_value()) << request.dump();
      json response = json::parse(reply.value_or("{}"));
      EXPECT_EQ(response["id"], id_) << *reply;
      return response;
    }
    json Create() {
      json request = {{"create", kProgId}};
      if (frames_) request["origin"] = kAllowedOrigin;
      return Send(request);
    }
    int Finish() { return process_.Finish(); }

   private:
    bool frames_;
    host::HostProcess process_;
    int id_ = 0;
  };

  static testing::SoftHsmTokens* tokens_;
  static bool ready_;
  static std::string failed_step_;
};

testing::SoftHsmTokens* WindowsHostTest::tokens_ = nullptr;
bool WindowsHostTest::ready_ = false;
std::string WindowsHostTest::failed_step_;

// A script host's road (--lines): the token road through real COM and the
// bridge, then the errors a page meets, named as on Linux.
TEST_F(WindowsHostTest, LinesCarryTheTokenRoadAndTheLinuxErrors) {
  host::HostProcess host(kScripts + "/wine-run.sh", {kExe, "--lines"});
  int id = 0;
  auto send = [&](json request) {
    request["id"] = ++id;
    auto reply = host.Exchange(request.dump());
    EXPECT_TRUE(reply.has_value()) << request.dump();
    return json::parse(reply.value_or("{}"));
  };
  auto call = [&](const std::string& method, json params) {
    json response = send({{"object", 1}, {"method", method}, {"params", params}});
    EXPECT_TRUE(response.contains("result")) << method << ": " << response.dump();
    return response["result"];
  };
  ASSERT_EQ(send({{"create", kProgId}})["object"], 1);
  json handle = call("ConnectToken", json::array());
  ASSERT_TRUE(handle.is_number_integer()) << handle.dump();
  EXPECT_EQ(call("Login", {handle, testing::kUserPin}), 0);
  json certificate = call("EnumCertificate", {handle, 0});
  std::string serial = call("GetAttribute", {handle, certificate, 3});
  ASSERT_FALSE(serial.empty());
  const std::string data = "5061792031303020455552";
  std::string signature = call("SignByCertSerial", {handle, serial, 0, data});
  EXPECT_EQ(signature.size(), 512u);
  EXPECT_EQ(call("VerifyByCertSerial", {handle, serial, 0, data, signature}), 0);
  EXPECT_EQ(call("VerifyByCertSerial", {handle, serial, 0, data + "21", signature}), 1007);

  struct Case {
    json request;
    const char* error;
  };
  const Case cases[] = {
      {{{"create", "No.Such.Control"}}, "REGDB_E_CLASSNOTREG"},
      {{{"object", 1}, {"method", "NoSuchMethod"}}, "DISP_E_UNKNOWNNAME"},
      {{{"object", 1}, {"dispid", 999}}, "DISP_E_MEMBERNOTFOUND"},
      {{{"object", 1}, {"method", "ConnectToken"}, {"params", {1}}}, "DISP_E_BADPARAMCOUNT"},
      {{{"object", 1}, {"method", "GetAttribute"}, {"params", {"x", 0, 0}}}, "DISP_E_TYPEMISMATCH"},
      {{{"object", 1}, {"method", "GetAttribute"}, {"params", {nullptr, 0, 0}}},
       "DISP_E_TYPEMISMATCH"},
      {{{"object", 7}, {"method", "Logout"}}, "E_HANDLE"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(send(c.request)["error"]["name"], c.error) << c.request.dump();
  }
  // The container services are the Linux host's: the same source.
  EXPECT_EQ(send({{"save", 1}})["properties"]["_Version"], 65536);
  EXPECT_EQ(
      send(
          {{"object", 1}, {"method", "GetAttribute"}, {"params", {"x", 0, 0}}})["error"]["message"],
      "parameter 1 (SessionID) of GetAttribute must be a 32-bit integer");
  auto bad = host.Exchange("not json");
  EXPECT_EQ(json::parse(bad.value_or("{}"))["error"]["name"], "E_INVALIDARG");
  // The session stays logged in: the end of input must still release the
  // control, and the host end cleanly.
  EXPECT_EQ(host.Finish(), 0);
}

// The browser's road: only listed origins create controls, certificate
// files are refused to pages, and a frame that breaks the framing ends the
// host after the whole replies before it.
TEST_F(WindowsHostTest, FramesFollowThePageRules) {
  const std::string allowed =
      json{{"id", 1}, {"create", kProgId}, {"origin", "http://localhost:8000"}}.dump();
  std::string input = Frame(allowed);
  input += Frame(json{{"id", 2},
                      {"object", 1},
                      {"method", "VerifyByCSP"},
                      {"params", {0, 4, "C:\\cert.pem", 0, "00", "00"}}}
                     .dump());
  input += Frame(json{{"id", 3},
                      {"object", 1},
                      {"method", "EncryptByCSP"},
                      {"params", {0, "4", "C:\\cert.pem", 0, "0102"}}}
                     .dump());
  for (const json& origin : {json("http://evil.example"), json(nullptr), json("file://")}) {
    input += Frame(json{{"id", 4}, {"create", kProgId}, {"origin", origin}}.dump());
  }
  input += Frame(json{{"id", 5},
                      {"object", 1},
                      {"method", "VerifyCertCRL"},
                      {"params", {0, 0, std::string(10, '\n')}}}
                     .dump());
  int status = 0;
  std::string rest;
  auto replies = RunFramed(input, &status, &rest);
  EXPECT_TRUE(rest.empty());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(replies.size(), 7u) << json(replies).dump();
  EXPECT_EQ(replies[0]["object"], 1);
  EXPECT_EQ(replies[1]["result"], 1004);
  EXPECT_EQ(replies[2]["result"], "");
  for (size_t i : {3, 4, 5}) EXPECT_EQ(replies[i]["error"]["name"], "E_ACCESSDENIED") << i;
  EXPECT_EQ(replies[6]["result"], 1);  // bytes 10 pass unchanged: the pipes are binary

  for (const std::string& tail :
       {std::string(4, '\0'), Frame("{}").substr(0, 3), std::string("\x32\0\0\0{\"id\":2}", 12)}) {
    auto cut = RunFramed(Frame(allowed) + tail, &status, &rest);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0]["object"], 1);
    EXPECT_TRUE(rest.empty());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
  }
}

// The machine's policy as Group Policy writes it, set here by reg add:
// each setting from HKLM or HKCU\Software\Policies\Tarvona, the machine's
// value over the user's, names found whatever their case, and a value the
// host does not understand refusing every page. The user's own list allows
// localhost:8000; with no desktop, an origin the host would ask about is
// denied without a dialog.
TEST_F(WindowsHostTest, TheMachinesPolicyFromTheRegistryRulesPages) {
  const std::string policies = "Software\\Policies\\Tarvona";
  auto reg = [&](const std::string& arguments) {
    return Shell("\"$TARVONA_WINE\" reg " + arguments + " >/dev/null 2>&1");
  };
  auto clear = [&] {
    for (const char* hive : {"HKLM", "HKCU"}) reg("delete '" + std::string(hive) + "\\" + policies + "' /f");
  };
  struct Cleared {
    std::function<void()> clear;
    ~Cleared() { clear(); }
  } cleared{clear};  // no other test meets a policy

  auto create = [](const char* origin) {
    return json{{"id", 1}, {"create", kProgId}, {"origin", origin}};
  };
  auto call = [](const char* method, json params) {
    return json{{"id", 2}, {"object", 1}, {"method", method}, {"params", std::move(params)}};
  };
  const json listed = create(kAllowedOrigin);
  const std::vector<json> pages = {create("https://corp.example"), listed,
                                   create("https://b.example")};
  // rsa2048b (serial 0x2048B) is in the MY store with its key.
  const std::vector<json> store_calls = {listed, call("VerifyByCSP", {0, 0, "", 0, "00", "00"}),
                                         call("VerifyByCSP", {0, 1, "02048B", 0, "00", "00"}),
                                         call("SignByCSP", {0, 1, "02048B", 0, "48656C6C6F"})};
  const std::vector<std::string> today = {"E_ACCESSDENIED", "created", "E_ACCESSDENIED"};
  const std::vector<std::string> all_refused(3, "E_ACCESSDENIED");
  struct Value {
    const char* hive;
    const char* name;
    const char* type;
    const char* data;
  };
  struct Case {
    const char* what;
    std::vector<Value> values;
    std::vector<json> requests;
    std::vector<std::string> said;
    const char* told;  // on stderr; nullptr: nothing
  };
  const Case cases[] = {
      {"no policy", {}, pages, today, nullptr},
      {"no policy: the store", {}, store_calls, {"created", "1301", "1007", "text"}, nullptr},
      {"AllowedOrigins",
       {{"HKLM", "AllowedOrigins", "REG_MULTI_SZ", "https://corp.example\\0https://b.example"}},
       pages, {"created", "created", "created"}, nullptr},
      {"BlockedOrigins over both lists",
       {{"HKLM", "AllowedOrigins", "REG_MULTI_SZ", "https://corp.example"},
        {"HKCU", "BlockedOrigins", "REG_MULTI_SZ", "https://corp.example\\0http://localhost:8000"}},
       pages, all_refused, nullptr},
      {"ConsentPrompt", {{"HKCU", "ConsentPrompt", "REG_DWORD", "0"}}, pages, all_refused, nullptr},
      {"the machine's value over the user's",
       {{"HKLM", "ConsentPrompt", "REG_DWORD", "1"}, {"HKCU", "ConsentPrompt", "REG_DWORD", "0"}},
       pages, today, nullptr},
      {"StoreRoad", {{"HKLM", "StoreRoad", "REG_DWORD", "0"}}, store_calls,
       {"created", "1301", "1011", "\"\""}, nullptr},
      {"CertificateDialog", {{"HKCU", "CertificateDialog", "REG_DWORD", "0"}}, store_calls,
       {"created", "1004", "1007", "text"}, nullptr},
      {"a name in another case", {{"HKLM", "blockedorigins", "REG_MULTI_SZ", "http://localhost:8000"}},
       pages, all_refused, nullptr},
      {"a switch as REG_SZ", {{"HKLM", "ConsentPrompt", "REG_SZ", "0"}}, pages, all_refused,
       "HKLM\\Software\\Policies\\Tarvona: ConsentPrompt must be a REG_DWORD of 0 or 1"},
      {"a switch of 2", {{"HKCU", "StoreRoad", "REG_DWORD", "2"}}, pages, all_refused,
       "StoreRoad must be a REG_DWORD of 0 or 1"},
      {"a list as REG_SZ", {{"HKLM", "AllowedOrigins", "REG_SZ", "https://corp.example"}}, pages,
       all_refused, "AllowedOrigins must be a REG_MULTI_SZ of origins"},
      {"an unknown value", {{"HKCU", "AllowOrigins", "REG_MULTI_SZ", "https://corp.example"}}, pages,
       all_refused, "HKCU\\Software\\Policies\\Tarvona: unknown setting \"AllowOrigins\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear();
    for (const Value& value : c.values) {
      ASSERT_EQ(reg("add '" + std::string(value.hive) + "\\" + policies + "' /v " + value.name +
                    " /t " + value.type + " /d '" + value.data + "' /f"),
                0);
    }
    std::string input;
    for (const json& request : c.requests) input += Frame(request.dump());
    int status = 0;
    std::string rest, err;
    std::vector<std::string> said;
    for (const json& reply : RunFramed(input, &status, &rest, &err)) said.push_back(testing::Said(reply));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(said, c.said);
    if (c.told != nullptr) {
      EXPECT_NE(err.find(c.told), std::string::npos) << err;
      EXPECT_NE(err.find("tarvona-host: the policy for pages is not valid"), std::string::npos)
          << err;
    } else {
      EXPECT_EQ(err.find("tarvona-host:"), std::string::npos) << err;
    }
  }
}

// The consent dialog speaks the user's display language, German here
// (LANG, with a locale made for the test, which Wine takes for the
// user's): the German access key of "Immer erlauben" answers it, and the
// site is remembered. Were the dialog English, the Escape a second later
// would deny.
TEST_F(WindowsHostTest, TheConsentDialogSpeaksTheUsersLanguage) {
  const std::string request =
      json{{"id", 1}, {"create", kProgId}, {"origin", "https://bank.example"}}.dump();
  std::vector<json> replies;
  {
    testing::XvfbDisplay display;
    ASSERT_TRUE(testing::XvfbDisplay::Available()) << "needs Xvfb and xdotool";
    ASSERT_TRUE(display.Start()) << "Xvfb did not start";
    testing::UserLocale german("de_DE.UTF-8");
    ASSERT_TRUE(german.made()) << "localedef could not make de_DE.UTF-8 (Debian's locales package)";
    // Wine's programs from here on on this display, in this language.
    Shell("wineserver -k; wineserver -p");
    display.AnswerWindow("Tarvona", "alt+i sleep 1 key Escape");
    int status = 0;
    std::string rest;
    replies = RunFramed(Frame(request), &status, &rest);
    EXPECT_TRUE(display.KeysTyped()) << "the dialog did not show";
  }
  Shell("wineserver -k; wineserver -p");
  std::ifstream list(AllowList());
  const std::string listed((std::istreambuf_iterator<char>(list)),
                           std::istreambuf_iterator<char>());
  std::ofstream(AllowList()) << "# pages\n" << kAllowedOrigin << "\n";
  ASSERT_EQ(replies.size(), 2u) << json(replies).dump();
  EXPECT_EQ(replies[0]["status"], "waiting-for-permission");
  EXPECT_EQ(replies[1]["object"], 1) << replies[1].dump();
  EXPECT_NE(listed.find("https://bank.example"), std::string::npos) << listed;
}

// --register writes the manifests and one key per browser naming one: for
// the user under HKCU, with --machine under HKLM with the manifests beside
// the program naming it relative to themselves; --unregister takes both
// away again.
TEST_F(WindowsHostTest, RegistersWithEachBrowserAndUnregisters) {
  const std::string browsers[] = {"Google\\Chrome", "Microsoft\\Edge", "Mozilla"};
  const std::filesystem::path beside = std::filesystem::path(kExe).parent_path();
  struct Scope {
    std::vector<std::string> flags;
    const char* hive;
    const char* folder;  // the end of the manifests' folder in the keys
  };
  const Scope scopes[] = {{{}, "HKCU", "\\Tarvona\\"}, {{"--machine"}, "HKLM", "\\bin\\"}};
  for (const Scope& scope : scopes) {
    SCOPED_TRACE(scope.hive);
    auto query = [&](const std::string& browser) {
      return ShellRun("\"$TARVONA_WINE\" reg query '" + std::string(scope.hive) + "\\Software\\" +
                      browser + "\\NativeMessagingHosts\\com.tarvona.host' 2>/dev/null");
    };
    auto run = [&](const char* action) {
      std::vector<std::string> argv = {kScripts + "/wine-run.sh", kExe, action};
      argv.insert(argv.end(), scope.flags.begin(), scope.flags.end());
      return testing::RunProgram(argv).status;
    };
    ASSERT_EQ(run("--register"), 0);
    for (const std::string& browser : browsers) {
      const std::string out = query(browser).out;
      EXPECT_NE(out.find(std::string(scope.folder) + "com.tarvona.host."), std::string::npos)
          << browser << out;
    }
    if (!scope.flags.empty()) {
      std::ifstream manifest(beside / "com.tarvona.host.firefox.json");
      const std::string text(std::istreambuf_iterator<char>(manifest), {});
      EXPECT_NE(text.find("\"path\": \"tarvona-host.exe\""), std::string::npos) << text;
    }
    ASSERT_EQ(run("--unregister"), 0);
    for (const std::string& browser : browsers) EXPECT_NE(query(browser).status, 0) << browser;
    EXPECT_FALSE(std::filesystem::exists(beside / "com.tarvona.host.chromium.json"));
  }
}

// tarvona-host.exe --diagnose on the prefix as the suite made it: the
// control registered by regsvr32, the token maker's modules (the bridge)
// in system32, the filled MY store, the allow-list and, once --register has
// run, the browsers' keys: no problem, in JSON and in text. With the keys
// gone again, each browser is named with its fix.
TEST_F(WindowsHostTest, DiagnoseReportsThePrefix) {
  const auto host = [](std::vector<std::string> args) {
    args.insert(args.begin(), {kScripts + "/wine-run.sh", kExe});
    return testing::RunProgram(args);
  };
  const auto findings = [](const testing::Finished& run) {
    std::vector<json> all;
    const json report = json::parse(run.out, nullptr, false);
    EXPECT_TRUE(report.is_object()) << run.out << run.err;
    for (const json& section : report.value("sections", json::array())) {
      for (const json& finding : section["findings"]) all.push_back(finding);
    }
    return all;
  };
  const auto with = [](const std::vector<json>& all, const std::string& check,
                       const std::string& status) {
    std::vector<json> found;
    for (const json& finding : all) {
      if (finding["check"] == check && finding["status"] == status) found.push_back(finding);
    }
    return found;
  };
  ASSERT_EQ(host({"--register"}).status, 0);
  const auto healthy = host({"--diagnose", "--json"});
  EXPECT_EQ(WEXITSTATUS(healthy.status), 0) << healthy.out;
  const std::vector<json> all = findings(healthy);
  EXPECT_EQ(with(all, "create", "ok").size(), 1u);
  EXPECT_EQ(with(all, "manifest", "ok").size(), 3u);
  const std::vector<json> modules = with(all, "token-module", "ok");
  ASSERT_EQ(modules.size(), 2u) << json(all).dump(1);
  for (const json& module : modules) EXPECT_EQ(module["facts"]["where"], "in the system folder");
  const json& fixture = Vectors()["fixture"];
  std::vector<std::string> labels;
  for (const json& token : with(all, "token", "ok")) labels.push_back(token["facts"]["label"]);
  EXPECT_EQ(labels.front(), fixture["tokens"][0]["label"]);
  const std::vector<json> store = with(all, "store", "ok");
  ASSERT_EQ(store.size(), 1u);
  size_t keyed = 0;
  for (const json& entry : fixture["store"]) keyed += entry["private_key"] ? 1 : 0;
  EXPECT_EQ(store[0]["facts"]["certificates"], fixture["store"].size());
  EXPECT_EQ(store[0]["facts"]["private_keys"], keyed);
  EXPECT_EQ(with(all, "allow-list", "ok").at(0)["facts"]["sites"], json::array({kAllowedOrigin}));
  const auto text = host({"--diagnose"});
  EXPECT_EQ(WEXITSTATUS(text.status), 0);
  EXPECT_NE(text.out.find("No problems found"), std::string::npos) << text.out;

  ASSERT_EQ(host({"--unregister"}).status, 0);
  const auto unregistered = host({"--diagnose", "--json"});
  EXPECT_EQ(WEXITSTATUS(unregistered.status), 1);
  std::vector<std::string> browsers;
  for (const json& problem : with(findings(unregistered), "manifest", "problem")) {
    browsers.push_back(problem["subject"]);
    EXPECT_NE(problem["fix"].get<std::string>().find("tarvona-host.exe --register"),
              std::string::npos);
  }
  EXPECT_EQ(browsers, (std::vector<std::string>{"Chrome", "Edge", "Firefox"}));
}

// The conformance vectors through tarvona-host.exe, in either framing, as
// tarvona-host --lines runs them on Linux: each group on a control of its
// own, OpenSSL judging what the control produced. In frames the page rules
// hold: a certificate file (source 4) gets the refusal the host answers
// for it, never the control's own answer.
class WindowsHostVectorsTest : public WindowsHostTest, public ::testing::WithParamInterface<bool> {
 protected:
  // What the page rules make of a step in frames.
  static json AsAPageSeesIt(const json& step, const json& args) {
    static const std::vector<std::string> kStoreMethods = {"SignByCSP", "VerifyByCSP",
                                                           "EncryptByCSP", "DecryptByCSP"};
    const std::string call = step["call"];
    if (args.size() < 2 || args[1] != 4 ||
        std::find(kStoreMethods.begin(), kStoreMethods.end(), call) == kStoreMethods.end()) {
      return step;
    }
    json refused = {{"call", call}, {"args", step["args"]}};
    refused["expect"] = call == "VerifyByCSP" ? json(1004) : json("");
    return refused;
  }
};

TEST_P(WindowsHostVectorsTest, EveryGroupGivesWhatTheTableSays) {
  const bool frames = GetParam();
  using conformance::Outcome;
  // The store's selection dialog needs a display; Wine's programs started
  // from here on use it.
  testing::XvfbDisplay display;
  const bool shown = testing::XvfbDisplay::Available() && display.Start();
  if (shown) Shell("wineserver -k; wineserver -p");
  size_t calls = 0;
  for (const json& group : Vectors()["groups"]) {
    SCOPED_TRACE(group["name"].get<std::string>());
    // The dialog is answered as the table says; without a display a cancel
    // happens at once, and an acceptance cannot.
    const std::string dialog = group.value("dialog", "");
    if (dialog == "accept" && !shown) continue;
    const bool answer = shown && !dialog.empty();
    conformance::Variables variables(conformance::FixtureValues(Vectors(), testing::TestDataDir(),
                                                                conformance::PathStyle::kWindows));
    Host host(frames);
    ASSERT_EQ(host.Create()["object"], 1);
    int index = 0;
    for (const json& table_step : group["steps"]) {
      const json args = variables.Evaluate(table_step["args"]);
      const json step = frames ? AsAPageSeesIt(table_step, args) : table_step;
      SCOPED_TRACE("step " + std::to_string(++index) + ": " + step.dump());
      if (answer) {
        display.AnswerWindow("Select Certificate", dialog == "accept" ? "Return" : "Escape");
      }
      json response = host.Send({{"object", 1}, {"method", step["call"]}, {"params", args}});
      if (answer) {
        EXPECT_TRUE(display.KeysTyped()) << "the dialog did not show";
      }
      ++calls;
      Outcome outcome{
          response.value("result", json()),
          response.contains("error") ? response["error"]["name"].get<std::string>() : ""};
      EXPECT_EQ(conformance::CheckStep(step, outcome, variables), "");
      if (step.contains("judge") && outcome.result.is_string()) {
        EXPECT_EQ(conformance::Judge(step["judge"], outcome.result.get<std::string>(),
                                     testing::TestDataDir()),
                  "")
            << step["id"];
      }
    }
    EXPECT_EQ(host.Send({{"release", 1}})["released"], 1);
    EXPECT_EQ(host.Finish(), 0);
  }
  std::cout << calls << " calls in " << (frames ? "frames" : "lines")
            << (shown ? "" : ", without the dialog groups (no Xvfb)") << "\n";
}

std::string FramingName(const ::testing::TestParamInfo<bool>& framing) {
  return framing.param ? "Frames" : "Lines";
}
INSTANTIATE_TEST_SUITE_P(Framings, WindowsHostVectorsTest, ::testing::Values(false, true),
                         FramingName);

// The end of the host's input destroys every control it holds: two
// controls logged in to the token through both module generations, and
// each module finalised (the bridge logs it) only at the end of input and
// before the host ends. A module is finalised when the last control using
// it goes, so its finalisation shows both controls gone.
TEST_F(WindowsHostTest, EndOfInputDestroysEveryControl) {
  for (const bool frames : {false, true}) {
    SCOPED_TRACE(frames ? "frames" : "lines");
    std::filesystem::remove(kBridgeLog);
    Host host(frames);
    for (int object = 1; object <= 2; ++object) {
      ASSERT_EQ(host.Create()["object"], object);
      json session =
          host.Send({{"object", object}, {"method", "ConnectToken"}, {"params", json::array()}});
      ASSERT_TRUE(session["result"].is_number_integer()) << session.dump();
      EXPECT_EQ(host.Send({{"object", object},
                           {"method", "Login"},
                           {"params", {session["result"], testing::kUserPin}}})["result"],
                0);
    }
    auto logged = [] {
      std::ifstream in(kBridgeLog);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(logged().find("C_Finalize"), std::string::npos) << logged();
    EXPECT_EQ(host.Finish(), 0);
    const std::string ended = logged();
    for (const char* module : {"Tarvonav4.dll", "Tarvonav5.dll"}) {
      EXPECT_NE(ended.find(std::string(module) + " C_Finalize"), std::string::npos)
          << module << ":\n"
          << ended;
    }
  }
}

}  // namespace
}  // namespace tarvona
