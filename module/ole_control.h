#pragma once

// The hosting framework's control base (COleControl): reference counting,
// the interfaces a container uses, persistence through a property
// exchange, the extent and the size request, and the live-object count. A
// control class derives from it and supplies the overridables.

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>

#include "com/ole_control.h"
#include "common/control_identity.h"
#include "module/object_factory.h"

namespace tarvona::module {

// One property exchange: loading from a bag, saving to it, or resetting to
// defaults (no bag). A value exchanged with a default takes the default on
// reset and when a load finds nothing usable; one without keeps its value.
class PropExchange {
 public:
  enum class Mode { kLoad, kSave, kReset };
  PropExchange(Mode mode, com::IPropertyBag* bag) : mode_(mode), bag_(bag) {}

  Mode mode() const { return mode_; }
  void Long(const char* name, int32_t& value);
  void Long(const char* name, int32_t& value, int32_t fallback);
  // The first failed write of a save.
  HRESULT result() const { return result_; }

 private:
  bool Read(const char* name, int32_t& value);
  void Write(const char* name, int32_t value);

  Mode mode_;
  com::IPropertyBag* bag_;
  HRESULT result_ = com::S_OK;
};

class OleControl : public com::IDispatch,
                   public com::IPersistPropertyBag,
                   public com::ISpecifyPropertyPages,
                   public com::IControlObject,
                   public com::IControlCaller {
 public:
  OleControl(const OleControl&) = delete;
  OleControl& operator=(const OleControl&) = delete;

  HRESULT QueryInterface(const IID& iid, void** out) noexcept final;
  ULONG AddRef() noexcept final { return ++references_; }
  ULONG Release() noexcept final;

  // IDispatch: one type description; names and calls go to the dispatch
  // table of the derived class.
  HRESULT GetTypeInfoCount(uint32_t* count) noexcept final;
  HRESULT GetTypeInfo(uint32_t index, com::LCID lcid, com::ITypeInfo** info) noexcept final;
  HRESULT GetIDsOfNames(const IID& iid, const char* const* names, uint32_t count, com::LCID lcid,
                        com::DISPID* ids) noexcept final;
  HRESULT Invoke(com::DISPID member, const IID& iid, com::LCID lcid, uint16_t flags,
                 const com::DispParams* params, com::Variant* result, com::ExcepInfo* excep,
                 uint32_t* arg_err) noexcept final;

  // IPersistPropertyBag (GetClassID comes from the derived class).
  HRESULT InitNew() noexcept final;
  HRESULT Load(com::IPropertyBag* bag) noexcept final;
  HRESULT Save(com::IPropertyBag* bag, bool clear_dirty, bool save_all) noexcept final;

  HRESULT GetPages(com::CAUUID* pages) noexcept final;

  // IControlObject (GetMiscStatus comes from the derived class).
  HRESULT SetClientSite(com::IControlSite* site) noexcept final;
  HRESULT GetExtent(com::SizeL* himetric) noexcept final;
  HRESULT SetExtent(const com::SizeL& himetric) noexcept final;
  HRESULT Draw(com::DrawingSurface* target, const com::RectL* bounds) noexcept final;

  // IControlCaller: handed to OnSetCaller.
  HRESULT SetCaller(const char* requester, int hangup) noexcept final;

  // The version found by the last load or reset.
  uint32_t loaded_version() const { return version_loaded_; }

 protected:
  // Counts itself among the module's live objects until destroyed.
  OleControl(ModuleState& module, const ModuleEnvironment& environment);
  virtual ~OleControl();

  // The dispatch interface and the event interface this control offers.
  void InitializeIIDs(const IID& primary, const IID& events);

  // Overridables. The base exchange is the standard one: the extent as
  // "_ExtentX" and "_ExtentY" (HIMETRIC), then the stock-property mask.
  virtual void DoPropExchange(PropExchange& px);
  // Exchange in reset mode, then a repaint.
  virtual void OnResetState();
  virtual void OnDraw(com::DrawingSurface& target, const com::RectL& bounds,
                      const com::RectL& invalid) = 0;
  virtual const CLSID* GetPropPageIDs(ULONG& count) = 0;
  virtual HRESULT GetTypeLib(com::LCID lcid, com::ITypeLib** lib) = 0;
  // Who the control works for (IControlCaller); ignored unless overridden.
  virtual void OnSetCaller(std::string_view requester, int hangup) {
    (void)requester, (void)hangup;
  }
  virtual HRESULT DispatchIdsOfNames(const char* const* names, uint32_t count,
                                     com::DISPID* ids) = 0;
  virtual HRESULT DispatchInvoke(com::DISPID member, std::span<const com::Variant> args,
                                 com::Variant& result, uint32_t* arg_err) = 0;

  // Framework services for the derived class.
  void ExchangeVersion(PropExchange& px, uint32_t default_version);
  // Asks the container for a size in pixels, as a HIMETRIC extent that the
  // control takes as its own; the answer is not looked at.
  void SetControlSize(int32_t cx, int32_t cy);
  void InvalidateControl();

  ModuleState& module() { return module_; }
  const ModuleEnvironment& environment() const { return environment_; }

 private:
  ModuleState& module_;
  const ModuleEnvironment& environment_;
  std::atomic<ULONG> references_{1};
  IID primary_iid_ = com::IID_NULL;
  IID events_iid_ = com::IID_NULL;
  com::ComPtr<com::IControlSite> site_;
  com::SizeL extent_;
  uint32_t version_loaded_ = 0;
};

using identity::PixelsToHimetric;

}  // namespace tarvona::module
