// The Linux side of the host's platform seam (host/platform_host.h).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <optional>

#include "host/platform_host.h"

namespace tarvona::host {

const char kAllowListName[] = "tarvona/allowed-origins";

void PrepareStandardStreams() { std::signal(SIGPIPE, SIG_IGN); }

// The manifests are written by scripts/tarvona-install.sh and the package.
std::optional<int> RunPlatformMode(int, char**) { return std::nullopt; }

void AppendLine(const std::filesystem::path& path, std::string_view line) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  // One short line under a lock: two hosts never interleave their lines.
  flock(fd, LOCK_EX);
  const ssize_t written = write(fd, line.data(), line.size());
  (void)written;
  close(fd);
}

}  // namespace tarvona::host
