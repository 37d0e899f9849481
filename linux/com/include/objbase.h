#pragma once

// Joining COM, object creation and GUID text, as the Linux runtime gives
// them.

#include "objidl.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

enum COINIT {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8,
};

// Counted per thread: S_OK the first time, S_FALSE after;
// RPC_E_CHANGED_MODE for another model than the thread's. When the last
// thread's count is undone, every module loaded is freed.
extern "C" HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
extern "C" void CoUninitialize();

// The default value of <ProgID>\CLSID; CO_E_CLASSSTRING without one.
extern "C" HRESULT CLSIDFromProgID(LPCOLESTR prog_id, LPCLSID clsid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in either case, or a ProgID;
// null gives CLSID_NULL.
extern "C" HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);

// In-process servers: the runtime's own classes (the component categories
// manager), else the module file CLSID\{clsid}\InprocServer32 names
// (REGDB_E_CLASSNOTREG without one), loaded once (CO_E_DLLNOTFOUND when it
// cannot be, CO_E_ERRORINDLL without DllGetClassObject and
// DllCanUnloadNow). A module that gave nothing is freed again when it
// says it may go; failures of the module pass through. Neither asks for
// CoInitializeEx first.
extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID server_info,
                                    REFIID iid, LPVOID* out);
extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                    LPVOID* out);
// Frees every module whose DllCanUnloadNow says S_OK.
extern "C" void CoFreeUnusedLibraries();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case with its NUL:
// returns 39, or 0 when `size` is too small.
extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);

// A module's exports, declared here as Windows declares them; visible from
// the module file, so a module defines them without anything more.
#define TARVONA_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
TARVONA_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out);
TARVONA_MODULE_EXPORT HRESULT DllCanUnloadNow();
