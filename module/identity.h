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
inline constexpr GUID CLSID_TarvonaActiveX = identity::ToGuid<GUID>(identity::kControlClsid);
inline constexpr GUID CLSID_TarvonaActiveXPropPage = identity::ToGuid<GUID>(identity::kPageClsid);
inline constexpr GUID LIBID_TARVONAACTIVEXLib = identity::ToGuid<GUID>(identity::kLibId);
inline constexpr GUID DIID__DTarvonaActiveX = identity::ToGuid<GUID>(identity::kDispatchIid);
inline constexpr GUID DIID__DTarvonaActiveXEvents = identity::ToGuid<GUID>(identity::kEventsIid);
inline constexpr GUID LIBID_stdole = identity::ToGuid<GUID>(identity::kStdoleLibId);

inline constexpr GUID CATID_SafeForScripting = identity::ToGuid<GUID>(identity::kCatidSafeForScripting);
inline constexpr GUID CATID_SafeForInitializing = identity::ToGuid<GUID>(identity::kCatidSafeForInitializing);
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
