#pragma once

// The classes the runtime provides itself, without a module.

#include <unknwn.h>

namespace tarvona::linux_com {

// The class object of one of the runtime's own classes;
// CLASS_E_CLASSNOTAVAILABLE for any other class.
HRESULT RuntimeClassObject(REFCLSID clsid, REFIID iid, void** out);

}  // namespace tarvona::linux_com
