#include "testing/nss_database.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "testing/softhsm_tokens.h"

extern char** environ;

namespace tarvona::testing {

void RunTool(const std::vector<std::string>& arguments) {
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error("failed: " + arguments[0] + " " + arguments[1]);
  }
}

NssDatabase::NssDatabase() {
  const char* tmp = std::getenv("TMPDIR");
  directory_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarvona-nssdb-XXXXXX";
  if (mkdtemp(directory_.data()) == nullptr) throw std::runtime_error("mkdtemp " + directory_);
  RunTool({"certutil", "-N", "-d", "sql:" + directory_, "--empty-password"});
}

NssDatabase::~NssDatabase() {
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void NssDatabase::ImportKeyPair(const std::string& key_name) {
  RunTool({"pk12util", "-i", TestDataDir() + "/" + key_name + ".p12", "-d", "sql:" + directory_,
           "-W", "test"});
}

void NssDatabase::AddCertificate(const std::string& path, const std::string& nickname,
                                 const std::string& trust) {
  RunTool({"certutil", "-A", "-d", "sql:" + directory_, "-n", nickname, "-t", trust, "-i", path});
}

std::string NssDatabase::MakeSelfSigned(const std::string& name, const std::string& subject,
                                        const std::string& serial) const {
  std::string base = directory_ + "/" + name;
  RunTool({"openssl", "genpkey", "-quiet", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024",
           "-out", base + ".key.pem"});
  RunTool({"openssl", "req", "-x509", "-key", base + ".key.pem", "-subj", subject, "-set_serial",
           serial, "-days", "30", "-outform", "DER", "-out", base + ".cert.der"});
  return base + ".cert.der";
}

void NssDatabase::MakeKeyPair(const std::string& nickname, const std::string& subject, int start,
                              int months) {
  std::vector<uint8_t> noise(64);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 131 + 7);
  RunTool({"certutil", "-S", "-x", "-d", "sql:" + directory_, "-n", nickname, "-s", subject, "-t",
           ",,", "-k", "rsa", "-g", "1024", "-w", std::to_string(start), "-v",
           std::to_string(months), "-z", WriteFile("noise", noise)});
}

void NssDatabase::SetPassword(const std::string& password) {
  // certutil reads an empty file as no answer, a bare line as the empty password.
  const std::string empty = WriteFile("old-password", {'\n'});
  const std::string wanted =
      WriteFile("new-password", std::vector<uint8_t>(password.begin(), password.end()));
  RunTool({"certutil", "-W", "-d", "sql:" + directory_, "-f", empty, "-@", wanted});
}

std::string NssDatabase::WriteFile(const std::string& name,
                                   const std::vector<uint8_t>& bytes) const {
  std::string path = directory_ + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace tarvona::testing
