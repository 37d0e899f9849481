#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "com/ole_control.h"
#include "control/method_table.h"
#include "module/tarvona_ctrl.h"
#include "tests/module/module_fixture.h"

namespace tarvona::module::testing {
namespace {

using com::ComPtr;
using com::S_OK;
using com::Variant;

// A container that keeps the size it gave and remembers what it was asked.
class RecordingSite final : public com::IControlSite {
 public:
  HRESULT QueryInterface(const com::IID&, void** out) noexcept override {
    *out = nullptr;
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() noexcept override { return ++references; }
  com::ULONG Release() noexcept override { return --references; }
  HRESULT RequestExtent(const com::SizeL& himetric) noexcept override {
    requests.push_back(himetric);
    return com::S_FALSE;
  }
  HRESULT InvalidateControl() noexcept override {
    ++invalidations;
    return S_OK;
  }

  std::atomic<com::ULONG> references{1};
  std::vector<com::SizeL> requests;
  int invalidations = 0;
};

class ControlObjectTest : public ModuleTest {
 protected:
  ControlObjectTest() {
    dispatch_ = Create<com::IDispatch>(CLSID_TarvonaActiveX);
    EXPECT_EQ(dispatch_.As(&persist_), S_OK);
    EXPECT_EQ(dispatch_.As(&view_), S_OK);
    view_->SetClientSite(&site_);
    persist_->InitNew();
    site_.invalidations = 0;
  }
  ~ControlObjectTest() override {
    persist_.Reset();
    view_.Reset();
    dispatch_.Reset();
    EXPECT_EQ(site_.references, 1u);  // the control let the site go
  }

  TarvonaControlObject& object() { return *static_cast<TarvonaControlObject*>(dispatch_.get()); }
  std::vector<std::pair<std::string, Variant>> Saved() {
    com::MemoryPropertyBag bag;
    EXPECT_EQ(persist_->Save(&bag, true, true), S_OK);
    return bag.values();
  }
  void LoadFrom(const std::vector<std::pair<std::string, Variant>>& values) {
    com::MemoryPropertyBag bag;
    for (const auto& [name, value] : values) bag.Write(name.c_str(), &value);
    ASSERT_EQ(persist_->Load(&bag), S_OK);
  }

  RecordingSite site_;
  ComPtr<com::IDispatch> dispatch_;
  ComPtr<com::IPersistPropertyBag> persist_;
  ComPtr<com::IControlObject> view_;
};

using Properties = std::vector<std::pair<std::string, Variant>>;

TEST_F(ControlObjectTest, SavesExactlyVersionExtentAndStockMask) {
  EXPECT_EQ(Saved(), (Properties{{"_Version", int32_t{0x10000}},
                                 {"_ExtentX", int32_t{794}},
                                 {"_ExtentY", int32_t{794}},
                                 {"_StockProps", int32_t{0}}}));
}

TEST_F(ControlObjectTest, LoadsAnyVersionButSavesItsOwn) {
  LoadFrom({{"_Version", int32_t{0x20003}},
            {"_ExtentX", std::string("1000")},
            {"_ExtentY", int32_t{500}}});
  EXPECT_EQ(object().loaded_version(), 0x20003u);
  EXPECT_EQ(Saved(), (Properties{{"_Version", int32_t{0x10000}},
                                 {"_ExtentX", int32_t{1000}},
                                 {"_ExtentY", int32_t{500}},
                                 {"_StockProps", int32_t{0}}}));
  // Without "_Version" the default is taken; an extent not given, or not a
  // number, stays.
  LoadFrom({{"_ExtentY", std::string("tall")}});
  EXPECT_EQ(object().loaded_version(), 0x10000u);
  EXPECT_EQ(Saved()[2].second, Variant(int32_t{500}));
}

TEST_F(ControlObjectTest, ResetTakesTheDefaultVersionKeepsTheExtentAndRepaints) {
  LoadFrom({{"_Version", int32_t{0x20000}}, {"_ExtentX", int32_t{1000}}});
  ASSERT_EQ(persist_->InitNew(), S_OK);
  EXPECT_EQ(object().loaded_version(), 0x10000u);
  EXPECT_EQ(Saved()[1].second, Variant(int32_t{1000}));
  EXPECT_EQ(site_.invalidations, 1);
}

TEST_F(ControlObjectTest, DrawsBitmap202At30By30AtTheOriginWhateverTheBounds) {
  const com::Bitmap picture = ToolboxPicture();
  constexpr com::Rgb kPaper{1, 2, 3};
  for (const com::RectL bounds :
       {com::RectL{0, 0, 30, 30}, com::RectL{10, 20, 40, 50}, com::RectL{0, 0, 100, 40}}) {
    com::MemorySurface surface(50, 45, kPaper);
    ASSERT_EQ(view_->Draw(&surface, &bounds), S_OK);
    for (int32_t y = 0; y < 45; ++y) {
      for (int32_t x = 0; x < 50; ++x) {
        // The picture's pixel under the centre of each of the 30 x 30.
        com::Rgb expected =
            x < 30 && y < 30 ? picture.Pixel((2 * x + 1) * 32 / 60, (2 * y + 1) * 32 / 60) : kPaper;
        ASSERT_EQ(surface.Pixel(x, y), expected) << x << "," << y;
      }
    }
  }
  // Only the 100 x 40 bounds asked for 30 x 30 pixels, as HIMETRIC.
  EXPECT_EQ(site_.requests, (std::vector<com::SizeL>{{794, 794}}));
}

TEST_F(ControlObjectTest, AsksAgainAtEveryPaintWhileTheContainerKeepsItsSize) {
  view_->SetExtent({5000, 5000});
  const com::RectL bounds{0, 0, 200, 200};
  com::MemorySurface surface(200, 200, {0, 0, 0});
  ASSERT_EQ(view_->Draw(&surface, &bounds), S_OK);
  ASSERT_EQ(view_->Draw(&surface, &bounds), S_OK);
  EXPECT_EQ(site_.requests.size(), 2u);
  com::SizeL extent{};
  ASSERT_EQ(view_->GetExtent(&extent), S_OK);
  EXPECT_EQ(extent, (com::SizeL{794, 794}));

  com::MemorySurface tiny(4, 3, {0, 0, 0});  // clipped, not overrun
  EXPECT_EQ(view_->Draw(&tiny, &bounds), S_OK);
}

TEST_F(ControlObjectTest, TellsItsIdentityStatusAndOnePropertyPage) {
  uint32_t status = 0;
  ASSERT_EQ(view_->GetMiscStatus(&status), S_OK);
  EXPECT_EQ(status, 132497u);
  com::CLSID clsid{};
  ASSERT_EQ(persist_->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TarvonaActiveX);

  ComPtr<com::ISpecifyPropertyPages> page_list;
  ASSERT_EQ(dispatch_.As(&page_list), S_OK);
  for (int ask = 0; ask < 2; ++ask) {
    com::CAUUID pages{};
    ASSERT_EQ(page_list->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.count, 1u);
    EXPECT_EQ(pages.elements[0], CLSID_TarvonaActiveXPropPage);
    com::CoTaskMemFree(pages.elements);
  }

  ComPtr<com::IDispatch> by_dispinterface;
  EXPECT_EQ(dispatch_->QueryInterface(DIID__DTarvonaActiveX, by_dispinterface.put_void()), S_OK);
  EXPECT_EQ(by_dispinterface.get(), dispatch_.get());
  ComPtr<com::IUnknown> events;
  EXPECT_EQ(dispatch_->QueryInterface(DIID__DTarvonaActiveXEvents, events.put_void()),
            com::E_NOINTERFACE);
}

TEST_F(ControlObjectTest, DispatchesByNameAndDispidAsAutomationDoes) {
  const char* names[] = {"verifycertcrl", "CERTDATA", "SessionID", "nothing"};
  com::DISPID ids[4] = {};
  EXPECT_EQ(dispatch_->GetIDsOfNames(com::IID_NULL, names, 4, 0, ids), com::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(std::vector<com::DISPID>(ids, ids + 4),
            (std::vector<com::DISPID>{24, 2, 0, com::DISPID_UNKNOWN}));
  EXPECT_EQ(dispatch_->GetIDsOfNames(com::IID_IDispatch, names, 1, 0, ids),
            com::DISP_E_UNKNOWNINTERFACE);

  const Variant args[] = {int32_t{0}, int32_t{2}, std::string("x")};
  com::DispParams params{args, 3, nullptr, 0};
  Variant result;
  EXPECT_EQ(dispatch_->Invoke(24, com::IID_NULL, 0, com::DISPATCH_METHOD, &params, &result, nullptr,
                              nullptr),
            S_OK);
  EXPECT_EQ(result, Variant(int32_t{1}));
  EXPECT_EQ(dispatch_->Invoke(24, com::IID_NULL, 0, com::DISPATCH_PROPERTYPUT, &params, &result,
                              nullptr, nullptr),
            com::DISP_E_MEMBERNOTFOUND);
  const com::DISPID named[] = {0};
  com::DispParams with_names{args, 3, named, 1};
  EXPECT_EQ(dispatch_->Invoke(24, com::IID_NULL, 0, com::DISPATCH_METHOD, &with_names, &result,
                              nullptr, nullptr),
            com::DISP_E_NONAMEDARGS);
  uint32_t arg_err = 99;
  const Variant bad[] = {int32_t{0}, std::string("two"), std::string("x")};
  com::DispParams bad_params{bad, 3, nullptr, 0};
  EXPECT_EQ(dispatch_->Invoke(24, com::IID_NULL, 0, com::DISPATCH_METHOD, &bad_params, nullptr,
                              nullptr, &arg_err),
            com::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err, 1u);  // natural order
}

TEST_F(ControlObjectTest, GivesTypeInformationOnlyOnceTheLibraryIsRegistered) {
  uint32_t count = 0;
  ASSERT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<com::ITypeInfo> info;
  EXPECT_EQ(dispatch_->GetTypeInfo(0, 0x409, info.put()), com::TYPE_E_LIBNOTREGISTERED);

  ASSERT_EQ(module_->DllRegisterServer(Services()), S_OK);
  EXPECT_EQ(dispatch_->GetTypeInfo(1, 0x409, info.put()), com::DISP_E_BADINDEX);
  ASSERT_EQ(dispatch_->GetTypeInfo(0, 0x409, info.put()), S_OK);
  com::TypeAttr attr{};
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr.guid, DIID__DTarvonaActiveX);
  EXPECT_EQ(attr.func_count, 26);
}

TEST_F(ControlObjectTest, ThePropertyPageShowsItsOneLineAndChangesNothing) {
  auto page = Create<com::IPropertyPageDialog>(CLSID_TarvonaActiveXPropPage);
  ASSERT_TRUE(page);
  com::IUnknown* edited[] = {dispatch_.get()};
  ASSERT_EQ(page->SetObjects(1, edited), S_OK);
  com::DialogTemplate dialog;
  ASSERT_EQ(page->GetDialog(&dialog), S_OK);
  EXPECT_EQ(dialog.caption, "General");
  EXPECT_EQ(dialog.cx, 250);
  EXPECT_EQ(dialog.cy, 62);
  ASSERT_EQ(dialog.items.size(), 1u);
  EXPECT_EQ(dialog.items[0].window_class, "STATIC");
  EXPECT_EQ(dialog.items[0].text,
            "TODO: Place controls to manipulate properties of TarvonaActiveX Control on this "
            "dialog.");
  const auto before = Saved();
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), com::S_FALSE);
  EXPECT_EQ(Saved(), before);
  EXPECT_EQ(module_->state().live_objects(), 2);
  page.Reset();  // lets the control go
  EXPECT_EQ(module_->state().live_objects(), 1);
}

}  // namespace
}  // namespace tarvona::module::testing
