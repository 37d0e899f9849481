// What the Windows run of the conformance vectors needs from the Linux side
// (scripts/test-windows-control.sh):
//   conformance_tool fixture OUT.js   the values the table names ("$pem:KEY",
//                                     ...) as JScript, paths on Wine's Z: drive
//   conformance_tool store            the fixture's store: "NAME<TAB>key" or
//                                     "NAME<TAB>certificate" per line
//   conformance_tool token -- CMD...  runs CMD with the fixture's SoftHSM2
//                                     tokens in place (SOFTHSM2_CONF and
//                                     TARVONA_PKCS11_MODULE set), its status
//   conformance_tool judge OUTPUT     judges with OpenSSL what the JScript run
//                                     printed ("JUDGE id<TAB>text" lines): every
//                                     judged step of every group it ran
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "encoding/hex.h"
#include "testing/softhsm_tokens.h"
#include "tests/conformance/conformance_table.h"

extern char** environ;

namespace tarvona::conformance {
namespace {

int Usage() {
  std::cerr << "usage: conformance_tool fixture OUT.js | store | token -- CMD... | judge OUTPUT\n";
  return 2;
}

int WriteFixture(const json& table, const std::string& out_path) {
  json values(FixtureValues(table, testing::TestDataDir(), PathStyle::kWindows));
  std::ofstream out(out_path, std::ios::binary);
  // JSON is a JScript literal; ASCII only, so the file's code page never matters.
  out << "var TARVONA_FIXTURE = " << values.dump(1, ' ', true) << ";\n";
  return out.good() ? 0 : 1;
}

int ListStore(const json& table) {
  for (const json& entry : table["fixture"]["store"]) {
    std::cout << entry["name"].get<std::string>() << '\t'
              << (entry["private_key"].get<bool>() ? "key" : "certificate") << '\n';
  }
  return 0;
}

int RunWithTokens(const json& table, char** command) {
  testing::SoftHsmTokens tokens;
  for (const json& token : table["fixture"]["tokens"]) {
    tokens.AddToken(token["label"]);
    for (const json& key : token["keys"]) {
      tokens.ImportKeyPair(token["label"], key["name"], HexDecode(key["id"].get<std::string>()));
    }
  }
  pid_t pid = 0;
  if (posix_spawnp(&pid, command[0], nullptr, nullptr, command, environ) != 0) {
    std::perror(command[0]);
    return 127;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char c = text[++i];
      out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    } else {
      out += text[i];
    }
  }
  return out;
}

int JudgeOutput(const json& table, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << path << '\n';
    return 1;
  }
  std::set<std::string> expected;
  std::set<std::string> seen;
  int failures = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("GROUP ", 0) == 0) {
      bool known = false;
      for (const json& group : table["groups"]) {
        if (group["name"] != line.substr(6)) continue;
        known = true;
        for (const std::string& id : JudgedIds(group)) expected.insert(id);
      }
      if (!known) {
        std::cerr << "unknown group: " << line.substr(6) << '\n';
        ++failures;
      }
    } else if (line.rfind("JUDGE ", 0) == 0) {
      const size_t tab = line.find('\t');
      const std::string id = line.substr(6, tab == std::string::npos ? tab : tab - 6);
      const json* step = FindJudgedStep(table, id);
      const std::string text = tab == std::string::npos ? "" : Unescaped(line.substr(tab + 1));
      const std::string verdict = step == nullptr
                                      ? "no such judged step"
                                      : Judge((*step)["judge"], text, testing::TestDataDir());
      seen.insert(id);
      if (!verdict.empty()) {
        std::cerr << "judged \"" << id << "\": " << verdict << '\n';
        ++failures;
      }
    }
  }
  for (const std::string& id : expected) {
    if (!seen.count(id)) {
      std::cerr << "not judged: \"" << id << "\" (its group ran, its result never came)\n";
      ++failures;
    }
  }
  std::cout << "OpenSSL judged " << seen.size() << " results, " << failures << " failures\n";
  return failures == 0 && !seen.empty() ? 0 : 1;
}

}  // namespace
}  // namespace tarvona::conformance

int main(int argc, char** argv) {
  using namespace tarvona::conformance;
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  try {
    const json table = LoadTable(TARVONA_VECTORS_PATH);
    if (command == "fixture" && argc == 3) return WriteFixture(table, argv[2]);
    if (command == "store" && argc == 2) return ListStore(table);
    if (command == "token" && argc > 3 && std::string(argv[2]) == "--") {
      return RunWithTokens(table, argv + 3);
    }
    if (command == "judge" && argc == 3) return JudgeOutput(table, argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "conformance_tool: " << e.what() << '\n';
    return 1;
  }
  return Usage();
}
