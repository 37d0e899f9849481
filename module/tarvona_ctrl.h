#pragma once

#include "control/tarvona_control.h"
#include "module/ole_control.h"

namespace tarvona::module {

// The control as its container sees it: the framework's control base
// around a CTarvonaActiveXCtrl, which receives every dispatch call. The
// base is built first (the live-object count goes up), then the control
// with its token pair (both token modules load); destruction runs the other
// way.
class TarvonaControlObject final : public OleControl {
 public:
  TarvonaControlObject(ModuleState& module, const ModuleEnvironment& environment);

  HRESULT GetClassID(CLSID* clsid) noexcept override;
  HRESULT GetMiscStatus(uint32_t* status) noexcept override;

  CTarvonaActiveXCtrl& control() { return control_; }

 protected:
  void DoPropExchange(PropExchange& px) override;
  // The whole bitmap 202 stretched to 30 x 30 at the target's origin, and a
  // request for a 30 x 30 size whenever the bounds are another size.
  // Nothing is kept between paints.
  void OnDraw(com::DrawingSurface& target, const com::RectL& bounds,
              const com::RectL& invalid) override;
  const CLSID* GetPropPageIDs(ULONG& count) override;
  HRESULT GetTypeLib(com::LCID lcid, com::ITypeLib** lib) override;
  HRESULT DispatchIdsOfNames(const char* const* names, uint32_t count, com::DISPID* ids) override;
  HRESULT DispatchInvoke(com::DISPID member, std::span<const com::Variant> args,
                         com::Variant& result, uint32_t* arg_err) override;

 private:
  ~TarvonaControlObject() override = default;

  CTarvonaActiveXCtrl control_;
};

}  // namespace tarvona::module
