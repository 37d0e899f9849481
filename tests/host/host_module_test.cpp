#include <gtest/gtest.h>
#include <png.h>

#include <dlfcn.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <objbase.h>
#include <windows.h>

#include "common/registration_record.h"
#include "encoding/base64.h"
#include "host/host_process.h"
#include "linux/com/registry_model.h"
#include "platform/com_ptr.h"
#include "testing/softhsm_tokens.h"
#include "tests/host/host_fixture.h"
#include "testing/host_lines_client.h"

namespace tarvona {
namespace {

using nlohmann::json;
using testing::RunHost;
using testing::RunProgram;

constexpr char kCreate[] = R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})";

using RegsvrTest = testing::RegisteredModuleTest;

TEST_F(RegsvrTest, RegistersAndUnregistersTheModuleForTheHost) {
  int status = 0;
  EXPECT_EQ(RunHost(std::string(kCreate) + "\n", &status),
            (std::vector<std::string>{R"({"id":1,"object":1})"}));

  auto removed = RunProgram({TARVONA_REGSVR_PATH, "-u", TARVONA_MODULE_PATH});
  EXPECT_EQ(removed.status, 0) << removed.err;
  auto lines = RunHost(std::string(kCreate) + "\n", &status);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(json::parse(lines[0])["error"]["name"], "REGDB_E_CLASSNOTREG");
  // Unregistering again finds nothing to remove and succeeds.
  EXPECT_EQ(RunProgram({TARVONA_REGSVR_PATH, "-u", TARVONA_MODULE_PATH}).status, 0);
}

TEST_F(RegsvrTest, ReportsFailuresInHexAndBadUse) {
  // A record that cannot be written: its folder is a file.
  std::filesystem::remove_all(data_home_ + "/tarvona");
  std::ofstream(data_home_ + "/tarvona") << "";
  auto refused = RunProgram({TARVONA_REGSVR_PATH, TARVONA_MODULE_PATH});
  ASSERT_TRUE(WIFEXITED(refused.status));
  EXPECT_EQ(WEXITSTATUS(refused.status), 1);
  EXPECT_NE(refused.err.find("0x80040200 (SELFREG_E_TYPELIB)"), std::string::npos) << refused.err;
  std::filesystem::remove(data_home_ + "/tarvona");

  EXPECT_EQ(WEXITSTATUS(RunProgram({TARVONA_REGSVR_PATH}).status), 2);
  EXPECT_EQ(WEXITSTATUS(RunProgram({TARVONA_REGSVR_PATH, "-x", TARVONA_MODULE_PATH}).status), 2);
  EXPECT_EQ(WEXITSTATUS(RunProgram({TARVONA_REGSVR_PATH, "--system", "-u"}).status), 2);
  EXPECT_EQ(WEXITSTATUS(RunProgram({TARVONA_REGSVR_PATH, "-u", TARVONA_MODULE_PATH, "--system"}).status), 2);
  EXPECT_EQ(WEXITSTATUS(RunProgram({TARVONA_REGSVR_PATH, "/nonexistent.ocx"}).status), 3);
  EXPECT_EQ(WEXITSTATUS(RunProgram({TARVONA_REGSVR_PATH, TARVONA_HOST_PATH}).status), 3);
}

using ActivationTest = testing::RegisteredModuleTest;

TEST_F(ActivationTest, FollowsTheRecordToTheModuleAndFreesItWhenUnused) {
  testing::SoftHsmTokens tokens;
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(CLSIDFromProgID(u"tarvonaactivex.tarvonaactivexctrl.1", &clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, identity::ToGuid<GUID>(identity::kControlClsid)));
  const std::string module = std::filesystem::canonical(TARVONA_MODULE_PATH).string();
  auto loaded = [&] {
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
  };
  {
    platform::Held<IDispatch> control;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               control.PutVoid()),
              S_OK);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(loaded());  // the control still lives
  }
  CoFreeUnusedLibraries();

  // A record that names a missing file, or a file that is no server.
  linux_com::FileRegistry registry(RecordPath());
  const std::string server =
      "CLSID\\" + registration::GuidText(identity::kControlClsid) + "\\InprocServer32";
  struct Case {
    std::string path;
    HRESULT expected;
  };
  const Case cases[] = {
      {"/nonexistent/TarvonaActiveX.ocx", CO_E_DLLNOTFOUND},
      {std::filesystem::path(module).replace_filename("Tarvonav4.dll").string(), CO_E_ERRORINDLL},
      {"", REGDB_E_CLASSNOTREG},
  };
  for (const Case& c : cases) {
    if (c.path.empty()) {
      ASSERT_EQ(registry.DeleteTree(server), ERROR_SUCCESS);
    } else {
      ASSERT_EQ(registry.SetValue(server, "", c.path), ERROR_SUCCESS);
    }
    platform::Held<IDispatch> control;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               control.PutVoid()),
              c.expected)
        << c.path;
  }
  CoUninitialize();
  EXPECT_FALSE(loaded());
}

// One host for the whole test, spoken to a line at a time.
class HostTest : public testing::RegisteredModuleTest {
 protected:
  // The host ends cleanly at the end of its input: under the sanitizers a
  // leak or a fault would show in its status.
  ~HostTest() override { EXPECT_EQ(host_.Finish(), 0); }

  json Send(json request) { return host_.Send(std::move(request)); }
  json Call(const std::string& method, json params) {
    return host_.Call(method, std::move(params));
  }

  testing::SoftHsmTokens tokens_;
  testing::HostLinesClient host_{TARVONA_HOST_PATH};
};

TEST_F(HostTest, CarriesTheTypicalTokenRoad) {
  tokens_.AddToken("alpha");
  tokens_.ImportKeyPair("alpha", "rsa2048", {0x01});
  ASSERT_EQ(Send({{"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}})["object"], 1);
  json handle = Call("ConnectToken", json::array());
  ASSERT_TRUE(handle.is_number_integer());
  ASSERT_GE(handle.get<int64_t>(), 0x10000);
  EXPECT_EQ(Call("Login", {handle, testing::kUserPin}), 0);
  json certificate = Call("EnumCertificate", {handle, 0});
  std::string serial = Call("GetAttribute", {handle, certificate, 3});
  ASSERT_FALSE(serial.empty());
  const std::string data = "5061792031303020455552";
  std::string signature = Call("SignByCertSerial", {handle, serial, 0, data});
  EXPECT_EQ(signature.size(), 512u);
  EXPECT_EQ(Call("VerifyByCertSerial", {handle, serial, 0, data, signature}), 0);
  EXPECT_EQ(Call("VerifyByCertSerial", {handle, serial, 0, data + "21", signature}), 1007);
  EXPECT_EQ(Call("Logout", {handle}), 0);
  EXPECT_EQ(Call("DisconnectToken", {handle}), 0);
  EXPECT_EQ(Send({{"release", 1}})["released"], 1);
}

TEST_F(HostTest, SavesLoadsAndResetsTheControlsState) {
  ASSERT_EQ(Send({{"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}})["object"], 1);
  const json fresh = {
      {"_Version", 65536}, {"_ExtentX", 794}, {"_ExtentY", 794}, {"_StockProps", 0}};
  EXPECT_EQ(Send({{"save", 1}})["properties"].dump(), fresh.dump());
  EXPECT_EQ(Send({{"load",
                   {{"object", 1},
                    {"properties", {{"_Version", 131072}, {"_ExtentX", "1000"}}}}}})["loaded"],
            1);
  json saved = Send({{"save", 1}})["properties"];
  EXPECT_EQ(saved["_Version"], 65536);
  EXPECT_EQ(saved["_ExtentX"], 1000);
  EXPECT_EQ(Send({{"reset", 1}})["reset"], 1);
  EXPECT_EQ(Send({{"save", 1}})["properties"]["_ExtentX"], 1000);

  EXPECT_EQ(Send({{"save", 2}})["error"]["name"], "E_HANDLE");
  EXPECT_EQ(Send({{"load", {{"object", 1}}}})["error"]["name"], "E_INVALIDARG");
}

// The PNG's pixels, three bytes each.
std::vector<uint8_t> DecodePng(const std::string& base64, png_uint_32* width, png_uint_32* height) {
  std::vector<uint8_t> file = Base64Decode(base64);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) return {};
  *width = image.width;
  *height = image.height;
  return pixels;
}

TEST_F(HostTest, DrawsThePictureAndListsThePropertyPage) {
  ASSERT_EQ(Send({{"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}})["object"], 1);
  json drawn = Send({{"object", 1}, {"draw", {{"width", 64}, {"height", 48}}}});
  ASSERT_TRUE(drawn.contains("png")) << drawn.dump();
  png_uint_32 width = 0, height = 0;
  std::vector<uint8_t> pixels = DecodePng(drawn["png"], &width, &height);
  ASSERT_EQ(width, 64u);
  ASSERT_EQ(height, 48u);
  for (int32_t y = 0; y < 48; ++y) {
    for (int32_t x = 0; x < 64; ++x) {
      const uint8_t* p = &pixels[(static_cast<size_t>(y) * 64 + static_cast<size_t>(x)) * 3];
      std::array<uint8_t, 3> expected{255, 255, 255};
      if (x < 30 && y < 30) {
        const identity::PictureInk ink =
            identity::PictureInkAt((2 * x + 1) * 32 / 60, (2 * y + 1) * 32 / 60);
        expected = {ink.red, ink.green, ink.blue};
      }
      ASSERT_EQ((std::array<uint8_t, 3>{p[0], p[1], p[2]}), expected) << x << "," << y;
    }
  }
  EXPECT_EQ(Send({{"object", 1}, {"draw", {{"width", 0}, {"height", 48}}}})["error"]["name"],
            "E_INVALIDARG");

  json pages = Send({{"pages", 1}})["pages"];
  EXPECT_EQ(pages.dump(),
            json::array({{{"clsid", "{AA974F6C-9331-4826-A667-AFA32E4EE295}"},
                          {"caption", "General"},
                          {"text",
                           {"TODO: Place controls to manipulate properties of TarvonaActiveX "
                            "Control on this dialog."}}}})
                .dump());
}

}  // namespace
}  // namespace tarvona
