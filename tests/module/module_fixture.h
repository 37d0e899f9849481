#pragma once

#include <memory>
#include <string>

#include "module/embedded_resources.h"
#include "module/identity.h"
#include "module/resource_sources.h"
#include "module/tarvona_module.h"
#include "platform/component_categories.h"
#include "platform/registry.h"
#include "tests/support/token_test_base.h"

namespace tarvona::module::testing {

inline constexpr char kModulePath[] = "/opt/tarvona/TarvonaActiveX.ocx";

// The module's own library, as the resource compiler makes it, with the
// LIBID chosen; or a failure.
class SourceTypeLibLoader final : public platform::TypeLibLoader {
 public:
  HRESULT LoadTypeLib(const std::string&, platform::ITypeLib** out) const noexcept override {
    if (platform::Failed(failure)) return failure;
    return platform::CreateTypeLib(TarvonaTypeLibrary(libid), out);
  }
  platform::GUID libid = LIBID_TARVONAACTIVEXLib;
  HRESULT failure = platform::S_OK;
};

// A registry in memory whose writes fail under keys holding `fail_under`.
class FailingRegistry final : public platform::Registry {
 public:
  platform::LSTATUS CreateKey(std::string_view key) override {
    return Fails(key) ? platform::ERROR_CANTWRITE : inner.CreateKey(key);
  }
  platform::LSTATUS SetValue(std::string_view key, std::string_view name,
                             std::string_view data) override {
    return Fails(key) ? platform::ERROR_CANTWRITE : inner.SetValue(key, name, data);
  }
  platform::LSTATUS DeleteTree(std::string_view key) override {
    return Fails(key) ? platform::ERROR_CANTWRITE : inner.DeleteTree(key);
  }
  platform::LSTATUS KeyExists(std::string_view key) const override { return inner.KeyExists(key); }
  platform::LSTATUS QueryValue(std::string_view key, std::string_view name,
                               std::string* data) const override {
    return inner.QueryValue(key, name, data);
  }
  platform::LSTATUS EnumKeys(std::string_view key, std::vector<std::string>* names) const override {
    return inner.EnumKeys(key, names);
  }

  platform::MemoryRegistry inner;
  std::string fail_under;

 private:
  bool Fails(std::string_view key) const {
    return !fail_under.empty() && key.find(fail_under) != std::string_view::npos;
  }
};

// The system's categories manager, but the n-th creation (1-based) can be
// refused.
class ScriptedClassCreator final : public platform::ComClassCreator {
 public:
  explicit ScriptedClassCreator(platform::Registry& registry) : system_(registry) {}
  HRESULT CreateInstance(const platform::CLSID& clsid, platform::IUnknown* outer, uint32_t context,
                         const platform::IID& iid, void** out) noexcept override {
    if (++creations == refuse_creation) {
      *out = nullptr;
      return refusal;
    }
    return system_.CreateInstance(clsid, outer, context, iid, out);
  }

  int creations = 0;
  int refuse_creation = 0;
  HRESULT refusal = platform::MakeHresult(0x80041234);

 private:
  platform::SystemClassCreator system_;
};

// One module with in-memory services: registry, categories manager and type
// library loader as above; the control loads the fault build of the token
// modules from a fresh SoftHSM folder.
class ModuleTest : public tarvona::testing::TokenTest {
 protected:
  ModuleTest()
      : resources_(platform::ResourceSet::Parse(EmbeddedResources()).value()),
        environment_{loader_, resources_, registry_, type_libs_},
        module_(std::make_unique<TarvonaModule>(environment_)) {}

  RegistrationServices Services() { return {registry_, classes_, type_libs_, kModulePath}; }
  std::string Record() const { return registry_.inner.ToText(); }

  template <typename Interface>
  platform::ComPtr<Interface> Create(const platform::CLSID& clsid) {
    platform::ComPtr<platform::IClassFactory> factory;
    platform::ComPtr<Interface> object;
    EXPECT_EQ(module_->DllGetClassObject(clsid, platform::IID_IClassFactory, factory.put_void()),
              platform::S_OK);
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(nullptr, Interface::kIid, object.put_void()),
                platform::S_OK);
    }
    return object;
  }

  FailingRegistry registry_;
  ScriptedClassCreator classes_{registry_};
  SourceTypeLibLoader type_libs_;
  platform::ResourceSet resources_;
  ModuleEnvironment environment_;
  std::unique_ptr<TarvonaModule> module_;
};

}  // namespace tarvona::module::testing
