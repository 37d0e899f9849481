#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "com/com.h"
#include "com/registry.h"
#include "platform/dynamic_library.h"

namespace tarvona::host {

// What the COM runtime does for a host of in-process servers: it finds a
// class through the registration record, loads the module file named
// there, asks its class object for new objects, and frees a module once
// the module says it may go.
class ComActivator {
 public:
  ComActivator(const com::Registry& registry, const platform::LibraryLoader& loader);
  // Frees every module still loaded; release every object first.
  ~ComActivator();
  ComActivator(const ComActivator&) = delete;
  ComActivator& operator=(const ComActivator&) = delete;

  // CLSIDFromProgID: the default value of <ProgID>\CLSID.
  // REGDB_E_CLASSNOTREG when there is none.
  com::HRESULT ClsidFromProgId(std::string_view prog_id, com::CLSID* clsid) const;
  // CoCreateInstance for CLSCTX_INPROC_SERVER: CLSID\{..}\InprocServer32
  // names the module file (REGDB_E_CLASSNOTREG without it); the module is
  // loaded (CO_E_DLLNOTFOUND when it cannot be, CO_E_ERRORINDLL when it
  // lacks the entry points), its DllGetClassObject gives an IClassFactory,
  // and that creates the object. Failures of the module pass through.
  com::HRESULT CreateInstance(const com::CLSID& clsid, const com::IID& iid, void** out);
  // CoFreeUnusedLibraries: frees every module whose DllCanUnloadNow says S_OK.
  void FreeUnusedLibraries();

  size_t loaded_modules() const { return servers_.size(); }

 private:
  struct Server;
  com::HRESULT LoadServer(const std::string& path, Server** server);

  const com::Registry& registry_;
  const platform::LibraryLoader& loader_;
  std::vector<std::unique_ptr<Server>> servers_;
};

}  // namespace tarvona::host
