#pragma once

#include <comcat.h>

namespace tarvona::linux_com {

// A new categories manager (CLSID_StdComponentCategoriesMgr) over
// HKEY_CLASSES_ROOT, as CoCreateInstance gives it.
HRESULT CreateCategoriesManager(REFIID iid, void** out);

}  // namespace tarvona::linux_com
