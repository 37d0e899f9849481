#pragma once

#include <windows.h>

#include "host/control_host.h"

namespace tarvona::host {

// Controls over Windows' own COM, as any COM host reaches them: the
// thread joins a single-threaded apartment (controls are apartment
// model), CLSIDFromProgID + CoCreateInstance create them, and calls go
// through IDispatch::GetIDsOfNames/Invoke with VARIANTs, text as BSTRs.
class ComControlHost final : public ControlHost {
 public:
  ComControlHost();
  // Leaves the apartment; release every control first.
  ~ComControlHost() override;
  ComControlHost(const ComControlHost&) = delete;
  ComControlHost& operator=(const ComControlHost&) = delete;

  Outcome Create(const std::string& prog_id, const std::string* origin, int hangup,
                 std::unique_ptr<HostedControl>* control) override;
  void FreeUnused() override;
  // Dispatches the messages posted to the apartment's thread while it
  // waited for input (an STA's calls and COM's own housekeeping arrive as
  // messages).
  void PumpMessages();

 private:
  HRESULT joined_;
};

}  // namespace tarvona::host
