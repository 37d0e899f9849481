#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/host_session.h"
#include "testing/softhsm_tokens.h"
#include "tests/host/host_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;
using testing::RunHost;

using HostLinesTest = testing::RegisteredModuleTest;

TEST_F(HostLinesTest, CarriesTheConnectionRequestsAgainstASoftHsmToken) {
  testing::SoftHsmTokens tokens;
  std::string serial = tokens.AddToken("alpha");
  int status = 0;
  auto lines = RunHost(
      R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"}
{"id":2,"object":1,"method":"ConnectToken","params":[]}
{"id":"three","object":1,"dispid":26,"params":[0]}
{"id":4,"create":"No.Such.Class"}
{"id":5,"release":1}
{"id":6,"object":1,"method":"ConnectToken","params":[]}
)",
      &status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], R"({"id":1,"object":1})");
  json connect = json::parse(lines[1]);
  ASSERT_TRUE(connect["result"].is_number_integer()) << lines[1];
  int64_t handle = connect["result"];
  EXPECT_GE(handle, 0x10000);
  EXPECT_EQ(lines[2], R"({"id":"three","result":"1002"})");  // not this object's handle
  EXPECT_EQ(json::parse(lines[3])["error"]["name"], "REGDB_E_CLASSNOTREG");
  EXPECT_EQ(lines[4], R"({"id":5,"released":1})");
  EXPECT_EQ(json::parse(lines[5])["error"]["name"], "E_HANDLE");

  // The serial comes through the handle the host handed out.
  lines = RunHost(R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"}
{"id":2,"object":1,"method":"ConnectToken","params":[]}
)",
                  &status);
  ASSERT_EQ(lines.size(), 2u);
  handle = json::parse(lines[1])["result"];
  lines = RunHost(R"({"id":1,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"}
{"id":2,"object":1,"method":"ConnectToken","params":[]}
{"id":3,"object":1,"method":"retrieveserial","params":[)" +
                      std::to_string(handle) + "]}\n",
                  &status);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(json::parse(lines[2])["result"], serial);
}

TEST_F(HostLinesTest, AnswersMalformedRequestsAndGoesOn) {
  int status = 0;
  auto lines = RunHost(
      "not json\n"
      "[1,2]\n"
      "{\"id\":1}\n"
      "\n"
      "{\"id\":2,\"create\":\"TARVONAACTIVEX.TarvonaActiveXCtrl.1\"}\n"
      "{\"id\":3,\"object\":1,\"method\":\"Login\",\"params\":[1]}\n"
      "{\"id\":4,\"object\":1,\"method\":\"Login\",\"params\":[true,\"1\"]}\n"
      "{\"id\":5,\"object\":1,\"method\":\"Nope\",\"params\":[]}\n"
      "{\"id\":6,\"object\":1,\"dispid\":0,\"params\":[]}\n"
      "{\"id\":7,\"object\":1,\"method\":\"Login\",\"params\":\"x\"}\n"
      "{\"id\":8,\"object\":1,\"method\":\"VerifyCertCRL\",\"params\":[0,0,\"\"]}",
      &status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::vector<std::string> names;
  for (const auto& line : lines) {
    json response = json::parse(line);
    names.push_back(response.contains("error") ? response["error"]["name"].get<std::string>()
                                               : response.dump());
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "E_INVALIDARG", "E_INVALIDARG", "E_INVALIDARG", R"({"id":2,"object":1})",
                       "DISP_E_BADPARAMCOUNT", "DISP_E_TYPEMISMATCH", "DISP_E_UNKNOWNNAME",
                       "DISP_E_MEMBERNOTFOUND", "E_INVALIDARG", R"({"id":8,"result":1})"}));
}

TEST(HostSessionTest, ResponsesStayValidJsonWhateverBytesAResultHolds) {
  json response = {{"id", 1}, {"result", std::string("AB\xff\xfe", 4)}};
  EXPECT_EQ(host::Serialize(response), "{\"id\":1,\"result\":\"AB\xEF\xBF\xBD\xEF\xBF\xBD\"}");
}

}  // namespace
}  // namespace tarvona
