#pragma once

// Who the module and its classes are: the identities that the registration
// record, the type library and hosts share, and the numbers of the module's
// resources.

#include <cstdint>

#include "com/com.h"

namespace tarvona::module {

using com::GUID;

inline constexpr GUID CLSID_TarvonaActiveX = {
    0x89F34120, 0xD7D2, 0x4CEB, {0x84, 0xE7, 0xD2, 0x9B, 0x8A, 0xAD, 0x6B, 0x6C}};
inline constexpr GUID CLSID_TarvonaActiveXPropPage = {
    0xAA974F6C, 0x9331, 0x4826, {0xA6, 0x67, 0xAF, 0xA3, 0x2E, 0x4E, 0xE2, 0x95}};
inline constexpr GUID LIBID_TARVONAACTIVEXLib = {
    0x0D30B34A, 0x2E44, 0x4F27, {0xB3, 0xCC, 0x5C, 0xBE, 0xEA, 0x2D, 0x0E, 0xD1}};
inline constexpr GUID DIID__DTarvonaActiveX = {
    0xBD7B797B, 0xB3E7, 0x4795, {0xBF, 0xA4, 0x27, 0x8A, 0xD9, 0xA8, 0x32, 0x37}};
inline constexpr GUID DIID__DTarvonaActiveXEvents = {
    0x05796F81, 0xADB0, 0x4536, {0x9B, 0xDF, 0x61, 0xC2, 0x3D, 0x27, 0xE7, 0xE5}};
// stdole2.tlb, where IDispatch comes from.
inline constexpr GUID LIBID_stdole = {
    0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr GUID CATID_SafeForScripting = {
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
inline constexpr GUID CATID_SafeForInitializing = {
    0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
inline constexpr char16_t kSafeForScriptingDescription[] = u"Controls safely scriptable!";
inline constexpr char16_t kSafeForInitializingDescription[] =
    u"Controls safely initializable from persistent data!";
inline constexpr com::LCID kCategoryLocale = 0x0409;

inline constexpr char kControlProgId[] = "TARVONAACTIVEX.TarvonaActiveXCtrl.1";
inline constexpr char kPageProgId[] = "TARVONAACTIVEX.TarvonaActiveXPropPage.1";

inline constexpr uint16_t kLibMajor = 1;
inline constexpr uint16_t kLibMinor = 0;
inline constexpr com::LCID kLibLocale = 0x409;

// The control's persisted version: major in the high half, minor in the low.
inline constexpr uint32_t kControlVersion = 0x00010000;

inline constexpr uint32_t OLEMISC_RECOMPOSEONRESIZE = 0x1;
inline constexpr uint32_t OLEMISC_CANTLINKINSIDE = 0x10;
inline constexpr uint32_t OLEMISC_INSIDEOUT = 0x80;
inline constexpr uint32_t OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
inline constexpr uint32_t OLEMISC_INVISIBLEATRUNTIME = 0x400;
inline constexpr uint32_t OLEMISC_SETCLIENTSITEFIRST = 0x20000;
inline constexpr uint32_t kControlMiscStatus =
    OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
    OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST;
static_assert(kControlMiscStatus == 0x00020591);

// Resources.
inline constexpr uint32_t IDS_TARVONAACTIVEX = 1;      // control type name
inline constexpr uint32_t IDS_TARVONAACTIVEX_PPG = 2;  // page type name
inline constexpr uint32_t IDS_TARVONAACTIVEX_PPG_CAPTION = 200;
inline constexpr uint32_t IDD_PROPPAGE_TARVONAACTIVEX = 200;
inline constexpr uint32_t IDB_TARVONAACTIVEX = 202;  // toolbox bitmap and picture
inline constexpr uint32_t IDR_TYPELIB = 1;

// The side of the picture the control draws, in pixels.
inline constexpr int32_t kPictureSide = 30;

}  // namespace tarvona::module
