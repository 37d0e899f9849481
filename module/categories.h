#pragma once

// The three category operations of the module. Each obtains the component
// categories manager anew, makes its one call and releases the manager; a
// failure to obtain it is returned at once.

#include <string_view>

#include "platform/component_categories.h"

namespace tarvona::module {

// The description is cut to 127 wide characters.
platform::HRESULT CreateComponentCategory(platform::ComClassCreator& classes,
                                          const platform::CATID& catid,
                                          std::u16string_view description);
platform::HRESULT RegisterCLSIDInCategory(platform::ComClassCreator& classes,
                                          const platform::CLSID& clsid,
                                          const platform::CATID& catid);
platform::HRESULT UnRegisterCLSIDInCategory(platform::ComClassCreator& classes,
                                            const platform::CLSID& clsid,
                                            const platform::CATID& catid);

}  // namespace tarvona::module
