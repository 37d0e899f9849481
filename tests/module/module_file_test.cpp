#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "com/ole_control.h"
#include "com/type_library.h"
#include "control/method_table.h"
#include "module/identity.h"
#include "platform/dynamic_library.h"
#include "testing/softhsm_tokens.h"

namespace tarvona::module {
namespace {

using com::ComPtr;
using com::HRESULT;
using com::S_OK;

TEST(EmbeddedTypeLibraryTest, IsReadFromTheModuleFileAndMatchesTheMethodTable) {
  ComPtr<com::ITypeLib> lib;
  ASSERT_EQ(com::SystemTypeLibLoader().LoadTypeLib(TARVONA_MODULE_PATH, lib.put()), S_OK);
  com::TLibAttr attr{};
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr.guid, LIBID_TARVONAACTIVEXLib);
  EXPECT_EQ(attr.major, 1);
  EXPECT_EQ(attr.minor, 0);
  EXPECT_EQ(attr.lcid, 0x409u);
  EXPECT_EQ(attr.flags, com::LIBFLAG_FCONTROL);
  std::string name, doc, file;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, &file), S_OK);
  EXPECT_EQ(name + "|" + doc + "|" + file,
            "TARVONAACTIVEXLib|Tarvona ActiveX Control module|TarvonaActiveX.hlp");

  ComPtr<com::ITypeInfo> dispatch, events, coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__DTarvonaActiveX, dispatch.put()), S_OK);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__DTarvonaActiveXEvents, events.put()), S_OK);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_TarvonaActiveX, coclass.put()), S_OK);
  com::TypeAttr type{};
  ASSERT_EQ(dispatch->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type.flags, com::TYPEFLAG_FHIDDEN | com::TYPEFLAG_FDISPATCHABLE);
  ASSERT_EQ(type.func_count, MethodTable().size());
  for (uint32_t i = 0; i < type.func_count; ++i) {
    const com::FuncDesc* func = nullptr;
    ASSERT_EQ(dispatch->GetFuncDesc(i, &func), S_OK);
    const MethodInfo& method = MethodTable()[i];
    EXPECT_EQ(func->memid, method.dispid);
    EXPECT_EQ(func->name, method.name);
    EXPECT_EQ(func->result, method.result);
    ASSERT_EQ(func->params.size(), method.params.size()) << method.name;
    for (size_t p = 0; p < method.params.size(); ++p) {
      EXPECT_EQ(func->params[p].name, method.params[p].name);
      EXPECT_EQ(func->params[p].type, method.params[p].type);
    }
  }
  ASSERT_EQ(events->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type.func_count, 0);
  EXPECT_EQ(type.flags, com::TYPEFLAG_FDISPATCHABLE);
  ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type.flags, com::TYPEFLAG_FCANCREATE | com::TYPEFLAG_FCONTROL);
  int32_t flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, com::IMPLTYPEFLAG_FDEFAULT | com::IMPLTYPEFLAG_FSOURCE);

  ComPtr<com::ITypeLib> other;
  ASSERT_EQ(com::SystemTypeLibLoader().LoadTypeLib(TARVONA_OTHERLIB_MODULE_PATH, other.put()),
            S_OK);
  ASSERT_EQ(other->GetLibAttr(&attr), S_OK);
  EXPECT_NE(attr.guid, LIBID_TARVONAACTIVEXLib);
}

// The module file's exports, loaded as a host loads them, with the user's
// classes file in a folder of its own.
class ModuleFileTest : public ::testing::Test {
 protected:
  using DllFunction = HRESULT (*)();
  using GetClassObjectFunction = HRESULT (*)(const com::CLSID&, const com::IID&, void**);

  ModuleFileTest() {
    char folder[] = "/tmp/tarvona-xdg-XXXXXX";
    folder_ = mkdtemp(folder);
    setenv("XDG_DATA_HOME", folder_.c_str(), 1);
  }
  ~ModuleFileTest() override {
    unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(folder_);
  }

  std::string Record() const {
    std::ifstream in(folder_ + "/tarvona/classes.reg");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string folder_;
};

TEST_F(ModuleFileTest, RegistersServesAControlAndUnregisters) {
  testing::SoftHsmTokens tokens;  // the shipped adaptors reach SoftHSM
  auto library = platform::SystemLibraryLoader().Load(TARVONA_MODULE_PATH);
  ASSERT_TRUE(library);
  auto reg = reinterpret_cast<DllFunction>(library->Symbol("DllRegisterServer"));
  auto unreg = reinterpret_cast<DllFunction>(library->Symbol("DllUnregisterServer"));
  auto can_unload = reinterpret_cast<DllFunction>(library->Symbol("DllCanUnloadNow"));
  auto get_class = reinterpret_cast<GetClassObjectFunction>(library->Symbol("DllGetClassObject"));
  ASSERT_TRUE(reg && unreg && can_unload && get_class);

  ASSERT_EQ(reg(), S_OK);
  const std::string path = std::filesystem::canonical(TARVONA_MODULE_PATH).string();
  EXPECT_NE(Record().find("\\InprocServer32]\n@=\"" + path + "\"\n\"ThreadingModel\""),
            std::string::npos);

  void* out = &out;
  EXPECT_EQ(get_class(com::IID_IUnknown, com::IID_IClassFactory, &out),
            com::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  ComPtr<com::IClassFactory> factory;
  ASSERT_EQ(get_class(CLSID_TarvonaActiveX, com::IID_IClassFactory, factory.put_void()), S_OK);
  ComPtr<com::IDispatch> control;
  ASSERT_EQ(factory->CreateInstance(nullptr, com::IID_IDispatch, control.put_void()), S_OK);
  factory.Reset();
  EXPECT_EQ(can_unload(), com::S_FALSE);

  // Type information comes from the library as registered in the file.
  ComPtr<com::ITypeInfo> info;
  ASSERT_EQ(control->GetTypeInfo(0, 0x409, info.put()), S_OK);
  const com::FuncDesc* first = nullptr;
  ASSERT_EQ(info->GetFuncDesc(0, &first), S_OK);
  EXPECT_EQ(first->name, "ConnectToken");
  info.Reset();
  const com::Variant none[1];
  com::DispParams params{none, 0, nullptr, 0};
  com::Variant result;
  ASSERT_EQ(control->Invoke(1, com::IID_NULL, 0, com::DISPATCH_METHOD, &params, &result, nullptr,
                            nullptr),
            S_OK);
  EXPECT_EQ(result, com::Variant(int32_t{1003}));  // modules loaded, no token
  control.Reset();
  EXPECT_EQ(can_unload(), S_OK);

  ASSERT_EQ(unreg(), S_OK);
  EXPECT_EQ(Record().find("TARVONAACTIVEX"), std::string::npos);
  EXPECT_NE(Record().find("Controls safely scriptable!"), std::string::npos);
}

TEST_F(ModuleFileTest, AModuleWhoseLibraryHasAnotherLibidRegistersNothing) {
  auto library = platform::SystemLibraryLoader().Load(TARVONA_OTHERLIB_MODULE_PATH);
  ASSERT_TRUE(library);
  auto reg = reinterpret_cast<DllFunction>(library->Symbol("DllRegisterServer"));
  ASSERT_TRUE(reg);
  EXPECT_EQ(reg(), com::SELFREG_E_TYPELIB);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/tarvona/classes.reg"));
}

}  // namespace
}  // namespace tarvona::module
