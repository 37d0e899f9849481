#include "module/ole_control.h"

#include <algorithm>

namespace tarvona::module {

using com::S_OK;

namespace {

// A new control's extent: its picture's size.
constexpr int32_t kDefaultExtent = PixelsToHimetric(identity::kPictureSide);

}  // namespace

bool PropExchange::Read(const char* name, int32_t& value) {
  com::Variant read = int32_t{0};
  if (bag_ == nullptr || com::Failed(bag_->Read(name, &read))) return false;
  const auto* number = std::get_if<int32_t>(&read);
  if (number == nullptr) return false;
  value = *number;
  return true;
}

void PropExchange::Write(const char* name, int32_t value) {
  const com::Variant written = value;
  HRESULT hr = bag_ == nullptr ? com::E_POINTER : bag_->Write(name, &written);
  if (com::Failed(hr) && com::Succeeded(result_)) result_ = hr;
}

void PropExchange::Long(const char* name, int32_t& value) {
  if (mode_ == Mode::kLoad) Read(name, value);
  if (mode_ == Mode::kSave) Write(name, value);
}

void PropExchange::Long(const char* name, int32_t& value, int32_t fallback) {
  switch (mode_) {
    case Mode::kLoad:
      if (!Read(name, value)) value = fallback;
      break;
    case Mode::kSave:
      Write(name, value);
      break;
    case Mode::kReset:
      value = fallback;
      break;
  }
}

OleControl::OleControl(ModuleState& module, const ModuleEnvironment& environment)
    : module_(module), environment_(environment), extent_{kDefaultExtent, kDefaultExtent} {
  module_.LockApp();
}

OleControl::~OleControl() { module_.UnlockApp(); }

void OleControl::InitializeIIDs(const IID& primary, const IID& events) {
  primary_iid_ = primary;
  events_iid_ = events;
}

HRESULT OleControl::QueryInterface(const IID& iid, void** out) noexcept {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (iid == com::IID_IUnknown || iid == com::IID_IDispatch || iid == primary_iid_) {
    *out = static_cast<com::IDispatch*>(this);
  } else if (iid == com::IPersist::kIid || iid == com::IPersistPropertyBag::kIid) {
    *out = static_cast<com::IPersistPropertyBag*>(this);
  } else if (iid == com::ISpecifyPropertyPages::kIid) {
    *out = static_cast<com::ISpecifyPropertyPages*>(this);
  } else if (iid == com::IControlObject::kIid) {
    *out = static_cast<com::IControlObject*>(this);
  } else if (iid == com::IControlCaller::kIid) {
    *out = static_cast<com::IControlCaller*>(this);
  } else {
    return com::E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG OleControl::Release() noexcept {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT OleControl::GetTypeInfoCount(uint32_t* count) noexcept {
  if (count == nullptr) return com::E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT OleControl::GetTypeInfo(uint32_t index, com::LCID lcid, com::ITypeInfo** info) noexcept {
  if (info == nullptr) return com::E_POINTER;
  *info = nullptr;
  if (index != 0) return com::DISP_E_BADINDEX;
  return com::Guarded([&] {
    com::ComPtr<com::ITypeLib> lib;
    HRESULT hr = GetTypeLib(lcid, lib.put());
    return com::Failed(hr) ? hr : lib->GetTypeInfoOfGuid(primary_iid_, info);
  });
}

HRESULT OleControl::GetIDsOfNames(const IID& iid, const char* const* names, uint32_t count,
                                  com::LCID, com::DISPID* ids) noexcept {
  if (iid != com::IID_NULL) return com::DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return com::E_POINTER;
  return com::Guarded([&] { return DispatchIdsOfNames(names, count, ids); });
}

HRESULT OleControl::Invoke(com::DISPID member, const IID& iid, com::LCID, uint16_t flags,
                           const com::DispParams* params, com::Variant* result, com::ExcepInfo*,
                           uint32_t* arg_err) noexcept {
  if (iid != com::IID_NULL) return com::DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr || (params->count > 0 && params->args == nullptr)) {
    return com::E_POINTER;
  }
  if (params->named_count > 0) return com::DISP_E_NONAMEDARGS;
  // Methods only: script engines may call a method as a property get.
  if ((flags & (com::DISPATCH_METHOD | com::DISPATCH_PROPERTYGET)) == 0) {
    return com::DISP_E_MEMBERNOTFOUND;
  }
  return com::Guarded([&] {
    com::Variant ignored;
    return DispatchInvoke(member, {params->args, params->count},
                          result != nullptr ? *result : ignored, arg_err);
  });
}

HRESULT OleControl::InitNew() noexcept {
  return com::Guarded([&] {
    OnResetState();
    return S_OK;
  });
}

HRESULT OleControl::Load(com::IPropertyBag* bag) noexcept {
  if (bag == nullptr) return com::E_POINTER;
  return com::Guarded([&] {
    PropExchange px(PropExchange::Mode::kLoad, bag);
    DoPropExchange(px);
    return S_OK;
  });
}

HRESULT OleControl::Save(com::IPropertyBag* bag, bool, bool) noexcept {
  if (bag == nullptr) return com::E_POINTER;
  return com::Guarded([&] {
    PropExchange px(PropExchange::Mode::kSave, bag);
    DoPropExchange(px);
    return px.result();
  });
}

HRESULT OleControl::GetPages(com::CAUUID* pages) noexcept {
  if (pages == nullptr) return com::E_POINTER;
  *pages = {0, nullptr};
  return com::Guarded([&] {
    ULONG count = 0;
    const CLSID* ids = GetPropPageIDs(count);
    if (count == 0) return S_OK;
    auto* copy = static_cast<CLSID*>(com::CoTaskMemAlloc(count * sizeof(CLSID)));
    if (copy == nullptr) return com::E_OUTOFMEMORY;
    std::copy_n(ids, count, copy);
    *pages = {count, copy};
    return S_OK;
  });
}

HRESULT OleControl::SetCaller(const char* requester, int hangup) noexcept {
  if (requester == nullptr) return com::E_POINTER;
  try {
    OnSetCaller(requester, hangup);
  } catch (...) {
    return com::E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT OleControl::SetClientSite(com::IControlSite* site) noexcept {
  site_ = com::ComPtr<com::IControlSite>::Share(site);
  return S_OK;
}

HRESULT OleControl::GetExtent(com::SizeL* himetric) noexcept {
  if (himetric == nullptr) return com::E_POINTER;
  *himetric = extent_;
  return S_OK;
}

HRESULT OleControl::SetExtent(const com::SizeL& himetric) noexcept {
  if (himetric.cx < 0 || himetric.cy < 0) return com::E_INVALIDARG;
  extent_ = himetric;
  return S_OK;
}

HRESULT OleControl::Draw(com::DrawingSurface* target, const com::RectL* bounds) noexcept {
  if (target == nullptr || bounds == nullptr) return com::E_POINTER;
  return com::Guarded([&] {
    OnDraw(*target, *bounds, *bounds);
    return S_OK;
  });
}

void OleControl::DoPropExchange(PropExchange& px) {
  px.Long("_ExtentX", extent_.cx);
  px.Long("_ExtentY", extent_.cy);
  int32_t stock_properties = 0;  // none used, so nothing follows the mask
  px.Long("_StockProps", stock_properties);
}

void OleControl::OnResetState() {
  PropExchange px(PropExchange::Mode::kReset, nullptr);
  DoPropExchange(px);
  InvalidateControl();
}

void OleControl::ExchangeVersion(PropExchange& px, uint32_t default_version) {
  // Saving always writes the current version, whatever was loaded.
  const bool saving = px.mode() == PropExchange::Mode::kSave;
  auto version = static_cast<int32_t>(saving ? default_version : version_loaded_);
  px.Long("_Version", version, static_cast<int32_t>(default_version));
  if (!saving) version_loaded_ = static_cast<uint32_t>(version);
}

void OleControl::SetControlSize(int32_t cx, int32_t cy) {
  extent_ = {PixelsToHimetric(cx), PixelsToHimetric(cy)};
  if (site_) site_->RequestExtent(extent_);
}

void OleControl::InvalidateControl() {
  if (site_) site_->InvalidateControl();
}

}  // namespace tarvona::module
