#pragma once

// The registration record as plain rows: every key and value that
// registering the control module leaves under HKEY_CLASSES_ROOT, whoever
// writes it (the module's own class records, the type library's
// registration, the categories manager). The Windows installer's registry
// tables are generated from these rows and a test holds them against what
// DllRegisterServer writes, so the two cannot drift.
//
// Keys are relative to HKEY_CLASSES_ROOT. Data and keys may hold
// placeholders that the writer fills in for the installed module file:
//   {short-path}  its full name in the short (8.3) form
//   {path}        its full name
//   {folder}      the folder it lies in
//   {win}         "win32" or "win64", the type library's platform key

#include <cstdint>
#include <string>
#include <vector>

#include "control_identity.h"

namespace tarvona::registration {

// Who writes a row when the module registers itself.
enum class Writer {
  kModule,              // the class records (control and property page)
  kTypeLibrary,         // RegisterTypeLib
  kCategoryMember,      // RegisterClassImplCategories
  kCategoryDefinition,  // RegisterCategories; never removed again
};

// Where a row lives on 64-bit Windows: in each registry view (each flavour
// of the module writes its own), or in the one key both views share.
enum class View { kEach, kShared };

struct Row {
  std::string key;
  std::string name;  // empty: the key's default value
  std::string data;
  bool key_only = false;  // an empty key; name and data unused
  Writer writer = Writer::kModule;
  View view = View::kEach;
};

inline constexpr char kPathPlaceholder[] = "{path}";
inline constexpr char kShortPathPlaceholder[] = "{short-path}";
inline constexpr char kFolderPlaceholder[] = "{folder}";
inline constexpr char kWinPlaceholder[] = "{win}";

// LIBFLAG_FCONTROL: the library describes a control.
inline constexpr uint32_t kLibFlags = 0x2;
// The automation marshaller (PSDispatch) that serves dispatch interfaces.
inline constexpr identity::Guid kDispatchProxyStub = {
    0x00020420, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The braced, upper-case form that StringFromGUID2 gives.
inline std::string GuidText(const identity::Guid& guid) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "{";
  const auto put = [&](uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += kHex[(value >> shift) & 0xF];
  };
  put(guid.data1, 8);
  text += '-';
  put(guid.data2, 4);
  text += '-';
  put(guid.data3, 4);
  text += '-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text += '-';
    put(guid.data4[i], 2);
  }
  return text + "}";
}

inline std::string HexNumber(uint32_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kHex[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return text;
}

// The whole record, in the order registration writes it.
inline std::vector<Row> Record() {
  using identity::kLibMajor;
  using identity::kLibMinor;
  const std::string version = std::to_string(kLibMajor) + "." + std::to_string(kLibMinor);
  const std::string libid = GuidText(identity::kLibId);
  const std::string control = "CLSID\\" + GuidText(identity::kControlClsid);
  const std::string page = "CLSID\\" + GuidText(identity::kPageClsid);
  const std::string prog_id = identity::kControlProgId;
  const std::string typelib = "TypeLib\\" + libid + "\\" + version;

  std::vector<Row> rows;
  const auto module = [&](std::string key, std::string name, std::string data,
                          View view = View::kEach) {
    rows.push_back(
        {std::move(key), std::move(name), std::move(data), false, Writer::kModule, view});
  };
  const auto library = [&](std::string key, std::string name, std::string data, View view) {
    rows.push_back(
        {std::move(key), std::move(name), std::move(data), false, Writer::kTypeLibrary, view});
  };

  // The type library.
  library(typelib, "", identity::kLibHelpString, View::kShared);
  library(typelib + "\\FLAGS", "", std::to_string(kLibFlags), View::kShared);
  library(typelib + "\\" + HexNumber(identity::kLibLocale) + "\\" + kWinPlaceholder, "",
          kPathPlaceholder, View::kShared);
  library(typelib + "\\HELPDIR", "", kFolderPlaceholder, View::kShared);
  for (const auto& [iid, name] : {std::pair{identity::kDispatchIid, identity::kDispatchName},
                                  std::pair{identity::kEventsIid, identity::kEventsName}}) {
    const std::string key = "Interface\\" + GuidText(iid);
    library(key, "", name, View::kEach);
    library(key + "\\ProxyStubClsid", "", GuidText(kDispatchProxyStub), View::kEach);
    library(key + "\\ProxyStubClsid32", "", GuidText(kDispatchProxyStub), View::kEach);
    library(key + "\\TypeLib", "", libid, View::kEach);
    library(key + "\\TypeLib", "Version", version, View::kEach);
  }

  // The property page's class, then the control's.
  module(page, "", identity::kPageTypeName);
  module(page + "\\InprocServer32", "", kShortPathPlaceholder);
  module(prog_id, "", identity::kControlTypeName, View::kShared);
  module(prog_id + "\\CLSID", "", GuidText(identity::kControlClsid), View::kShared);
  module(control, "", identity::kControlTypeName);
  module(control + "\\ProgID", "", prog_id);
  module(control + "\\InprocServer32", "", kShortPathPlaceholder);
  module(control + "\\ToolboxBitmap32", "",
         std::string(kShortPathPlaceholder) + ", " + std::to_string(identity::kIdbPicture));
  module(control + "\\MiscStatus", "", "0");
  module(control + "\\MiscStatus\\1", "", std::to_string(identity::kControlMiscStatus));
  module(control + "\\Control", "", "");
  module(control + "\\TypeLib", "", libid);
  module(control + "\\Version", "", version);
  module(control + "\\InprocServer32", "ThreadingModel", "Apartment");

  // The categories: defined once for the machine, the control a member.
  for (const auto& [catid, description] :
       {std::pair{identity::kCatidSafeForInitializing, identity::kSafeForInitializingDescription},
        std::pair{identity::kCatidSafeForScripting, identity::kSafeForScriptingDescription}}) {
    std::string text;
    for (const char16_t* c = description; *c != 0; ++c) text += static_cast<char>(*c);
    rows.push_back({"Component Categories\\" + GuidText(catid),
                    HexNumber(identity::kCategoryLocale), text, false, Writer::kCategoryDefinition,
                    View::kShared});
    rows.push_back({control + "\\Implemented Categories\\" + GuidText(catid), "", "", true,
                    Writer::kCategoryMember, View::kEach});
  }
  return rows;
}

// `text` with every placeholder replaced.
inline std::string Expand(std::string text, const std::string& path, const std::string& short_path,
                          const std::string& folder, const std::string& win) {
  for (const auto& [placeholder, value] :
       {std::pair<std::string, const std::string&>{kShortPathPlaceholder, short_path},
        {kPathPlaceholder, path},
        {kFolderPlaceholder, folder},
        {kWinPlaceholder, win}}) {
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

}  // namespace tarvona::registration
