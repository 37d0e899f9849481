#pragma once

// Who the control module and its classes are, as plain data free of any
// platform: the GUIDs, ProgIDs, names and numbers that the registration
// record, the type library, the resources and hosts share. Each platform's
// module turns them into its own types; build tools (the IDL and resource
// generator of the Windows module) read them directly, so none of these
// values is written down twice.

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvona::identity {

// A GUID's fields, laid out as every platform lays out its GUID.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// The same GUID as a platform's own type, an aggregate of the same fields.
template <typename PlatformGuid>
constexpr PlatformGuid ToGuid(const Guid& g) {
  return {g.data1,
          g.data2,
          g.data3,
          {g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
           g.data4[7]}};
}

inline constexpr Guid kControlClsid = {
    0x89F34120, 0xD7D2, 0x4CEB, {0x84, 0xE7, 0xD2, 0x9B, 0x8A, 0xAD, 0x6B, 0x6C}};
inline constexpr Guid kPageClsid = {
    0xAA974F6C, 0x9331, 0x4826, {0xA6, 0x67, 0xAF, 0xA3, 0x2E, 0x4E, 0xE2, 0x95}};
inline constexpr Guid kLibId = {
    0x0D30B34A, 0x2E44, 0x4F27, {0xB3, 0xCC, 0x5C, 0xBE, 0xEA, 0x2D, 0x0E, 0xD1}};
inline constexpr Guid kDispatchIid = {
    0xBD7B797B, 0xB3E7, 0x4795, {0xBF, 0xA4, 0x27, 0x8A, 0xD9, 0xA8, 0x32, 0x37}};
inline constexpr Guid kEventsIid = {
    0x05796F81, 0xADB0, 0x4536, {0x9B, 0xDF, 0x61, 0xC2, 0x3D, 0x27, 0xE7, 0xE5}};
// stdole2.tlb, where IDispatch comes from.
inline constexpr Guid kStdoleLibId = {
    0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr Guid kCatidSafeForScripting = {
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
inline constexpr Guid kCatidSafeForInitializing = {
    0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
inline constexpr char16_t kSafeForScriptingDescription[] = u"Controls safely scriptable!";
inline constexpr char16_t kSafeForInitializingDescription[] =
    u"Controls safely initializable from persistent data!";
inline constexpr uint32_t kCategoryLocale = 0x0409;

inline constexpr char kControlProgId[] = "TARVONAACTIVEX.TarvonaActiveXCtrl.1";
inline constexpr char kPageProgId[] = "TARVONAACTIVEX.TarvonaActiveXPropPage.1";

// The type library.
inline constexpr char kLibName[] = "TARVONAACTIVEXLib";
inline constexpr char kLibHelpString[] = "Tarvona ActiveX Control module";
inline constexpr char kLibHelpFile[] = "TarvonaActiveX.hlp";
inline constexpr char kDispatchName[] = "_DTarvonaActiveX";
inline constexpr char kDispatchHelpString[] = "Dispatch interface for TarvonaActiveX Control";
inline constexpr char kEventsName[] = "_DTarvonaActiveXEvents";
inline constexpr char kEventsHelpString[] = "Event interface for TarvonaActiveX Control";
inline constexpr char kClassName[] = "TarvonaActiveX";
inline constexpr uint16_t kLibMajor = 1;
inline constexpr uint16_t kLibMinor = 0;
inline constexpr uint32_t kLibLocale = 0x409;

// The control's persisted version: major in the high half, minor in the low.
inline constexpr uint32_t kControlVersion = 0x00010000;

inline constexpr uint32_t kOlemiscRecomposeOnResize = 0x1;
inline constexpr uint32_t kOlemiscCantLinkInside = 0x10;
inline constexpr uint32_t kOlemiscInsideOut = 0x80;
inline constexpr uint32_t kOlemiscActivateWhenVisible = 0x100;
inline constexpr uint32_t kOlemiscInvisibleAtRuntime = 0x400;
inline constexpr uint32_t kOlemiscSetClientSiteFirst = 0x20000;
inline constexpr uint32_t kControlMiscStatus =
    kOlemiscRecomposeOnResize | kOlemiscCantLinkInside | kOlemiscInsideOut |
    kOlemiscActivateWhenVisible | kOlemiscInvisibleAtRuntime | kOlemiscSetClientSiteFirst;
static_assert(kControlMiscStatus == 0x00020591);

// Resources.
inline constexpr uint32_t kIdsControl = 1;  // control type name
inline constexpr uint32_t kIdsPage = 2;     // page type name
inline constexpr uint32_t kIdsPageCaption = 200;
inline constexpr uint32_t kIddPage = 200;
inline constexpr uint32_t kIdbPicture = 202;  // toolbox bitmap and picture
inline constexpr uint32_t kIdrTypeLib = 1;
inline constexpr char kControlTypeName[] = "TarvonaActiveX Control";
inline constexpr char kPageTypeName[] = "TarvonaActiveX Property Page";
inline constexpr char kPageCaption[] = "General";
inline constexpr char kPageText[] =
    "TODO: Place controls to manipulate properties of TarvonaActiveX Control on this dialog.";

// The side of the picture the control draws, in pixels.
inline constexpr int32_t kPictureSide = 30;

// Pixels at 96 dots per inch to HIMETRIC (0.01 mm), rounded: the unit of a
// control's extent.
constexpr int32_t PixelsToHimetric(int32_t pixels) { return (pixels * 2540 + 48) / 96; }

// Bitmap 202, 32 x 32 pixels: a smart card with a key over it. Each
// character of a row names its ink in kPictureInks.
// clang-format off
inline constexpr std::array<std::string_view, 32> kPictureRows = {
    "................................",
    "................................",
    "................................",
    "................................",
    "..OOOOOOOOOOOOOOOOOOOOOOOOOO....",
    ".OObbbbbbbbbbbbbbbbbbbbbbbbOO...",
    ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
    ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
    ".ObbdddddddbbbbbbbbbbbbbbbbbO...",
    ".ObbdccdccdbbblllllllllllbbbO...",
    ".ObbdddddddbbbbbbbbbbbbbbbbbO...",
    ".ObbdccdccdbbbllllllllbbbbbbO...",
    ".ObbdccdccdbbbbbbbbbbbbbbbbbO...",
    ".ObbdddddddbbbbbbbbbbbbbbbbbO...",
    ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
    ".OllllllllllllllllllllllllllO...",
    ".OllllllllllllllllllllllllllO...",
    ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
    ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
    ".ObbbbbKKKKKKbbbbbbbbbbbbbbbO...",
    ".ObbbbKhhkkkkKbbbbbbbbbbbbbbO...",
    ".ObbbKhkkKKkkkKbbbbbbbbbbbbbO...",
    ".OObKkkKKbbKKkkKbbbbbbbbbbbOO...",
    "..OOKkkKOOOOKkkKKKKKKKKKKKKKKKK.",
    "....KkK......KkhkkhkkhkkhkkhkkK.",
    "....KkK......KkkkkkkkkkkkkkkkkK.",
    "....KkkK....KkkKKKKKKKKKKKKKKKK.",
    "....KkkKK..KKkkK......KkK.KkK...",
    ".....KkkkKKkkkK.......KkK.KkK...",
    "......KkkkkkkK........KkK.KkK...",
    ".......KKKKKK.........KKK.KKK...",
    "................................",
};
// clang-format on
struct PictureInk {
  char key;
  uint8_t red, green, blue;
};
inline constexpr PictureInk kPictureInks[] = {
    {'.', 240, 243, 247},  // background
    {'O', 28, 58, 110},    // card edge
    {'b', 45, 98, 178},    // card
    {'l', 96, 150, 222},   // card stripe and print
    {'c', 232, 188, 72},   // chip
    {'d', 168, 124, 30},   // chip contacts
    {'K', 104, 66, 8},     // key edge
    {'k', 242, 192, 46},   // key
    {'h', 255, 232, 150},  // key highlight
};

// The ink at (x, y), y counted from the top.
constexpr PictureInk PictureInkAt(int32_t x, int32_t y) {
  const char key = kPictureRows[static_cast<size_t>(y)][static_cast<size_t>(x)];
  for (const PictureInk& ink : kPictureInks) {
    if (ink.key == key) return ink;
  }
  return kPictureInks[0];
}

}  // namespace tarvona::identity
