#include <gtest/gtest.h>

#include <string>

#include "module/categories.h"
#include "tests/module/module_fixture.h"

namespace tarvona::module::testing {
namespace {

using com::S_OK;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\n\n";
constexpr char kControlKey[] = "CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}";
constexpr char kPageKey[] = "CLSID\\{AA974F6C-9331-4826-A667-AFA32E4EE295}";
constexpr char kScripting[] = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
constexpr char kInitializing[] = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";

// The two category definitions, which outlive the module's registration.
constexpr char kCategories[] =
    "[HKEY_CLASSES_ROOT\\Component Categories]\n\n"
    "[HKEY_CLASSES_ROOT\\Component Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}]\n"
    "\"409\"=\"Controls safely initializable from persistent data!\"\n\n"
    "[HKEY_CLASSES_ROOT\\Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}]\n"
    "\"409\"=\"Controls safely scriptable!\"\n\n";

// The whole record, keys in the order they are first written.
const std::string kRecord =
    std::string(kHeader) +
    "[HKEY_CLASSES_ROOT\\TypeLib]\n\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}]\n\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\\1.0]\n"
    "@=\"Tarvona ActiveX Control module\"\n\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\\1.0\\409]\n\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\\1.0\\409\\linux64]\n"
    "@=\"/opt/tarvona/TarvonaActiveX.ocx\"\n\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\\1.0\\FLAGS]\n"
    "@=\"2\"\n\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\\1.0\\HELPDIR]\n"
    "@=\"/opt/tarvona\"\n\n"
    "[HKEY_CLASSES_ROOT\\Interface]\n\n"
    "[HKEY_CLASSES_ROOT\\Interface\\{BD7B797B-B3E7-4795-BFA4-278AD9A83237}]\n"
    "@=\"_DTarvonaActiveX\"\n\n"
    "[HKEY_CLASSES_ROOT\\Interface\\{BD7B797B-B3E7-4795-BFA4-278AD9A83237}\\ProxyStubClsid32]\n"
    "@=\"{00020420-0000-0000-C000-000000000046}\"\n\n"
    "[HKEY_CLASSES_ROOT\\Interface\\{BD7B797B-B3E7-4795-BFA4-278AD9A83237}\\TypeLib]\n"
    "@=\"{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\"\n"
    "\"Version\"=\"1.0\"\n\n"
    "[HKEY_CLASSES_ROOT\\Interface\\{05796F81-ADB0-4536-9BDF-61C23D27E7E5}]\n"
    "@=\"_DTarvonaActiveXEvents\"\n\n"
    "[HKEY_CLASSES_ROOT\\Interface\\{05796F81-ADB0-4536-9BDF-61C23D27E7E5}\\ProxyStubClsid32]\n"
    "@=\"{00020420-0000-0000-C000-000000000046}\"\n\n"
    "[HKEY_CLASSES_ROOT\\Interface\\{05796F81-ADB0-4536-9BDF-61C23D27E7E5}\\TypeLib]\n"
    "@=\"{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\"\n"
    "\"Version\"=\"1.0\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID]\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{AA974F6C-9331-4826-A667-AFA32E4EE295}]\n"
    "@=\"TarvonaActiveX Property Page\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{AA974F6C-9331-4826-A667-AFA32E4EE295}\\InprocServer32]\n"
    "@=\"/opt/tarvona/TarvonaActiveX.ocx\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}]\n"
    "@=\"TarvonaActiveX Control\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\ProgID]\n"
    "@=\"TARVONAACTIVEX.TarvonaActiveXCtrl.1\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\InprocServer32]\n"
    "@=\"/opt/tarvona/TarvonaActiveX.ocx\"\n"
    "\"ThreadingModel\"=\"Apartment\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\ToolboxBitmap32]\n"
    "@=\"/opt/tarvona/TarvonaActiveX.ocx, 202\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\MiscStatus]\n"
    "@=\"0\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\MiscStatus\\1]\n"
    "@=\"132497\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\Control]\n"
    "@=\"\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\TypeLib]\n"
    "@=\"{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\Version]\n"
    "@=\"1.0\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\Implemented Categories]\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\Implemented Categories\\"
    "{7DD95802-9882-11CF-9FA9-00AA006C42C4}]\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\\Implemented Categories\\"
    "{7DD95801-9882-11CF-9FA9-00AA006C42C4}]\n\n"
    "[HKEY_CLASSES_ROOT\\TARVONAACTIVEX.TarvonaActiveXCtrl.1]\n"
    "@=\"TarvonaActiveX Control\"\n\n"
    "[HKEY_CLASSES_ROOT\\TARVONAACTIVEX.TarvonaActiveXCtrl.1\\CLSID]\n"
    "@=\"{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}\"\n\n" +
    kCategories;

using RegistrationTest = ModuleTest;

TEST_F(RegistrationTest, WritesTheRecordInItsOrderAndTheSameRecordTwice) {
  ASSERT_EQ(module_->DllRegisterServer(Services()), S_OK);
  EXPECT_EQ(Record(), kRecord);
  ASSERT_EQ(module_->DllRegisterServer(Services()), S_OK);
  EXPECT_EQ(Record(), kRecord);
}

TEST_F(RegistrationTest, RefusesALibraryItCannotLoadOrWithAnotherLibidAndWritesNothing) {
  type_libs_.libid = com::ParseGuid("{4B8A5D0E-7C1F-4E2A-9B3D-6F0C2E8A1D57}").value();
  EXPECT_EQ(module_->DllRegisterServer(Services()), com::SELFREG_E_TYPELIB);
  EXPECT_EQ(Record(), kHeader);
  type_libs_.libid = LIBID_TARVONAACTIVEXLib;
  type_libs_.failure = com::TYPE_E_CANTLOADLIBRARY;
  EXPECT_EQ(module_->DllRegisterServer(Services()), com::SELFREG_E_TYPELIB);
  EXPECT_EQ(Record(), kHeader);
  EXPECT_EQ(classes_.creations, 0);
}

TEST_F(RegistrationTest, AClassThatCannotBeWrittenStopsBeforeTheCategories) {
  registry_.fail_under = "MiscStatus";
  EXPECT_EQ(module_->DllRegisterServer(Services()), com::SELFREG_E_CLASS);
  std::string data;
  EXPECT_EQ(registry_.QueryValue(std::string(kPageKey) + "\\InprocServer32", "", &data),
            com::ERROR_SUCCESS);
  EXPECT_EQ(registry_.QueryValue(std::string(kControlKey) + "\\ToolboxBitmap32", "", &data),
            com::ERROR_SUCCESS);
  EXPECT_EQ(registry_.KeyExists(std::string(kControlKey) + "\\Control"), com::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(classes_.creations, 0);
}

TEST_F(RegistrationTest, ACategoryStepFailurePassesThroughWithLibraryAndClassesRegistered) {
  // Steps: define initializing, join it, define scripting, join it.
  for (int failing = 1; failing <= 4; ++failing) {
    SCOPED_TRACE(failing);
    registry_.inner = com::MemoryRegistry();
    classes_.creations = 0;
    classes_.refuse_creation = failing;
    EXPECT_EQ(module_->DllRegisterServer(Services()), classes_.refusal);
    EXPECT_EQ(registry_.KeyExists("TypeLib\\{0D30B34A-2E44-4F27-B3CC-5CBEEA2D0ED1}\\1.0"),
              com::ERROR_SUCCESS);
    EXPECT_EQ(registry_.KeyExists(std::string(kPageKey) + "\\InprocServer32"), com::ERROR_SUCCESS);
    EXPECT_EQ(registry_.KeyExists("TARVONAACTIVEX.TarvonaActiveXCtrl.1\\CLSID"),
              com::ERROR_SUCCESS);
    const std::string joined = std::string(kControlKey) + "\\Implemented Categories\\";
    EXPECT_EQ(registry_.KeyExists(joined + kInitializing) == com::ERROR_SUCCESS, failing > 2);
    EXPECT_EQ(registry_.KeyExists(std::string("Component Categories\\") + kScripting) ==
                  com::ERROR_SUCCESS,
              failing > 3);
    EXPECT_EQ(classes_.creations, failing);
  }
}

TEST_F(RegistrationTest, CategoryDescriptionsAreCutTo127Characters) {
  const std::u16string description(200, u'd');
  const com::CATID catid = CATID_SafeForScripting;
  ASSERT_EQ(CreateComponentCategory(classes_, catid, description), S_OK);
  std::string stored;
  ASSERT_EQ(
      registry_.QueryValue(std::string("Component Categories\\") + kScripting, "409", &stored),
      com::ERROR_SUCCESS);
  EXPECT_EQ(stored, std::string(127, 'd'));
}

TEST_F(RegistrationTest, UnregisteringLeavesOnlyTheCategoryDefinitions) {
  ASSERT_EQ(module_->DllRegisterServer(Services()), S_OK);
  ASSERT_EQ(module_->DllUnregisterServer(Services()), S_OK);
  EXPECT_EQ(Record(), std::string(kHeader) +
                          "[HKEY_CLASSES_ROOT\\TypeLib]\n\n"
                          "[HKEY_CLASSES_ROOT\\Interface]\n\n"
                          "[HKEY_CLASSES_ROOT\\CLSID]\n\n" +
                          kCategories);
  // Again, with everything already gone.
  EXPECT_EQ(module_->DllUnregisterServer(Services()), S_OK);
  registry_.inner = com::MemoryRegistry();
  EXPECT_EQ(module_->DllUnregisterServer(Services()), S_OK);
}

TEST_F(RegistrationTest, ASixteenBitServerKeyKeepsAllButTheInprocEntries) {
  ASSERT_EQ(module_->DllRegisterServer(Services()), S_OK);
  ASSERT_EQ(registry_.CreateKey(std::string(kControlKey) + "\\InprocServer"), com::ERROR_SUCCESS);
  ASSERT_EQ(module_->DllUnregisterServer(Services()), S_OK);
  std::vector<std::string> left;
  ASSERT_EQ(registry_.EnumKeys(kControlKey, &left), com::ERROR_SUCCESS);
  EXPECT_EQ(left, (std::vector<std::string>{"ProgID", "MiscStatus", "Control", "TypeLib", "Version",
                                            "InprocServer"}));
  EXPECT_EQ(registry_.KeyExists(kControlProgId), com::ERROR_SUCCESS);
  EXPECT_EQ(registry_.KeyExists(kPageKey), com::ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistrationTest, WithoutACategoriesManagerUnregisteringRemovesNothing) {
  ASSERT_EQ(module_->DllRegisterServer(Services()), S_OK);
  classes_.refuse_creation = classes_.creations + 1;
  EXPECT_EQ(module_->DllUnregisterServer(Services()), classes_.refusal);
  EXPECT_EQ(Record(), kRecord);
}

TEST_F(RegistrationTest, AMissingTypeNameStringGivesTheClsidAsName) {
  const com::ResourceSet no_strings;
  const ModuleEnvironment environment{
      loader_,   tarvona::testing::NoStore(), tarvona::testing::NoStore(), no_strings, registry_,
      type_libs_};
  module_.reset();
  TarvonaModule module(environment);
  ASSERT_EQ(module.DllRegisterServer(Services()), S_OK);
  std::string name;
  ASSERT_EQ(registry_.QueryValue(kControlKey, "", &name), com::ERROR_SUCCESS);
  EXPECT_EQ(name, "{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}");
  ASSERT_EQ(registry_.QueryValue(kControlProgId, "", &name), com::ERROR_SUCCESS);
  EXPECT_EQ(name, "{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}");
}

}  // namespace
}  // namespace tarvona::module::testing
