#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace tarvona::testing {

// A private X server for a test of a real dialog, and a typist that waits
// for the dialog's window and presses keys in it. Tests skip when Xvfb or
// xdotool is missing.
class XvfbDisplay {
 public:
  static bool Available() {
    return std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") == 0;
  }

  // Starts the server and points DISPLAY at it; false when it did not start.
  bool Start() {
    // Xvfb picks a free display and reports it once it takes clients.
    int report[2];
    if (pipe(report) != 0) return false;
    server_ = Spawn({"Xvfb", "-displayfd", std::to_string(report[1]), "-nolisten", "tcp"});
    close(report[1]);
    std::string display = ":";
    for (char c = 0; read(report[0], &c, 1) == 1 && c != '\n';) display += c;
    close(report[0]);
    if (display.size() < 2) return false;
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus here
    // The dialogs speak the user's language: here English, whatever the
    // machine's, unless the test sets one (testing/user_locale.h).
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    return true;
  }

  ~XvfbDisplay() {
    End(typist_);
    End(server_);
    unsetenv("DISPLAY");
  }

  // Focuses the window titled exactly `title` once it shows and types the
  // keys: the window may be gone before the last key is released.
  void AnswerWindow(const std::string& title, const std::string& keys) {
    typist_ = Spawn({"sh", "-c", Focus(title) + " && xdotool key --delay 50 " + keys});
  }

  // Answers windows titled `title` one after another: each answer is a
  // shell command ("xdotool type secret && xdotool key Return") run once
  // the next window has focus, and the window must be gone before the next
  // one counts.
  void AnswerWindows(const std::string& title, const std::vector<std::string>& answers) {
    std::string script = "true";
    for (const std::string& answer : answers) {
      script += " && " + Focus(title) + " && " + answer + " && " + Gone(title);
    }
    typist_ = Spawn({"sh", "-c", script});
  }

  // Waits until a window titled `title` shows; false when none does.
  static bool Shows(const std::string& title) { return Run(Focus(title)); }
  // Waits until no window titled `title` shows; false when one stays.
  static bool Closed(const std::string& title) { return Run(Gone(title)); }

  // True once the typist has found the window and typed every key.
  bool KeysTyped() {
    int status = 0;
    bool typed =
        waitpid(typist_, &status, 0) == typist_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    typist_ = -1;
    return typed;
  }

 private:
  static std::string Named(const std::string& title) {
    return "--onlyvisible --name '^" + title + "$'";
  }
  static std::string Focus(const std::string& title) {
    return "timeout 20 xdotool search --sync " + Named(title) + " windowfocus --sync";
  }
  static std::string Gone(const std::string& title) {
    return "timeout 20 sh -c \"while xdotool search " + Named(title) +
           " >/dev/null; do sleep 0.1; done\"";
  }
  static bool Run(const std::string& script) {
    pid_t pid = Spawn({"sh", "-c", script});
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

  static pid_t Spawn(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
  }

  static void End(pid_t& pid) {
    if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
    pid = -1;
  }

  pid_t server_ = -1;
  pid_t typist_ = -1;
};

}  // namespace tarvona::testing
