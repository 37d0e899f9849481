// Children run through the one spawn helper: what they get and what comes
// back, and that none is left behind.
#include "platform/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
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

// The caller's input hanging up ends the child at once, whenever it
// happens; requests waiting there are left unread, and input that stays
// open or never hangs up changes nothing.
TEST(ChildProcessTest, ChildEndsWhenTheCallersInputHangsUp) {
  char folder[] = "/tmp/tarvona-child-XXXXXX";
  const std::filesystem::path scratch = mkdtemp(folder);
  const std::string started = (scratch / "started").string();
  enum class Input { kPipe, kSocket, kFile };
  enum class Hangup { kBefore, kWhileRunning, kNever };
  const struct {
    Input input;
    Hangup hangup;
    std::string pending;  // request bytes the caller has not read yet
    bool answered;
  } cases[] = {
      {Input::kPipe, Hangup::kBefore, "", false},
      {Input::kPipe, Hangup::kWhileRunning, "", false},
      {Input::kPipe, Hangup::kWhileRunning, "{\"id\":2}", false},
      {Input::kPipe, Hangup::kNever, "{\"id\":2}", true},
      {Input::kSocket, Hangup::kWhileRunning, "", false},
      {Input::kFile, Hangup::kNever, "{\"id\":2}", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(&c - cases));
    std::filesystem::remove(started);
    int ends[2];  // [0] is the caller's input, [1] the other side
    if (c.input == Input::kSocket) {
      ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    } else if (c.input == Input::kPipe) {
      ASSERT_EQ(pipe(ends), 0);
    } else {
      ends[0] = open((scratch / "input").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
      ends[1] = dup(ends[0]);
    }
    ASSERT_EQ(write(ends[1], c.pending.data(), c.pending.size()),
              static_cast<ssize_t>(c.pending.size()));
    if (c.input == Input::kFile) lseek(ends[0], 0, SEEK_SET);
    if (c.hangup == Hangup::kBefore) close(ends[1]);
    // Hangs up once the child has shown it runs.
    std::thread caller([&] {
      if (c.hangup != Hangup::kWhileRunning) return;
      while (!std::filesystem::exists(started)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      close(ends[1]);
    });
    // Answers by itself only when nobody hangs up: waits for ever otherwise.
    const std::string script =
        c.answered ? "touch \"$1\"; echo answer" : "touch \"$1\"; exec sleep 1000";
    const std::string arguments[] = {"-c", script, "sh", started};
    auto outcome = RunChild("/bin/sh", arguments, "", 100, ends[0]);
    caller.join();
    EXPECT_EQ(outcome.has_value(), c.answered);
    if (outcome) {
      EXPECT_EQ(outcome->output, "answer\n");
    }
    EXPECT_EQ(std::filesystem::exists(started), c.hangup != Hangup::kBefore);
    std::string left(c.pending.size(), '\0');
    EXPECT_EQ(read(ends[0], left.data(), left.size()), static_cast<ssize_t>(left.size()));
    EXPECT_EQ(left, c.pending);
    close(ends[0]);
    if (c.hangup == Hangup::kNever) close(ends[1]);
  }
  std::filesystem::remove_all(scratch);
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace tarvona::platform
