#include "host/com_activation.h"

#include <algorithm>

namespace tarvona::host {

using com::HRESULT;

struct ComActivator::Server {
  using GetClassObjectFn = HRESULT (*)(const com::CLSID&, const com::IID&, void**);
  using CanUnloadNowFn = HRESULT (*)();

  std::string path;
  std::unique_ptr<platform::DynamicLibrary> library;
  GetClassObjectFn get_class_object = nullptr;
  CanUnloadNowFn can_unload_now = nullptr;
};

ComActivator::ComActivator(const com::Registry& registry, const platform::LibraryLoader& loader)
    : registry_(registry), loader_(loader) {}

ComActivator::~ComActivator() = default;

HRESULT ComActivator::ClsidFromProgId(std::string_view prog_id, com::CLSID* clsid) const {
  std::string text;
  if (prog_id.empty() || prog_id.find('\\') != std::string_view::npos ||
      registry_.QueryValue(std::string(prog_id) + "\\CLSID", "", &text) != com::ERROR_SUCCESS) {
    return com::REGDB_E_CLASSNOTREG;
  }
  auto parsed = com::ParseGuid(text);
  if (!parsed) return com::REGDB_E_CLASSNOTREG;
  *clsid = *parsed;
  return com::S_OK;
}

HRESULT ComActivator::LoadServer(const std::string& path, Server** server) {
  for (const auto& s : servers_) {
    if (s->path == path) {
      *server = s.get();
      return com::S_OK;
    }
  }
  auto loaded = std::make_unique<Server>();
  loaded->path = path;
  loaded->library = loader_.Load(path);
  if (!loaded->library) return com::CO_E_DLLNOTFOUND;
  loaded->get_class_object =
      reinterpret_cast<Server::GetClassObjectFn>(loaded->library->Symbol("DllGetClassObject"));
  loaded->can_unload_now =
      reinterpret_cast<Server::CanUnloadNowFn>(loaded->library->Symbol("DllCanUnloadNow"));
  if (loaded->get_class_object == nullptr || loaded->can_unload_now == nullptr) {
    return com::CO_E_ERRORINDLL;
  }
  *server = loaded.get();
  servers_.push_back(std::move(loaded));
  return com::S_OK;
}

HRESULT ComActivator::CreateInstance(const com::CLSID& clsid, const com::IID& iid, void** out) {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  std::string path;
  if (registry_.QueryValue("CLSID\\" + com::GuidToString(clsid) + "\\InprocServer32", "", &path) !=
          com::ERROR_SUCCESS ||
      path.empty()) {
    return com::REGDB_E_CLASSNOTREG;
  }
  Server* server = nullptr;
  HRESULT hr = LoadServer(path, &server);
  if (com::Failed(hr)) return hr;
  {
    com::ComPtr<com::IClassFactory> factory;
    hr = server->get_class_object(clsid, com::IID_IClassFactory, factory.put_void());
    if (com::Succeeded(hr)) hr = factory->CreateInstance(nullptr, iid, out);
  }
  // A module that made nothing need not stay.
  if (com::Failed(hr)) FreeUnusedLibraries();
  return hr;
}

void ComActivator::FreeUnusedLibraries() {
  std::erase_if(servers_, [](const auto& s) { return s->can_unload_now() == com::S_OK; });
}

}  // namespace tarvona::host
