#pragma once

// Object creation and GUID text, as the Linux runtime gives them.

#include "objidl.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

// Creates the objects the runtime itself provides (the component
// categories manager); REGDB_E_CLASSNOTREG for any other class.
extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                    LPVOID* out);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case with its NUL:
// returns 39, or 0 when `size` is too small.
extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);

// A module's exports, declared here as Windows declares them; visible from
// the module file, so a module defines them without anything more.
#define TARVONA_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
TARVONA_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out);
TARVONA_MODULE_EXPORT HRESULT DllCanUnloadNow();
