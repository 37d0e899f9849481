// Activation of in-process servers: the runtime's own classes, else the
// module file HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 names, loaded
// once and kept until it says it may go (CoFreeUnusedLibraries) or the
// last thread leaves COM. The runtime calls into a module (its entry
// points, its class objects) under one recursive lock: no module is freed
// while such a call runs, and the call may come back here.
#include <dlfcn.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <objbase.h>
#include <winreg.h>

#include "linux/com/guid_text.h"
#include "linux/com/runtime_classes.h"
#include "linux/com/wide_text.h"

namespace {

namespace com = tarvona::linux_com;

struct Module {
  using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
  using CanUnloadNowFn = HRESULT (*)();

  ~Module() {
    if (handle != nullptr) dlclose(handle);
  }

  std::string path;
  void* handle = nullptr;
  GetClassObjectFn get_class_object = nullptr;
  CanUnloadNowFn can_unload_now = nullptr;
};

struct Activation {
  std::recursive_mutex lock;
  std::vector<std::unique_ptr<Module>> modules;
  int threads = 0;  // in COM, each counted once
};

// Never destroyed: an object still held at exit keeps its module's code.
Activation& activation() {
  static Activation& all = *new Activation;
  return all;
}

struct Apartment {
  ULONG count = 0;
  DWORD model = 0;
};
thread_local Apartment apartment;

// The default value of HKEY_CLASSES_ROOT\<path>; empty when there is none.
std::u16string DefaultValue(const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return {};
  }
  std::u16string value;
  DWORD size = 0;
  if (RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    value.resize(size / sizeof(WCHAR));
    if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                         &size) != ERROR_SUCCESS) {
      value.clear();
    }
    value.resize(std::u16string_view(value.c_str()).size());
  }
  RegCloseKey(key);
  return value;
}

bool ParseClsid(std::u16string_view text, CLSID* clsid) {
  const auto parsed = com::ParseGuid(com::Utf16ToUtf8(text));
  if (parsed) *clsid = *parsed;
  return parsed.has_value();
}

HRESULT FromProgId(LPCOLESTR prog_id, LPCLSID clsid) {
  const std::u16string name(prog_id);
  if (name.empty() || name.find(u'\\') != std::u16string::npos ||
      !ParseClsid(DefaultValue(name + u"\\CLSID"), clsid)) {
    *clsid = CLSID_NULL;
    return CO_E_CLASSSTRING;
  }
  return S_OK;
}

HRESULT LoadModule(REFCLSID clsid, Module** loaded) {
  OLECHAR text[39];
  StringFromGUID2(clsid, text, 39);
  const std::u16string server = DefaultValue(u"CLSID\\" + std::u16string(text) + u"\\InprocServer32");
  if (server.empty()) return REGDB_E_CLASSNOTREG;
  const std::string path = com::Utf16ToUtf8(server);
  auto& modules = activation().modules;
  for (const auto& m : modules) {
    if (m->path == path) {
      *loaded = m.get();
      return S_OK;
    }
  }
  auto module = std::make_unique<Module>();
  module->path = path;
  module->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module->handle == nullptr) return CO_E_DLLNOTFOUND;
  module->get_class_object =
      reinterpret_cast<Module::GetClassObjectFn>(dlsym(module->handle, "DllGetClassObject"));
  module->can_unload_now =
      reinterpret_cast<Module::CanUnloadNowFn>(dlsym(module->handle, "DllCanUnloadNow"));
  if (module->get_class_object == nullptr || module->can_unload_now == nullptr) {
    return CO_E_ERRORINDLL;
  }
  *loaded = module.get();
  modules.push_back(std::move(module));
  return S_OK;
}

// Frees the module (any, for null) that says it may go.
void FreeUnused(const Module* only) {
  std::erase_if(activation().modules, [&](const auto& m) {
    return (only == nullptr || m.get() == only) && m->can_unload_now() == S_OK;
  });
}

// The class object of a registered class and the module it came from.
HRESULT ClassObject(REFCLSID clsid, REFIID iid, LPVOID* out, Module** from) {
  *from = nullptr;
  HRESULT hr = LoadModule(clsid, from);
  if (SUCCEEDED(hr)) hr = (*from)->get_class_object(clsid, iid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

}  // namespace

extern "C" HRESULT CoInitializeEx(LPVOID reserved, DWORD flags) {
  if (reserved != nullptr) return E_INVALIDARG;
  const DWORD model = flags & COINIT_APARTMENTTHREADED;
  if (apartment.count > 0) {
    if (model != apartment.model) return RPC_E_CHANGED_MODE;
    ++apartment.count;
    return S_FALSE;
  }
  Activation& all = activation();
  const std::lock_guard hold(all.lock);
  ++all.threads;
  apartment = {1, model};
  return S_OK;
}

extern "C" void CoUninitialize() {
  if (apartment.count == 0 || --apartment.count > 0) return;
  Activation& all = activation();
  const std::lock_guard hold(all.lock);
  if (--all.threads == 0) all.modules.clear();
}

extern "C" HRESULT CLSIDFromProgID(LPCOLESTR prog_id, LPCLSID clsid) {
  if (prog_id == nullptr || clsid == nullptr) return E_INVALIDARG;
  try {
    return FromProgId(prog_id, clsid);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  try {
    return ParseClsid(text, clsid) ? S_OK : FromProgId(text, clsid);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID, REFIID iid,
                                    LPVOID* out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  // The runtime's own classes need no module, nor the modules' list: a
  // module's copy of the runtime never makes one.
  const HRESULT own = tarvona::linux_com::RuntimeClassObject(clsid, iid, out);
  if (own != CLASS_E_CLASSNOTAVAILABLE) return own;
  const std::lock_guard hold(activation().lock);
  try {
    Module* from = nullptr;
    const HRESULT hr = ClassObject(clsid, iid, out, &from);
    if (FAILED(hr) && from != nullptr) FreeUnused(from);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                    LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  IClassFactory* factory = nullptr;
  HRESULT hr = tarvona::linux_com::RuntimeClassObject(clsid, IID_IClassFactory,
                                                      reinterpret_cast<void**>(&factory));
  if (hr != CLASS_E_CLASSNOTAVAILABLE) {
    if (SUCCEEDED(hr)) {
      hr = factory->CreateInstance(outer, iid, out);
      factory->Release();
    }
    return hr;
  }
  const std::lock_guard hold(activation().lock);
  try {
    Module* from = nullptr;
    hr = ClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory), &from);
    if (SUCCEEDED(hr)) {
      hr = factory->CreateInstance(outer, iid, out);
      factory->Release();
    }
    // A module that made nothing need not stay.
    if (FAILED(hr) && from != nullptr) FreeUnused(from);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" void CoFreeUnusedLibraries() {
  const std::lock_guard hold(activation().lock);
  FreeUnused(nullptr);
}
