#pragma once

// Who the module and its classes are: the identities that the registration
// record, the type library and hosts share, and the numbers of the module's
// resources.

#include <cstdint>

#include "com/com.h"
#include "common/control_identity.h"

namespace tarvona::module {

using com::GUID;

// The values themselves live in common/control_identity.h, which the
// Windows module and its build tools read too.
constexpr GUID ToGuid(const identity::Guid& g) {
  return {g.data1, g.data2, g.data3,
          {g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
           g.data4[7]}};
}

inline constexpr GUID CLSID_TarvonaActiveX = ToGuid(identity::kControlClsid);
inline constexpr GUID CLSID_TarvonaActiveXPropPage = ToGuid(identity::kPageClsid);
inline constexpr GUID LIBID_TARVONAACTIVEXLib = ToGuid(identity::kLibId);
inline constexpr GUID DIID__DTarvonaActiveX = ToGuid(identity::kDispatchIid);
inline constexpr GUID DIID__DTarvonaActiveXEvents = ToGuid(identity::kEventsIid);
inline constexpr GUID LIBID_stdole = ToGuid(identity::kStdoleLibId);

inline constexpr GUID CATID_SafeForScripting = ToGuid(identity::kCatidSafeForScripting);
inline constexpr GUID CATID_SafeForInitializing = ToGuid(identity::kCatidSafeForInitializing);
using identity::kSafeForInitializingDescription;
using identity::kSafeForScriptingDescription;
inline constexpr com::LCID kCategoryLocale = identity::kCategoryLocale;

using identity::kControlProgId;
using identity::kPageProgId;

using identity::kLibMajor;
using identity::kLibMinor;
inline constexpr com::LCID kLibLocale = identity::kLibLocale;

using identity::kControlVersion;

inline constexpr uint32_t OLEMISC_RECOMPOSEONRESIZE = identity::kOlemiscRecomposeOnResize;
inline constexpr uint32_t OLEMISC_CANTLINKINSIDE = identity::kOlemiscCantLinkInside;
inline constexpr uint32_t OLEMISC_INSIDEOUT = identity::kOlemiscInsideOut;
inline constexpr uint32_t OLEMISC_ACTIVATEWHENVISIBLE = identity::kOlemiscActivateWhenVisible;
inline constexpr uint32_t OLEMISC_INVISIBLEATRUNTIME = identity::kOlemiscInvisibleAtRuntime;
inline constexpr uint32_t OLEMISC_SETCLIENTSITEFIRST = identity::kOlemiscSetClientSiteFirst;
using identity::kControlMiscStatus;

// Resources.
inline constexpr uint32_t IDS_TARVONAACTIVEX = identity::kIdsControl;
inline constexpr uint32_t IDS_TARVONAACTIVEX_PPG = identity::kIdsPage;
inline constexpr uint32_t IDS_TARVONAACTIVEX_PPG_CAPTION = identity::kIdsPageCaption;
inline constexpr uint32_t IDD_PROPPAGE_TARVONAACTIVEX = identity::kIddPage;
inline constexpr uint32_t IDB_TARVONAACTIVEX = identity::kIdbPicture;
inline constexpr uint32_t IDR_TYPELIB = identity::kIdrTypeLib;

using identity::kPictureSide;

}  // namespace tarvona::module
