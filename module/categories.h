#pragma once

// The three category operations of the module. Each obtains the component
// categories manager anew, makes its one call and releases the manager; a
// failure to obtain it is returned at once.

#include <string_view>

#include "com/component_categories.h"

namespace tarvona::module {

// The description is cut to 127 wide characters.
com::HRESULT CreateComponentCategory(com::ComClassCreator& classes, const com::CATID& catid,
                                     std::u16string_view description);
com::HRESULT RegisterCLSIDInCategory(com::ComClassCreator& classes, const com::CLSID& clsid,
                                     const com::CATID& catid);
com::HRESULT UnRegisterCLSIDInCategory(com::ComClassCreator& classes, const com::CLSID& clsid,
                                       const com::CATID& catid);

}  // namespace tarvona::module
