// tarvona-host.exe under 64-bit Wine, driven through its pipes as browsers
// and programs drive it: the control registered in a prefix of its own
// with regsvr32, the token road through the Wine bridge to SoftHSM2, the
// allow-list in the prefix's %APPDATA%. Shapes and errors are the Linux
// host's.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/host_process.h"
#include "host/native_messaging.h"
#include "testing/softhsm_tokens.h"
#include "tests/host/host_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;

const std::string kScripts = std::string(TARVONA_SOURCE_DIR) + "/scripts";
const std::string kExe =
    std::string(TARVONA_SOURCE_DIR) + "/build-windows/x86_64/bin/tarvona-host.exe";
const std::string kOcx =
    std::string(TARVONA_SOURCE_DIR) + "/build-windows/x86_64/TarvonaActiveX.ocx";
constexpr char kProgId[] = "TARVONAACTIVEX.TarvonaActiveXCtrl.1";

std::string Frame(std::string_view payload) {
  auto length = static_cast<uint32_t>(payload.size());
  return std::string(reinterpret_cast<const char*>(&length), 4) + std::string(payload);
}

testing::Finished ShellRun(const std::string& command) {
  return testing::RunProgram({"/bin/sh", "-c", ". " + kScripts + "/wine-env.sh; " + command});
}

int Shell(const std::string& command) { return ShellRun(command).status; }

class WindowsHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::filesystem::exists(kExe) || !std::filesystem::exists(kOcx)) return;
    tokens_ = new testing::SoftHsmTokens();
    tokens_->AddToken("alpha");
    tokens_->ImportKeyPair("alpha", "rsa2048", {0x01});
    const std::string prefix = TARVONA_WINE_HOST_PREFIX;
    std::filesystem::remove_all(prefix);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("TARVONA_BRIDGE_ADAPTORS", testing::FaultModulesDir().c_str(), 1);
    unsetenv("DISPLAY");  // no desktop: the consent dialog denies at once
    unsetenv("WAYLAND_DISPLAY");
    Shell("wineserver -p");
    ready_ =
        testing::RunProgram({kScripts + "/wine-bridge.sh", prefix, TARVONA_BINARY_DIR}).status ==
            0 &&
        Shell("\"$TARVONA_WINE\" regsvr32 /s \"$(\"$TARVONA_WINE\" winepath -w '" + kOcx +
              "' 2>/dev/null)\"") == 0;
    const char* user = getenv("USER");
    const std::filesystem::path roaming = std::filesystem::path(prefix) / "drive_c/users" /
                                          (user != nullptr ? user : "root") / "AppData/Roaming";
    std::filesystem::create_directories(roaming / "Tarvona");
    std::ofstream(roaming / "Tarvona/allowed-origins") << "# pages\nhttp://localhost:8000\n";
  }
  static void TearDownTestSuite() {
    Shell("wineserver -k 2>/dev/null || true");
    delete tokens_;
    tokens_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "needs " << kExe << " and the control (scripts/build-windows.sh)";
  }

  // The host as a browser starts it, to the end of `input`; its frames.
  std::vector<json> RunFramed(const std::string& input, int* status, std::string* rest) {
    auto finished =
        testing::RunProgram({kScripts + "/wine-run.sh", kExe, "chrome-extension://x/"}, input);
    *status = finished.status;
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

  static testing::SoftHsmTokens* tokens_;
  static bool ready_;
};

testing::SoftHsmTokens* WindowsHostTest::tokens_ = nullptr;
bool WindowsHostTest::ready_ = false;

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
      {{{"save", 1}}, "E_NOTIMPL"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(send(c.request)["error"]["name"], c.error) << c.request.dump();
  }
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

// --register writes a manifest and one key per browser naming it;
// --unregister takes both away again.
TEST_F(WindowsHostTest, RegistersWithEachBrowserAndUnregisters) {
  const std::string browsers[] = {"Google\\Chrome", "Microsoft\\Edge", "Mozilla"};
  auto query = [](const std::string& browser) {
    return ShellRun("\"$TARVONA_WINE\" reg query 'HKCU\\Software\\" + browser +
                    "\\NativeMessagingHosts\\com.tarvona.host' 2>/dev/null");
  };
  ASSERT_EQ(testing::RunProgram({kScripts + "/wine-run.sh", kExe, "--register"}).status, 0);
  for (const std::string& browser : browsers) {
    const std::string out = query(browser).out;
    EXPECT_NE(out.find("\\Tarvona\\com.tarvona.host."), std::string::npos) << browser << out;
  }
  ASSERT_EQ(testing::RunProgram({kScripts + "/wine-run.sh", kExe, "--unregister"}).status, 0);
  for (const std::string& browser : browsers) EXPECT_NE(query(browser).status, 0) << browser;
}

}  // namespace
}  // namespace tarvona
