// The machine's policy on Linux: one JSON object in /etc/tarvona/policy.json.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/policy.h"

namespace tarvona::host {
namespace {

constexpr char kFolder[] = "/etc/tarvona";
constexpr char kFile[] = "/etc/tarvona/policy.json";
constexpr long kLargestFile = 1 << 20;

// A policy that a user can change is no policy: root owns it, and neither
// its group nor others may write it (nor, by replacing it, its folder).
bool OnlyRootWrites(const struct stat& info) {
  return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

StoredPolicy ReadStoredPolicy() {
  StoredPolicy stored;
  stored.list_form = "a list of origins ([\"https://corp.example\"])";
  stored.switch_form = "true or false";
  auto unreadable = [&stored] {
    stored.problems.push_back(std::string(kFile) + " cannot be read: " + std::strerror(errno));
    return stored;
  };
  // Looked at before it is opened: opening a FIFO would wait for a writer.
  struct stat info {};
  if (stat(kFile, &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return stored;
    return unreadable();
  }
  struct stat folder {};
  if (stat(kFolder, &folder) != 0) return unreadable();
  if (!OnlyRootWrites(info) || !OnlyRootWrites(folder)) {
    stored.notes.push_back(std::string(kFile) +
                           " is ignored: users other than root can change it (it, or its folder, "
                           "must belong to root and be writable by root alone)");
    return stored;
  }
  stored.read_from.push_back(kFile);
  if (!S_ISREG(info.st_mode)) {
    stored.problems.push_back(std::string(kFile) + " is not a file");
    return stored;
  }
  if (info.st_size > kLargestFile) {
    stored.problems.push_back(std::string(kFile) + " is larger than 1 MiB");
    return stored;
  }
  // Only root can replace it now that its folder is root's alone.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(kFile, "rbe"), &std::fclose);
  if (!file) return unreadable();
  std::string text(static_cast<size_t>(info.st_size), '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  if (std::ferror(file.get())) return unreadable();
  nlohmann::json document;
  try {
    document = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& error) {
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
    std::string what = error.what();
    const size_t start = what.find("] ");
    stored.problems.push_back(std::string(kFile) + " is not JSON: " +
                              (start == std::string::npos ? what : what.substr(start + 2)));
    return stored;
  }
  if (!document.is_object()) {
    stored.problems.push_back(std::string(kFile) + " must hold one JSON object");
    return stored;
  }
  for (auto& [name, value] : document.items()) {
    stored.settings.push_back({name, std::move(value), kFile});
  }
  return stored;
}

}  // namespace tarvona::host
