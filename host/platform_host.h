#pragma once

#include <memory>

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

// Windows only: writes or removes the browsers' registry keys and
// manifests for this host, for the current user or (machine) for every
// user; false on any failure. (On Linux, scripts/tarvona-install.sh
// writes the manifests.)
bool RegisterWithBrowsers(bool machine);
bool UnregisterFromBrowsers(bool machine);

}  // namespace tarvona::host
