#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tarvona::testing {

struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a program to its end with `input` on stdin.
inline Finished RunProgram(const std::vector<std::string>& argv, const std::string& input = "") {
  char in_path[] = "/tmp/tarvona-in-XXXXXX";
  char out_path[] = "/tmp/tarvona-out-XXXXXX";
  char err_path[] = "/tmp/tarvona-err-XXXXXX";
  for (char* path : {in_path, out_path, err_path}) close(mkstemp(path));
  std::ofstream(in_path) << input;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path, O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err_path, O_WRONLY | O_TRUNC, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  Finished finished;
  EXPECT_EQ(posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  waitpid(pid, &finished.status, 0);
  auto slurp = [](const char* path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    unlink(path);
    return text.str();
  };
  unlink(in_path);
  finished.out = slurp(out_path);
  finished.err = slurp(err_path);
  return finished;
}

// Runs tarvona-host --lines on the given input and returns its output lines.
inline std::vector<std::string> RunHost(const std::string& input, int* exit_status) {
  Finished finished = RunProgram({TARVONA_HOST_PATH, "--lines"}, input);
  *exit_status = finished.status;
  std::vector<std::string> lines;
  std::istringstream out(finished.out);
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

// What a reply frame of the browser's road says, in short: "waiting" (the
// consent dialog's notice), "created", an error's name, or the result
// ("text" for a string that is not empty).
inline std::string Said(const nlohmann::json& reply) {
  if (reply.contains("status")) return "waiting";
  if (reply.contains("object")) return "created";
  if (reply.contains("error")) return reply["error"]["name"].get<std::string>();
  if (reply["result"].is_string() && reply["result"] != "") return "text";
  return reply["result"].dump();
}

// A user classes file of its own (XDG_DATA_HOME) with the module registered
// in it by tarvona-regsvr, as a user would install the control.
class RegisteredModuleTest : public ::testing::Test {
 protected:
  RegisteredModuleTest() {
    char folder[] = "/tmp/tarvona-xdg-XXXXXX";
    data_home_ = mkdtemp(folder);
    setenv("XDG_DATA_HOME", data_home_.c_str(), 1);
    Finished registered = RunProgram({TARVONA_REGSVR_PATH, TARVONA_MODULE_PATH});
    EXPECT_EQ(registered.status, 0) << registered.err;
  }
  ~RegisteredModuleTest() override {
    unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(data_home_);
  }

  std::string RecordPath() const { return data_home_ + "/tarvona/classes.reg"; }

  std::string data_home_;
};

}  // namespace tarvona::testing
