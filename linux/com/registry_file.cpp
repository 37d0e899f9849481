#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "linux/com/registry_model.h"
#include "platform/user_folders.h"

namespace tarvona::linux_com {
namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool Close() { return close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p with mode 0700 for what it creates, as the XDG rules ask.
bool MakeFolders(const std::string& folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = FolderOf(folder);
  if (parent != folder && !MakeFolders(parent)) return false;
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// The file's bytes; an absent file reads as empty.
bool ReadWhole(const std::string& path, std::string& text) {
  text.clear();
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT;
  char buffer[8192];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buffer, static_cast<size_t>(n));
  }
}

bool WriteWhole(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

LSTATUS Parse(const std::string& text, MemoryRegistry* out) {
  if (text.empty()) {
    *out = MemoryRegistry();
    return ERROR_SUCCESS;
  }
  auto parsed = MemoryRegistry::FromText(text);
  if (!parsed) return ERROR_BADDB;
  *out = std::move(*parsed);
  return ERROR_SUCCESS;
}

// Replaces `path` by `text` so that the file is whole at every moment.
LSTATUS Replace(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  UniqueFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.get() < 0) return ERROR_CANTWRITE;
  if (!WriteWhole(fd.get(), text) || fsync(fd.get()) != 0 || !fd.Close() ||
      rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  // The rename itself reaches the disk with the folder.
  UniqueFd folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) fsync(folder.get());
  return ERROR_SUCCESS;
}

}  // namespace

std::string UserClassesPath() {
  std::filesystem::path data_home = platform::UserDataFolder();
  return data_home.empty() ? std::string() : (data_home / "tarvona/classes.reg").string();
}

FileRegistry::FileRegistry() = default;
FileRegistry::FileRegistry(std::string path) : path_(std::move(path)) {}

std::string FileRegistry::Path() const { return path_.empty() ? UserClassesPath() : path_; }

LSTATUS FileRegistry::Read(MemoryRegistry* out) const {
  std::string path = Path();
  std::string text;
  if (path.empty() || !ReadWhole(path, text)) return ERROR_CANTOPEN;
  return Parse(text, out);
}

template <typename Change>
LSTATUS FileRegistry::Modify(Change change) {
  std::string path = Path();
  if (path.empty() || !MakeFolders(FolderOf(path))) return ERROR_CANTOPEN;
  UniqueFd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return ERROR_CANTOPEN;
  while (flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ERROR_CANTOPEN;
  }
  std::string before;
  if (!ReadWhole(path, before)) return ERROR_CANTOPEN;
  MemoryRegistry registry;
  if (LSTATUS status = Parse(before, &registry); status != ERROR_SUCCESS) return status;
  if (LSTATUS status = change(registry); status != ERROR_SUCCESS) return status;
  std::string after = registry.ToText();
  // Writing the same record again changes nothing, so it costs nothing.
  if (after == before) return ERROR_SUCCESS;
  return Replace(path, after);
}

LSTATUS FileRegistry::CreateKey(std::string_view key) {
  return Modify([&](MemoryRegistry& r) { return r.CreateKey(key); });
}

LSTATUS FileRegistry::SetValue(std::string_view key, std::string_view name, std::string_view data) {
  return Modify([&](MemoryRegistry& r) { return r.SetValue(key, name, data); });
}

LSTATUS FileRegistry::DeleteTree(std::string_view key) {
  return Modify([&](MemoryRegistry& r) { return r.DeleteTree(key); });
}

LSTATUS FileRegistry::KeyExists(std::string_view key) const {
  MemoryRegistry registry;
  LSTATUS status = Read(&registry);
  return status != ERROR_SUCCESS ? status : registry.KeyExists(key);
}

LSTATUS FileRegistry::QueryValue(std::string_view key, std::string_view name,
                                 std::string* data) const {
  MemoryRegistry registry;
  LSTATUS status = Read(&registry);
  return status != ERROR_SUCCESS ? status : registry.QueryValue(key, name, data);
}

LSTATUS FileRegistry::EnumKeys(std::string_view key, std::vector<std::string>* names) const {
  MemoryRegistry registry;
  LSTATUS status = Read(&registry);
  return status != ERROR_SUCCESS ? status : registry.EnumKeys(key, names);
}

}  // namespace tarvona::linux_com
