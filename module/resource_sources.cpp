#include "module/resource_sources.h"

#include <string>

#include "control/method_table.h"
#include "module/identity.h"

namespace tarvona::module {

platform::TypeLibDesc TarvonaTypeLibrary(const platform::GUID& libid) {
  using platform::TypeDesc;
  using platform::TypeKind;
  TypeDesc dispatch{TypeKind::kDispatch,
                    "_DTarvonaActiveX",
                    DIID__DTarvonaActiveX,
                    platform::TYPEFLAG_FHIDDEN | platform::TYPEFLAG_FDISPATCHABLE,
                    "Dispatch interface for TarvonaActiveX Control",
                    0,
                    {},
                    {}};
  for (const MethodInfo& method : MethodTable()) {
    platform::FuncDesc func{method.dispid, std::string(method.name), method.result, {}};
    for (const ParamInfo& param : method.params) {
      func.params.push_back({std::string(param.name), param.type});
    }
    dispatch.funcs.push_back(std::move(func));
  }
  TypeDesc events{TypeKind::kDispatch,
                  "_DTarvonaActiveXEvents",
                  DIID__DTarvonaActiveXEvents,
                  platform::TYPEFLAG_FDISPATCHABLE,
                  "Event interface for TarvonaActiveX Control",
                  0,
                  {},
                  {}};
  TypeDesc coclass{TypeKind::kCoClass,
                   "TarvonaActiveX",
                   CLSID_TarvonaActiveX,
                   platform::TYPEFLAG_FCANCREATE | platform::TYPEFLAG_FCONTROL,
                   "TarvonaActiveX Control",
                   0,
                   {},
                   {{0, platform::IMPLTYPEFLAG_FDEFAULT},
                    {1, platform::IMPLTYPEFLAG_FDEFAULT | platform::IMPLTYPEFLAG_FSOURCE}}};
  return {"TARVONAACTIVEXLib",
          libid,
          kLibMajor,
          kLibMinor,
          kLibLocale,
          platform::LIBFLAG_FCONTROL,
          "Tarvona ActiveX Control module",
          "TarvonaActiveX.hlp",
          0,
          {{"stdole2.tlb", LIBID_stdole, 2, 0}},
          {std::move(dispatch), std::move(events), std::move(coclass)}};
}

std::vector<platform::Resource> ModuleResources(const platform::GUID& libid) {
  auto text = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  return {
      {std::string(platform::RT_STRING), IDS_TARVONAACTIVEX, text("TarvonaActiveX Control")},
      {std::string(platform::RT_STRING), IDS_TARVONAACTIVEX_PPG,
       text("TarvonaActiveX Property Page")},
      {std::string(platform::RT_STRING), IDS_TARVONAACTIVEX_PPG_CAPTION, text("General")},
      {std::string(platform::RT_BITMAP), IDB_TARVONAACTIVEX, platform::EncodeDib(ToolboxPicture())},
      {std::string(platform::RT_TYPELIB), IDR_TYPELIB,
       platform::SerializeTypeLib(TarvonaTypeLibrary(libid))},
  };
}

}  // namespace tarvona::module
