// Children run through the one spawn helper: what they get and what comes
// back, and that none is left behind.
#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace tarvona::platform {
namespace {

TEST(ChildProcessTest, ChildGetsItsInputAndArgumentsAndNoOtherDescriptor) {
  // A descriptor any child would inherit were the helper careless.
  int held[2];
  ASSERT_EQ(pipe(held), 0);
  const struct {
    std::string script;
    std::vector<std::string> more;
    std::string input;
    size_t limit;
    int exit_code;
    std::string output;
  } cases[] = {
      {"cat", {}, "line one\nline two", 100, 0, "line one\nline two"},
      {"cat", {}, "", 100, 0, ""},
      {R"(printf '%s|%s' "$1" "$2")", {"two words", "-x"}, "", 100, 0, "two words|-x"},
      {"exit 7", {}, "", 100, 7, ""},
      {"kill -9 $$", {}, "", 100, -1, ""},
      {"printf 0123456789", {}, "", 4, 0, "0123"},
      // Far more than a pipe holds: the child never waits for a reader.
      {"head -c 1000000 /dev/zero", {}, "", 3, 0, std::string(3, '\0')},
      // The shell's own descriptors, listed by another process.
      {"ls /proc/$$/fd", {}, "", 100, 0, "0\n1\n2\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"-c", c.script, "sh"};
    arguments.insert(arguments.end(), c.more.begin(), c.more.end());
    auto outcome = RunChild("/bin/sh", arguments, c.input, c.limit);
    ASSERT_TRUE(outcome) << c.script;
    EXPECT_EQ(outcome->exit_code, c.exit_code) << c.script;
    EXPECT_EQ(outcome->output, c.output) << c.script;
  }
  // Not started; under valgrind, whose spawn is a fork, the child's exec
  // fails instead and it exits 127.
  auto missing = RunChild("/nonexistent/program", {}, "", 100);
  EXPECT_TRUE(!missing || missing->exit_code == 127);
  close(held[0]);
  close(held[1]);
  // Every child was reaped.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace tarvona::platform
