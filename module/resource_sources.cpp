#include "module/resource_sources.h"

#include <string>

#include "control/method_metadata.h"
#include "module/identity.h"

namespace tarvona::module {

com::TypeLibDesc TarvonaTypeLibrary(const com::GUID& libid) {
  using com::TypeDesc;
  using com::TypeKind;
  TypeDesc dispatch{TypeKind::kDispatch,
                    identity::kDispatchName,
                    DIID__DTarvonaActiveX,
                    com::TYPEFLAG_FHIDDEN | com::TYPEFLAG_FDISPATCHABLE,
                    identity::kDispatchHelpString,
                    0,
                    {},
                    {}};
  for (const MethodInfo& method : MethodTable()) {
    com::FuncDesc func{method.dispid, std::string(method.name), method.result, {}};
    for (const ParamInfo& param : method.params) {
      func.params.push_back({std::string(param.name), param.type});
    }
    dispatch.funcs.push_back(std::move(func));
  }
  TypeDesc events{TypeKind::kDispatch,
                  identity::kEventsName,
                  DIID__DTarvonaActiveXEvents,
                  com::TYPEFLAG_FDISPATCHABLE,
                  identity::kEventsHelpString,
                  0,
                  {},
                  {}};
  TypeDesc coclass{TypeKind::kCoClass,
                   identity::kClassName,
                   CLSID_TarvonaActiveX,
                   com::TYPEFLAG_FCANCREATE | com::TYPEFLAG_FCONTROL,
                   identity::kControlTypeName,
                   0,
                   {},
                   {{0, com::IMPLTYPEFLAG_FDEFAULT},
                    {1, com::IMPLTYPEFLAG_FDEFAULT | com::IMPLTYPEFLAG_FSOURCE}}};
  return {identity::kLibName,
          libid,
          kLibMajor,
          kLibMinor,
          kLibLocale,
          com::LIBFLAG_FCONTROL,
          identity::kLibHelpString,
          identity::kLibHelpFile,
          0,
          {{"stdole2.tlb", LIBID_stdole, 2, 0}},
          {std::move(dispatch), std::move(events), std::move(coclass)}};
}

std::vector<com::Resource> ModuleResources(const com::GUID& libid) {
  auto text = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  return {
      {std::string(com::RT_STRING), IDS_TARVONAACTIVEX, text(identity::kControlTypeName)},
      {std::string(com::RT_STRING), IDS_TARVONAACTIVEX_PPG, text(identity::kPageTypeName)},
      {std::string(com::RT_STRING), IDS_TARVONAACTIVEX_PPG_CAPTION, text(identity::kPageCaption)},
      {std::string(com::RT_BITMAP), IDB_TARVONAACTIVEX, com::EncodeDib(ToolboxPicture())},
      {std::string(com::RT_TYPELIB), IDR_TYPELIB, com::SerializeTypeLib(TarvonaTypeLibrary(libid))},
  };
}

}  // namespace tarvona::module
