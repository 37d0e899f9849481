#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "com/ole_control.h"
#include "tests/module/module_fixture.h"

namespace tarvona::module::testing {
namespace {

using com::ComPtr;
using com::S_FALSE;
using com::S_OK;

using ClassObjectTest = ModuleTest;

TEST_F(ClassObjectTest, HandsOutOnlyItsTwoClassesAndOnlyWhileStarted) {
  void* out = &out;
  EXPECT_EQ(module_->DllGetClassObject(com::IID_IDispatch, com::IID_IClassFactory, &out),
            com::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(module_->DllGetClassObject(CLSID_TarvonaActiveX, com::IID_IDispatch, &out),
            com::E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  ComPtr<com::IClassFactory> page_factory;
  ASSERT_EQ(module_->DllGetClassObject(CLSID_TarvonaActiveXPropPage, com::IID_IClassFactory,
                                       page_factory.put_void()),
            S_OK);
  ComPtr<com::IDispatch> control;
  EXPECT_EQ(page_factory->CreateInstance(nullptr, com::IID_IDispatch, control.put_void()),
            com::E_NOINTERFACE);
  com::IUnknown* outer = page_factory.get();
  ComPtr<com::IUnknown> aggregated;
  EXPECT_EQ(page_factory->CreateInstance(outer, com::IID_IUnknown, aggregated.put_void()),
            com::CLASS_E_NOAGGREGATION);
  page_factory.Reset();

  // Exit clears the registered marks; start-up sets them again.
  module_->app().ExitInstance();
  EXPECT_EQ(module_->DllGetClassObject(CLSID_TarvonaActiveX, com::IID_IClassFactory, &out),
            com::CLASS_E_CLASSNOTAVAILABLE);
  module_->app().InitInstance();
  ComPtr<com::IClassFactory> factory;
  EXPECT_EQ(
      module_->DllGetClassObject(CLSID_TarvonaActiveX, com::IID_IClassFactory, factory.put_void()),
      S_OK);
}

TEST_F(ClassObjectTest, MayUnloadOnlyWithoutObjectsLocksOrHeldClassObjects) {
  EXPECT_EQ(module_->DllCanUnloadNow(), S_OK);
  ComPtr<com::IClassFactory> factory;
  ASSERT_EQ(
      module_->DllGetClassObject(CLSID_TarvonaActiveX, com::IID_IClassFactory, factory.put_void()),
      S_OK);
  EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE);
  ComPtr<com::IDispatch> control;
  ASSERT_EQ(factory->CreateInstance(nullptr, com::IID_IDispatch, control.put_void()), S_OK);
  factory->LockServer(true);
  factory.Reset();
  EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE);
  control.Reset();
  EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE);  // still locked
  ASSERT_EQ(
      module_->DllGetClassObject(CLSID_TarvonaActiveX, com::IID_IClassFactory, factory.put_void()),
      S_OK);
  factory->LockServer(false);
  factory.Reset();
  EXPECT_EQ(module_->DllCanUnloadNow(), S_OK);

  auto page = Create<com::IPropertyPageDialog>(CLSID_TarvonaActiveXPropPage);
  EXPECT_EQ(module_->state().live_objects(), 1);
  EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE);
  page.Reset();
  EXPECT_EQ(module_->DllCanUnloadNow(), S_OK);
}

// Passes loads on, and notes each load and unload with the number of live
// objects the module counts at that moment.
class CountingLoader final : public platform::LibraryLoader {
 public:
  CountingLoader(const platform::LibraryLoader& inner, std::function<long()> live,
                 std::vector<std::string>& events)
      : inner_(inner), live_(std::move(live)), events_(events) {}

  std::unique_ptr<platform::DynamicLibrary> Load(const std::string& name) const override {
    auto library = inner_.Load(name);
    events_.push_back("load " + name + " with " + std::to_string(live_()) + " live");
    if (!library) return nullptr;
    return std::make_unique<Library>(std::move(library), name, *this);
  }

 private:
  class Library final : public platform::DynamicLibrary {
   public:
    Library(std::unique_ptr<platform::DynamicLibrary> inner, std::string name,
            const CountingLoader& loader)
        : inner_(std::move(inner)), name_(std::move(name)), loader_(loader) {}
    ~Library() override {
      inner_.reset();
      loader_.events_.push_back("unload " + name_ + " with " + std::to_string(loader_.live_()) +
                                " live");
    }
    void* Symbol(const char* name) const override { return inner_->Symbol(name); }

   private:
    std::unique_ptr<platform::DynamicLibrary> inner_;
    std::string name_;
    const CountingLoader& loader_;
  };

  const platform::LibraryLoader& inner_;
  std::function<long()> live_;
  std::vector<std::string>& events_;
};

// The modules' start and stop calls, with their generation.
std::vector<std::string> Lifecycle() {
  std::vector<std::string> calls;
  tarvona_trace_entry entry{};
  for (unsigned long i = 0; tarvona_trace_get(i, &entry) != 0; ++i) {
    const std::string function = entry.function;
    if (function == "C_Initialize" || function == "C_Finalize") {
      calls.push_back(std::to_string(entry.generation) + " " + function);
    }
  }
  return calls;
}

TEST_F(ClassObjectTest, AControlIsCountedBeforeItsModulesLoadAndUntilTheyAreUnloaded) {
  tokens_.AddToken("alpha");
  std::vector<std::string> events;
  TarvonaModule* module = nullptr;
  CountingLoader counting(
      loader_, [&] { return module->state().live_objects(); }, events);
  const ModuleEnvironment environment{
      counting,  tarvona::testing::NoStore(), tarvona::testing::NoStore(), resources_, registry_,
      type_libs_};
  TarvonaModule counted(environment);
  module = &counted;

  ComPtr<com::IClassFactory> factory;
  ComPtr<com::IDispatch> control;
  ASSERT_EQ(
      counted.DllGetClassObject(CLSID_TarvonaActiveX, com::IID_IClassFactory, factory.put_void()),
      S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, com::IID_IDispatch, control.put_void()), S_OK);
  factory.Reset();
  EXPECT_EQ(events, (std::vector<std::string>{"load Tarvonav4.dll with 1 live",
                                              "load Tarvonav5.dll with 1 live"}));
  EXPECT_EQ(Lifecycle(), (std::vector<std::string>{"4 C_Initialize", "5 C_Initialize"}));
  EXPECT_EQ(counted.DllCanUnloadNow(), S_FALSE);

  tarvona_trace_clear();
  events.clear();
  control.Reset();
  EXPECT_EQ(Lifecycle(), (std::vector<std::string>{"4 C_Finalize", "5 C_Finalize"}));
  EXPECT_EQ(events, (std::vector<std::string>{"unload Tarvonav4.dll with 1 live",
                                              "unload Tarvonav5.dll with 1 live"}));
  EXPECT_EQ(counted.state().live_objects(), 0);
  EXPECT_EQ(counted.DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace tarvona::module::testing
