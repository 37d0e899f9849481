#pragma once

// What Windows' olectl.h gives a control: its interfaces and result codes
// (SELFREG_E_*, CONNECT_E_* are in winerror.h's table).

#include "ocidl.h"

#include "objbase.h"

TARVONA_MODULE_EXPORT HRESULT DllRegisterServer();
TARVONA_MODULE_EXPORT HRESULT DllUnregisterServer();
