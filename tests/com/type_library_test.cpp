#include "com/type_library.h"

#include <gtest/gtest.h>

#include <string>

#include "com/module_resources.h"

namespace tarvona::com {
namespace {

constexpr GUID kLibId = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kDispatchId = {0xAAAA0001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
constexpr GUID kEventsId = {0xAAAA0002, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
constexpr GUID kClassId = {0xAAAA0003, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};

TypeLibDesc SampleLibrary() {
  TypeDesc dispatch{TypeKind::kDispatch, "_DSample", kDispatchId, TYPEFLAG_FDISPATCHABLE,
                    "Dispatch",          0,          {},          {}};
  dispatch.funcs = {
      {1, "Connect", VarType::kI4, {}},
      {7,
       "Verify",
       VarType::kI4,
       {{"SessionID", VarType::kI4}, {"lngHashType", VarType::kI2}, {"strText", VarType::kBstr}}}};
  TypeDesc events{TypeKind::kDispatch,
                  "_DSampleEvents",
                  kEventsId,
                  TYPEFLAG_FDISPATCHABLE,
                  "Events",
                  0,
                  {},
                  {}};
  TypeDesc coclass{TypeKind::kCoClass,
                   "Sample",
                   kClassId,
                   TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
                   "Sample Control",
                   0,
                   {},
                   {{0, IMPLTYPEFLAG_FDEFAULT}, {1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}};
  return {"SAMPLELib",
          kLibId,
          1,
          0,
          0x409,
          LIBFLAG_FCONTROL,
          "Sample module",
          "Sample.hlp",
          0,
          {},
          {dispatch, events, coclass}};
}

// Serves one library whatever file is asked for, and remembers the file.
class FixedLoader final : public TypeLibLoader {
 public:
  HRESULT LoadTypeLib(const std::string& path, ITypeLib** out) const noexcept override {
    asked = path;
    return CreateTypeLib(SampleLibrary(), out);
  }
  mutable std::string asked;
};

TEST(TypeLibraryFormatTest, RoundTripsAndRefusesEveryDamagedForm) {
  const std::vector<uint8_t> bytes = SerializeTypeLib(SampleLibrary());
  auto parsed = ParseTypeLib(bytes);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(SerializeTypeLib(*parsed), bytes);

  for (size_t length = 0; length < bytes.size(); ++length) {
    EXPECT_FALSE(ParseTypeLib(std::span(bytes).first(length)).has_value()) << length;
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(ParseTypeLib(longer).has_value());

  TypeLibDesc dangling = SampleLibrary();
  dangling.types[2].impl_types[1].type_index = 3;
  EXPECT_FALSE(ParseTypeLib(SerializeTypeLib(dangling)).has_value());
  TypeLibDesc odd_type = SampleLibrary();
  odd_type.types[0].funcs[0].result = static_cast<VarType>(9);
  EXPECT_FALSE(ParseTypeLib(SerializeTypeLib(odd_type)).has_value());
}

TEST(TypeLibraryTest, AnswersHostsThroughItsInterfaces) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(CreateTypeLib(SampleLibrary(), lib.put()), S_OK);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kClassId, coclass.put()), S_OK);
  uint32_t ref = 0;
  int32_t flags = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  ComPtr<ITypeInfo> events;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, events.put()), S_OK);
  TypeAttr attr{};
  ASSERT_EQ(events->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr.guid, kEventsId);
  EXPECT_EQ(attr.func_count, 0);
  EXPECT_EQ(coclass->GetRefTypeOfImplType(2, &ref), TYPE_E_ELEMENTNOTFOUND);

  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(lib->GetTypeInfo(0, dispatch.put()), S_OK);
  const char* names[] = {"verify", "STRTEXT", "SessionID", "nope"};
  DISPID ids[4] = {};
  EXPECT_EQ(dispatch->GetIDsOfNames(names, 4, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 7);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(ids[3], DISPID_UNKNOWN);

  std::string name, doc, file;
  ASSERT_EQ(dispatch->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, &file), S_OK);
  EXPECT_EQ(name + "|" + doc + "|" + file, "_DSample|Dispatch|Sample.hlp");
  ASSERT_EQ(dispatch->GetDocumentation(1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(name, "Connect");

  // A type description keeps its library alive.
  ComPtr<ITypeLib> container;
  lib.Reset();
  uint32_t index = 9;
  ASSERT_EQ(dispatch->GetContainingTypeLib(container.put(), &index), S_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(container->GetTypeInfoCount(), 3u);
}

TEST(TypeLibraryRegistrationTest, WritesFindsAndRemovesItsEntries) {
  MemoryRegistry registry;
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(CreateTypeLib(SampleLibrary(), lib.put()), S_OK);
  ASSERT_EQ(RegisterTypeLib(lib.get(), "/opt/x/Sample.ocx", nullptr, registry), S_OK);
  const std::string key = "TypeLib\\{11111111-2222-3333-0102-030405060708}\\1.0";
  std::string data;
  ASSERT_EQ(registry.QueryValue(key + "\\409\\linux64", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "/opt/x/Sample.ocx");
  ASSERT_EQ(registry.QueryValue(key + "\\HELPDIR", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "/opt/x");
  ASSERT_EQ(registry.QueryValue(key + "\\FLAGS", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "2");
  ASSERT_EQ(
      registry.QueryValue("Interface\\" + GuidToString(kEventsId) + "\\TypeLib", "Version", &data),
      ERROR_SUCCESS);
  EXPECT_EQ(data, "1.0");
  EXPECT_EQ(registry.KeyExists("Interface\\" + GuidToString(kClassId)), ERROR_FILE_NOT_FOUND);

  // Found by the exact locale, or failing that by any registered one.
  FixedLoader loader;
  for (LCID lcid : {0x409u, 0x809u, 0u}) {
    ComPtr<ITypeLib> loaded;
    EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, lcid, registry, loader, loaded.put()), S_OK);
    EXPECT_EQ(loader.asked, "/opt/x/Sample.ocx");
  }
  ComPtr<ITypeLib> missing;
  EXPECT_EQ(LoadRegTypeLib(kLibId, 2, 0, 0x409, registry, loader, missing.put()),
            TYPE_E_LIBNOTREGISTERED);

  // Another library's interface entry stays.
  ASSERT_EQ(registry.CreateKey("Interface\\{FOREIGN}\\TypeLib"), ERROR_SUCCESS);
  ASSERT_EQ(registry.SetValue("Interface\\{FOREIGN}\\TypeLib", "", "{OTHER}"), ERROR_SUCCESS);
  ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, registry), S_OK);
  EXPECT_EQ(registry.KeyExists("TypeLib\\" + GuidToString(kLibId)), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.KeyExists("Interface\\" + GuidToString(kDispatchId)), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.KeyExists("Interface\\{FOREIGN}"), ERROR_SUCCESS);
  EXPECT_EQ(UnRegisterTypeLib(kLibId, 1, 0, registry), S_OK);  // already gone
}

TEST(ModuleResourcesTest, FindsResourcesAndOnlyInModuleFiles) {
  std::vector<Resource> resources = {{"STRING", 1, {'h', 'i'}}, {"TYPELIB", 1, {1, 2, 3}}};
  std::vector<uint8_t> section = BuildResourceSection(resources);
  auto set = ResourceSet::Parse(section);
  ASSERT_TRUE(set.has_value());
  EXPECT_EQ(set->LoadString(1), "hi");
  EXPECT_EQ(set->LoadString(2), std::nullopt);
  auto typelib = set->Find(RT_TYPELIB, 1);
  EXPECT_EQ(std::vector<uint8_t>(typelib.begin(), typelib.end()), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(set->Find(RT_BITMAP, 1).empty());
  section.pop_back();  // the last resource runs past the end
  EXPECT_FALSE(ResourceSet::Parse(section).has_value());

  // This test program has no resource section; a text file is no module.
  EXPECT_FALSE(ReadResourceSection("/proc/self/exe").has_value());
  EXPECT_FALSE(ReadResourceSection("/etc/passwd").has_value());
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(SystemTypeLibLoader().LoadTypeLib("/nonexistent.ocx", lib.put()),
            TYPE_E_CANTLOADLIBRARY);
}

}  // namespace
}  // namespace tarvona::com
