#pragma once

#include "host/com_activation.h"
#include "host/control_host.h"

namespace tarvona::host {

// Controls over the COM emulation: created through the registration record
// (ComActivator) and reached only through their interfaces, with the
// container services the emulation's controls offer (property bags,
// drawing, property pages).
class EmulatedControlHost final : public ControlHost {
 public:
  explicit EmulatedControlHost(ComActivator& activator) : activator_(activator) {}

  Outcome Create(const std::string& prog_id, const std::string* origin, int hangup,
                 std::unique_ptr<HostedControl>* control) override;
  void FreeUnused() override { activator_.FreeUnusedLibraries(); }

 private:
  ComActivator& activator_;
};

}  // namespace tarvona::host
