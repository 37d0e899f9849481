#pragma once

#include <atomic>
#include <vector>

#include "com/ole_control.h"
#include "module/object_factory.h"

namespace tarvona::module {

// The control's property page, "General": dialog 200 with one line of text.
// It exchanges nothing with the control, so applying it changes nothing.
// Counted among the module's live objects while it exists.
class CTarvonaActiveXPropPage final : public com::IPropertyPageDialog {
 public:
  CTarvonaActiveXPropPage(ModuleState& module, const ModuleEnvironment& environment);
  CTarvonaActiveXPropPage(const CTarvonaActiveXPropPage&) = delete;
  CTarvonaActiveXPropPage& operator=(const CTarvonaActiveXPropPage&) = delete;

  HRESULT QueryInterface(const IID& iid, void** out) noexcept override;
  ULONG AddRef() noexcept override { return ++references_; }
  ULONG Release() noexcept override;

  HRESULT GetDialog(com::DialogTemplate* dialog) noexcept override;
  HRESULT SetObjects(ULONG count, com::IUnknown* const* objects) noexcept override;
  HRESULT Apply() noexcept override { return com::S_OK; }
  HRESULT IsPageDirty() noexcept override { return com::S_FALSE; }

 private:
  ~CTarvonaActiveXPropPage();

  ModuleState& module_;
  const ModuleEnvironment& environment_;
  std::atomic<ULONG> references_{1};
  std::vector<com::ComPtr<com::IUnknown>> objects_;
};

}  // namespace tarvona::module
