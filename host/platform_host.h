#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "host/control_host.h"

namespace tarvona::host {

// The platform's controls for this process: on Linux the COM emulation
// over the registration record, on Windows real COM in a single-threaded
// apartment (windows/host/).
class PlatformControls {
 public:
  virtual ~PlatformControls() = default;
  virtual ControlHost& host() = 0;
  // Runs what queued up for the host's thread while it waited for input
  // (an apartment's posted messages); nothing where nothing queues.
  virtual void Pump() {}
};

std::unique_ptr<PlatformControls> OpenPlatformControls();

// Sets the standard streams up before any mode runs. On Windows they
// become binary: frames are bytes, so no CR may be put before a length
// byte of 10 and no Ctrl-Z may end the input early. On Linux a reader that
// has gone away shows as a failed write, not a signal.
void PrepareStandardStreams();

// The modes only this platform has, tried before the shared ones: on
// Windows --register | --unregister [--machine]. The exit code of the mode
// that ran, or nullopt when the arguments name none of them.
std::optional<int> RunPlatformMode(int argc, char** argv);

// The user's allow-list below the user's settings folder
// (platform::UserConfigFolder()): "tarvona/allowed-origins" on Linux,
// "Tarvona\allowed-origins" under %APPDATA% on Windows.
extern const char kAllowListName[];

// Appends `line` to the file, making it if need be, in one write that a
// second host appending at the same time cannot split or interleave.
// Failures are ignored: an origin not remembered is asked for again.
void AppendLine(const std::filesystem::path& path, std::string_view line);

// Windows only: writes or removes the browsers' registry keys and
// manifests for this host, for the current user or (machine) for every
// user; false on any failure. (On Linux, scripts/tarvona-install.sh
// writes the manifests.)
bool RegisterWithBrowsers(bool machine);
bool UnregisterFromBrowsers(bool machine);

}  // namespace tarvona::host
