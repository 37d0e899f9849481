#include "module/tarvona_ctrl.h"

#include "common/ascii.h"
#include "control/method_table.h"
#include "module/identity.h"

namespace tarvona::module {

using com::S_OK;

TarvonaControlObject::TarvonaControlObject(ModuleState& module,
                                           const ModuleEnvironment& environment)
    : OleControl(module, environment),
      control_(environment.loader, environment.crypto, environment.picker) {
  InitializeIIDs(DIID__DTarvonaActiveX, DIID__DTarvonaActiveXEvents);
}

HRESULT TarvonaControlObject::GetClassID(CLSID* clsid) noexcept {
  if (clsid == nullptr) return com::E_POINTER;
  *clsid = CLSID_TarvonaActiveX;
  return S_OK;
}

HRESULT TarvonaControlObject::GetMiscStatus(uint32_t* status) noexcept {
  if (status == nullptr) return com::E_POINTER;
  *status = kControlMiscStatus;
  return S_OK;
}

void TarvonaControlObject::DoPropExchange(PropExchange& px) {
  ExchangeVersion(px, kControlVersion);
  OleControl::DoPropExchange(px);
}

void TarvonaControlObject::OnDraw(com::DrawingSurface& target, const com::RectL& bounds,
                                  const com::RectL&) {
  std::optional<com::Bitmap> bitmap = com::LoadBitmap(environment().resources, IDB_TARVONAACTIVEX);
  if (bounds.bottom - bounds.top != kPictureSide || bounds.right - bounds.left != kPictureSide) {
    SetControlSize(kPictureSide, kPictureSide);
  }
  if (!bitmap) return;
  com::StretchBlt(target, 0, 0, kPictureSide, kPictureSide, *bitmap, 0, 0, bitmap->width(),
                  bitmap->height());
}

const CLSID* TarvonaControlObject::GetPropPageIDs(ULONG& count) {
  static constexpr CLSID kPages[] = {CLSID_TarvonaActiveXPropPage};
  count = 1;
  return kPages;
}

HRESULT TarvonaControlObject::GetTypeLib(com::LCID lcid, com::ITypeLib** lib) {
  return module().GetTypeLib(LIBID_TARVONAACTIVEXLib, kLibMajor, kLibMinor, lcid, environment(),
                             lib);
}

HRESULT TarvonaControlObject::DispatchIdsOfNames(const char* const* names, uint32_t count,
                                                 com::DISPID* ids) {
  for (uint32_t i = 0; i < count; ++i) ids[i] = com::DISPID_UNKNOWN;
  const MethodInfo* method = FindMethod(names[0]);
  if (method == nullptr) return com::DISP_E_UNKNOWNNAME;
  ids[0] = method->dispid;
  HRESULT hr = S_OK;
  // Parameter names give their positions.
  for (uint32_t i = 1; i < count; ++i) {
    for (size_t p = 0; p < method->params.size(); ++p) {
      if (EqualsIgnoringAsciiCase(method->params[p].name, names[i])) {
        ids[i] = static_cast<com::DISPID>(p);
      }
    }
    if (ids[i] == com::DISPID_UNKNOWN) hr = com::DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TarvonaControlObject::DispatchInvoke(com::DISPID member, std::span<const com::Variant> args,
                                             com::Variant& result, uint32_t* arg_err) {
  return AutomationHresult(
      tarvona::Invoke(control_, member, args, result, com::ConvertArgument, arg_err));
}

}  // namespace tarvona::module
