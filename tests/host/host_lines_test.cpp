#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_session.h"
#include "testing/softhsm_tokens.h"

extern char** environ;

namespace tarvona {
namespace {

using nlohmann::json;

// Runs tarvona-host --lines on the given input and returns its output lines.
std::vector<std::string> RunHost(const std::string& input, int* exit_status) {
  char in_path[] = "/tmp/tarvona-host-in-XXXXXX";
  char out_path[] = "/tmp/tarvona-host-out-XXXXXX";
  int in_fd = mkstemp(in_path);
  int out_fd = mkstemp(out_path);
  EXPECT_EQ(write(in_fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(in_fd);
  close(out_fd);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path, O_WRONLY | O_TRUNC, 0);
  char host[] = TARVONA_HOST_PATH;
  char lines[] = "--lines";
  char* argv[] = {host, lines, nullptr};
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, host, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  *exit_status = status;

  std::ifstream out(out_path);
  std::vector<std::string> result;
  for (std::string line; std::getline(out, line);) result.push_back(line);
  unlink(in_path);
  unlink(out_path);
  return result;
}

TEST(HostLinesTest, CarriesTheConnectionRequestsAgainstASoftHsmToken) {
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

TEST(HostLinesTest, AnswersMalformedRequestsAndGoesOn) {
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
