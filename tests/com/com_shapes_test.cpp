#include <gtest/gtest.h>

#include <string>

#include "com/component_categories.h"
#include "com/guid.h"
#include "com/ole_control.h"
#include "com/wide_text.h"

namespace tarvona::com {
namespace {

TEST(GuidTest, TextFormRoundTripsAndRefusesOtherForms) {
  constexpr GUID g = {0x89F34120, 0xD7D2, 0x4CEB, {0x84, 0xE7, 0xD2, 0x9B, 0x8A, 0xAD, 0x6B, 0x6C}};
  EXPECT_EQ(GuidToString(g), "{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}");
  EXPECT_EQ(ParseGuid("{89f34120-d7d2-4ceb-84e7-d29b8aad6b6c}"), g);
  EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  for (const char* bad :
       {"89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C", "{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6}",
        "{89F34120-D7D2-4CEB-84E7-D29B8AAD6B6G}", "{89F34120D-7D2-4CEB-84E7-D29B8AAD6B6C}"}) {
    EXPECT_FALSE(ParseGuid(bad).has_value()) << bad;
  }
}

TEST(WideTextTest, KeepsWhatUtf16CanHoldAndReplacesWhatIsBroken) {
  const std::string text = "Z\xC3\xBC\xE2\x82\xAC\xF0\x9F\x94\x91";  // Z, u-umlaut, euro, key
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'Z', 0xFC, 0x20AC, 0xD83D, 0xDD11}));
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf8ToUtf16("a\xC0\xAF"
                        "b\xED\xA0\x80"),
            u"a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
}

TEST(PropertyBagTest, ConvertsToTheTypeAskedFor) {
  MemoryPropertyBag bag;
  const Variant text = std::string("794"), big = int32_t{70000}, word = std::string("x");
  ASSERT_EQ(bag.Write("_ExtentX", &text), S_OK);
  ASSERT_EQ(bag.Write("Big", &big), S_OK);
  ASSERT_EQ(bag.Write("Word", &word), S_OK);
  Variant value = int32_t{0};
  ASSERT_EQ(bag.Read("_extentx", &value), S_OK);
  EXPECT_EQ(value, Variant(int32_t{794}));
  value = int16_t{0};
  EXPECT_EQ(bag.Read("Big", &value), DISP_E_OVERFLOW);
  value = int32_t{0};
  EXPECT_EQ(bag.Read("Word", &value), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bag.Read("Missing", &value), E_INVALIDARG);
  value = std::string();
  ASSERT_EQ(bag.Read("Big", &value), S_OK);
  EXPECT_EQ(value, Variant(std::string("70000")));
  value = std::monostate{};
  ASSERT_EQ(bag.Read("big", &value), S_OK);
  EXPECT_EQ(value, big);

  ASSERT_EQ(bag.Write("_EXTENTX", &big), S_OK);  // replaces in place
  ASSERT_EQ(bag.values().size(), 3u);
  EXPECT_EQ(bag.values()[0].first, "_ExtentX");
  EXPECT_EQ(bag.values()[0].second, big);
}

TEST(ComponentCategoriesTest, KeepsCategoriesAsWindowsDoes) {
  MemoryRegistry registry;
  SystemClassCreator classes(registry);
  ComPtr<ICatRegister> manager;
  EXPECT_EQ(classes.CreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDispatch, manager.put_void()),
            E_NOINTERFACE);
  EXPECT_EQ(classes.CreateInstance(IID_IDispatch, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                   manager.put_void()),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(classes.CreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICatRegister, manager.put_void()),
            S_OK);

  constexpr CATID kFirst = {0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0, 0xAA, 0, 0x6C, 0x42, 0xC4}};
  constexpr CATID kSecond = {
      0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0, 0xAA, 0, 0x6C, 0x42, 0xC4}};
  CATEGORYINFO info{kFirst, 0x409, {}};
  const std::u16string description = u"Controls safely scriptable!";
  description.copy(info.szDescription, description.size());
  ASSERT_EQ(manager->RegisterCategories(1, &info), S_OK);
  std::string data;
  ASSERT_EQ(registry.QueryValue("Component Categories\\" + GuidToString(kFirst), "409", &data),
            ERROR_SUCCESS);
  EXPECT_EQ(data, "Controls safely scriptable!");
  std::fill(std::begin(info.szDescription), std::end(info.szDescription), u'x');
  EXPECT_EQ(manager->RegisterCategories(1, &info), E_INVALIDARG);  // no terminator

  const CLSID control = IID_IDispatch;
  const std::string list = "CLSID\\" + GuidToString(control) + "\\Implemented Categories";
  const CATID both[] = {kFirst, kSecond};
  ASSERT_EQ(manager->RegisterClassImplCategories(control, 2, both), S_OK);
  ASSERT_EQ(manager->UnRegisterClassImplCategories(control, 1, &kFirst), S_OK);
  std::vector<std::string> left;
  ASSERT_EQ(registry.EnumKeys(list, &left), ERROR_SUCCESS);
  EXPECT_EQ(left, (std::vector<std::string>{GuidToString(kSecond)}));
  // The list goes with its last entry; removing what is gone succeeds.
  ASSERT_EQ(manager->UnRegisterClassImplCategories(control, 2, both), S_OK);
  EXPECT_EQ(registry.KeyExists(list), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.KeyExists("CLSID\\" + GuidToString(control)), ERROR_SUCCESS);
  EXPECT_EQ(registry.KeyExists("Component Categories\\" + GuidToString(kFirst)), ERROR_SUCCESS);
}

}  // namespace
}  // namespace tarvona::com
