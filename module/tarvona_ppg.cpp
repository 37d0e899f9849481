#include "module/tarvona_ppg.h"

#include "module/identity.h"

namespace tarvona::module {
namespace {

constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_GROUP = 0x00020000;
constexpr uint32_t SS_LEFT = 0x0;
constexpr uint16_t IDC_STATIC = 0xFFFF;

}  // namespace

CTarvonaActiveXPropPage::CTarvonaActiveXPropPage(ModuleState& module,
                                                 const ModuleEnvironment& environment)
    : module_(module), environment_(environment) {
  module_.LockApp();
}

CTarvonaActiveXPropPage::~CTarvonaActiveXPropPage() {
  objects_.clear();
  module_.UnlockApp();
}

HRESULT CTarvonaActiveXPropPage::QueryInterface(const IID& iid, void** out) noexcept {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (iid != com::IID_IUnknown && iid != com::IPropertyPageDialog::kIid) {
    return com::E_NOINTERFACE;
  }
  AddRef();
  *out = static_cast<com::IPropertyPageDialog*>(this);
  return com::S_OK;
}

ULONG CTarvonaActiveXPropPage::Release() noexcept {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT CTarvonaActiveXPropPage::GetDialog(com::DialogTemplate* dialog) noexcept {
  if (dialog == nullptr) return com::E_POINTER;
  return com::Guarded([&] {
    // Dialog 200: a child dialog without frame or caption; its caption as
    // a page is string 200.
    *dialog = {environment_.resources.LoadString(IDS_TARVONAACTIVEX_PPG_CAPTION).value_or(""),
               WS_CHILD,
               250,
               62,
               "MS Sans Serif",
               8,
               {{"STATIC",
                 identity::kPageText,
                 IDC_STATIC, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 7, 25, 229, 16}}};
    return com::S_OK;
  });
}

HRESULT CTarvonaActiveXPropPage::SetObjects(ULONG count, com::IUnknown* const* objects) noexcept {
  if (count > 0 && objects == nullptr) return com::E_POINTER;
  return com::Guarded([&] {
    std::vector<com::ComPtr<com::IUnknown>> held;
    for (ULONG i = 0; i < count; ++i) {
      held.push_back(com::ComPtr<com::IUnknown>::Share(objects[i]));
    }
    objects_.swap(held);
    return com::S_OK;
  });
}

}  // namespace tarvona::module
