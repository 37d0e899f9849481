#include "module/ole_control.h"

#include <algorithm>

namespace tarvona::module {

using platform::S_OK;

namespace {

// A new control's extent: its picture's size.
constexpr int32_t kDefaultExtent = PixelsToHimetric(30);

}  // namespace

bool PropExchange::Read(const char* name, int32_t& value) {
  platform::Variant read = int32_t{0};
  if (bag_ == nullptr || platform::Failed(bag_->Read(name, &read))) return false;
  const auto* number = std::get_if<int32_t>(&read);
  if (number == nullptr) return false;
  value = *number;
  return true;
}

void PropExchange::Write(const char* name, int32_t value) {
  const platform::Variant written = value;
  HRESULT hr = bag_ == nullptr ? platform::E_POINTER : bag_->Write(name, &written);
  if (platform::Failed(hr) && platform::Succeeded(result_)) result_ = hr;
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
  if (out == nullptr) return platform::E_POINTER;
  *out = nullptr;
  if (iid == platform::IID_IUnknown || iid == platform::IID_IDispatch || iid == primary_iid_) {
    *out = static_cast<platform::IDispatch*>(this);
  } else if (iid == platform::IPersist::kIid || iid == platform::IPersistPropertyBag::kIid) {
    *out = static_cast<platform::IPersistPropertyBag*>(this);
  } else if (iid == platform::ISpecifyPropertyPages::kIid) {
    *out = static_cast<platform::ISpecifyPropertyPages*>(this);
  } else if (iid == platform::IControlObject::kIid) {
    *out = static_cast<platform::IControlObject*>(this);
  } else if (iid == platform::IControlCaller::kIid) {
    *out = static_cast<platform::IControlCaller*>(this);
  } else {
    return platform::E_NOINTERFACE;
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
  if (count == nullptr) return platform::E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT OleControl::GetTypeInfo(uint32_t index, platform::LCID lcid,
                                platform::ITypeInfo** info) noexcept {
  if (info == nullptr) return platform::E_POINTER;
  *info = nullptr;
  if (index != 0) return platform::DISP_E_BADINDEX;
  return platform::Guarded([&] {
    platform::ComPtr<platform::ITypeLib> lib;
    HRESULT hr = GetTypeLib(lcid, lib.put());
    return platform::Failed(hr) ? hr : lib->GetTypeInfoOfGuid(primary_iid_, info);
  });
}

HRESULT OleControl::GetIDsOfNames(const IID& iid, const char* const* names, uint32_t count,
                                  platform::LCID, platform::DISPID* ids) noexcept {
  if (iid != platform::IID_NULL) return platform::DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return platform::E_POINTER;
  return platform::Guarded([&] { return DispatchIdsOfNames(names, count, ids); });
}

HRESULT OleControl::Invoke(platform::DISPID member, const IID& iid, platform::LCID, uint16_t flags,
                           const platform::DispParams* params, platform::Variant* result,
                           platform::ExcepInfo*, uint32_t* arg_err) noexcept {
  if (iid != platform::IID_NULL) return platform::DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr || (params->count > 0 && params->args == nullptr)) {
    return platform::E_POINTER;
  }
  if (params->named_count > 0) return platform::DISP_E_NONAMEDARGS;
  // Methods only: script engines may call a method as a property get.
  if ((flags & (platform::DISPATCH_METHOD | platform::DISPATCH_PROPERTYGET)) == 0) {
    return platform::DISP_E_MEMBERNOTFOUND;
  }
  return platform::Guarded([&] {
    platform::Variant ignored;
    return DispatchInvoke(member, {params->args, params->count},
                          result != nullptr ? *result : ignored, arg_err);
  });
}

HRESULT OleControl::InitNew() noexcept {
  return platform::Guarded([&] {
    OnResetState();
    return S_OK;
  });
}

HRESULT OleControl::Load(platform::IPropertyBag* bag) noexcept {
  if (bag == nullptr) return platform::E_POINTER;
  return platform::Guarded([&] {
    PropExchange px(PropExchange::Mode::kLoad, bag);
    DoPropExchange(px);
    return S_OK;
  });
}

HRESULT OleControl::Save(platform::IPropertyBag* bag, bool, bool) noexcept {
  if (bag == nullptr) return platform::E_POINTER;
  return platform::Guarded([&] {
    PropExchange px(PropExchange::Mode::kSave, bag);
    DoPropExchange(px);
    return px.result();
  });
}

HRESULT OleControl::GetPages(platform::CAUUID* pages) noexcept {
  if (pages == nullptr) return platform::E_POINTER;
  *pages = {0, nullptr};
  return platform::Guarded([&] {
    ULONG count = 0;
    const CLSID* ids = GetPropPageIDs(count);
    if (count == 0) return S_OK;
    auto* copy = static_cast<CLSID*>(platform::CoTaskMemAlloc(count * sizeof(CLSID)));
    if (copy == nullptr) return platform::E_OUTOFMEMORY;
    std::copy_n(ids, count, copy);
    *pages = {count, copy};
    return S_OK;
  });
}

HRESULT OleControl::SetCaller(const char* requester, int hangup) noexcept {
  if (requester == nullptr) return platform::E_POINTER;
  try {
    OnSetCaller(requester, hangup);
  } catch (...) {
    return platform::E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT OleControl::SetClientSite(platform::IControlSite* site) noexcept {
  site_ = platform::ComPtr<platform::IControlSite>::Share(site);
  return S_OK;
}

HRESULT OleControl::GetExtent(platform::SizeL* himetric) noexcept {
  if (himetric == nullptr) return platform::E_POINTER;
  *himetric = extent_;
  return S_OK;
}

HRESULT OleControl::SetExtent(const platform::SizeL& himetric) noexcept {
  if (himetric.cx < 0 || himetric.cy < 0) return platform::E_INVALIDARG;
  extent_ = himetric;
  return S_OK;
}

HRESULT OleControl::Draw(platform::DrawingSurface* target, const platform::RectL* bounds) noexcept {
  if (target == nullptr || bounds == nullptr) return platform::E_POINTER;
  return platform::Guarded([&] {
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
