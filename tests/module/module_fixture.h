#pragma once

#include <memory>
#include <string>

#include "com/component_categories.h"
#include "com/registry.h"
#include "module/embedded_resources.h"
#include "module/identity.h"
#include "module/resource_sources.h"
#include "module/tarvona_module.h"
#include "tests/support/no_store.h"
#include "tests/support/token_test_base.h"

namespace tarvona::module::testing {

inline constexpr char kModulePath[] = "/opt/tarvona/TarvonaActiveX.ocx";

// The module's own library, as the resource compiler makes it, with the
// LIBID chosen; or a failure.
class SourceTypeLibLoader final : public com::TypeLibLoader {
 public:
  HRESULT LoadTypeLib(const std::string&, com::ITypeLib** out) const noexcept override {
    if (com::Failed(failure)) return failure;
    return com::CreateTypeLib(TarvonaTypeLibrary(libid), out);
  }
  com::GUID libid = LIBID_TARVONAACTIVEXLib;
  HRESULT failure = com::S_OK;
};

// A registry in memory whose writes fail under keys holding `fail_under`.
class FailingRegistry final : public com::Registry {
 public:
  com::LSTATUS CreateKey(std::string_view key) override {
    return Fails(key) ? com::ERROR_CANTWRITE : inner.CreateKey(key);
  }
  com::LSTATUS SetValue(std::string_view key, std::string_view name,
                        std::string_view data) override {
    return Fails(key) ? com::ERROR_CANTWRITE : inner.SetValue(key, name, data);
  }
  com::LSTATUS DeleteTree(std::string_view key) override {
    return Fails(key) ? com::ERROR_CANTWRITE : inner.DeleteTree(key);
  }
  com::LSTATUS KeyExists(std::string_view key) const override { return inner.KeyExists(key); }
  com::LSTATUS QueryValue(std::string_view key, std::string_view name,
                          std::string* data) const override {
    return inner.QueryValue(key, name, data);
  }
  com::LSTATUS EnumKeys(std::string_view key, std::vector<std::string>* names) const override {
    return inner.EnumKeys(key, names);
  }

  com::MemoryRegistry inner;
  std::string fail_under;

 private:
  bool Fails(std::string_view key) const {
    return !fail_under.empty() && key.find(fail_under) != std::string_view::npos;
  }
};

// The system's categories manager, but the n-th creation (1-based) can be
// refused.
class ScriptedClassCreator final : public com::ComClassCreator {
 public:
  explicit ScriptedClassCreator(com::Registry& registry) : system_(registry) {}
  HRESULT CreateInstance(const com::CLSID& clsid, com::IUnknown* outer, uint32_t context,
                         const com::IID& iid, void** out) noexcept override {
    if (++creations == refuse_creation) {
      *out = nullptr;
      return refusal;
    }
    return system_.CreateInstance(clsid, outer, context, iid, out);
  }

  int creations = 0;
  int refuse_creation = 0;
  HRESULT refusal = com::MakeHresult(0x80041234);

 private:
  com::SystemClassCreator system_;
};

// One module with in-memory services: registry, categories manager and type
// library loader as above; the control loads the fault build of the token
// modules from a fresh SoftHSM folder.
class ModuleTest : public tarvona::testing::TokenTest {
 protected:
  ModuleTest()
      : resources_(com::ResourceSet::Parse(EmbeddedResources()).value()),
        environment_{loader_,
                     tarvona::testing::NoStore(),
                     tarvona::testing::NoStore(),
                     resources_,
                     registry_,
                     type_libs_},
        module_(std::make_unique<TarvonaModule>(environment_)) {}

  RegistrationServices Services() { return {registry_, classes_, type_libs_, kModulePath}; }
  std::string Record() const { return registry_.inner.ToText(); }

  template <typename Interface>
  com::ComPtr<Interface> Create(const com::CLSID& clsid) {
    com::ComPtr<com::IClassFactory> factory;
    com::ComPtr<Interface> object;
    EXPECT_EQ(module_->DllGetClassObject(clsid, com::IID_IClassFactory, factory.put_void()),
              com::S_OK);
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(nullptr, Interface::kIid, object.put_void()), com::S_OK);
    }
    return object;
  }

  FailingRegistry registry_;
  ScriptedClassCreator classes_{registry_};
  SourceTypeLibLoader type_libs_;
  com::ResourceSet resources_;
  ModuleEnvironment environment_;
  std::unique_ptr<TarvonaModule> module_;
};

}  // namespace tarvona::module::testing
