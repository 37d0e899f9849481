#pragma once

#include <windows.h>

namespace tarvona::ocx {

// DllGetClassObject and DllCanUnloadNow.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT CanUnloadNow();

// DllRegisterServer and DllUnregisterServer.
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace tarvona::ocx
