#include "module/tarvona_ctrl.h"

#include <strings.h>

#include "control/method_table.h"
#include "module/identity.h"

namespace tarvona::module {

using platform::S_OK;

TarvonaControlObject::TarvonaControlObject(ModuleState& module,
                                           const ModuleEnvironment& environment)
    : OleControl(module, environment), control_(environment.loader) {
  InitializeIIDs(DIID__DTarvonaActiveX, DIID__DTarvonaActiveXEvents);
}

HRESULT TarvonaControlObject::GetClassID(CLSID* clsid) noexcept {
  if (clsid == nullptr) return platform::E_POINTER;
  *clsid = CLSID_TarvonaActiveX;
  return S_OK;
}

HRESULT TarvonaControlObject::GetMiscStatus(uint32_t* status) noexcept {
  if (status == nullptr) return platform::E_POINTER;
  *status = kControlMiscStatus;
  return S_OK;
}

void TarvonaControlObject::DoPropExchange(PropExchange& px) {
  ExchangeVersion(px, kControlVersion);
  OleControl::DoPropExchange(px);
}

void TarvonaControlObject::OnDraw(platform::DrawingSurface& target, const platform::RectL& bounds,
                                  const platform::RectL&) {
  std::optional<platform::Bitmap> bitmap =
      platform::LoadBitmap(environment().resources, IDB_TARVONAACTIVEX);
  if (bounds.bottom - bounds.top != kPictureSide || bounds.right - bounds.left != kPictureSide) {
    SetControlSize(kPictureSide, kPictureSide);
  }
  if (!bitmap) return;
  platform::StretchBlt(target, 0, 0, kPictureSide, kPictureSide, *bitmap, 0, 0, bitmap->width(),
                       bitmap->height());
}

const CLSID* TarvonaControlObject::GetPropPageIDs(ULONG& count) {
  static constexpr CLSID kPages[] = {CLSID_TarvonaActiveXPropPage};
  count = 1;
  return kPages;
}

HRESULT TarvonaControlObject::GetTypeLib(platform::LCID lcid, platform::ITypeLib** lib) {
  return module().GetTypeLib(LIBID_TARVONAACTIVEXLib, kLibMajor, kLibMinor, lcid, environment(),
                             lib);
}

HRESULT TarvonaControlObject::DispatchIdsOfNames(const char* const* names, uint32_t count,
                                                 platform::DISPID* ids) {
  for (uint32_t i = 0; i < count; ++i) ids[i] = platform::DISPID_UNKNOWN;
  const MethodInfo* method = FindMethod(names[0]);
  if (method == nullptr) return platform::DISP_E_UNKNOWNNAME;
  ids[0] = method->dispid;
  HRESULT hr = S_OK;
  // Parameter names give their positions.
  for (uint32_t i = 1; i < count; ++i) {
    for (size_t p = 0; p < method->params.size(); ++p) {
      if (strcasecmp(std::string(method->params[p].name).c_str(), names[i]) == 0) {
        ids[i] = static_cast<platform::DISPID>(p);
      }
    }
    if (ids[i] == platform::DISPID_UNKNOWN) hr = platform::DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TarvonaControlObject::DispatchInvoke(platform::DISPID member,
                                             std::span<const platform::Variant> args,
                                             platform::Variant& result, uint32_t* arg_err) {
  return tarvona::Invoke(control_, member, args, result, arg_err);
}

}  // namespace tarvona::module
