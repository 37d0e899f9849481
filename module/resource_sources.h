#pragma once

// What the resource compiler (tarvona-rc) puts into the module file.

#include <vector>

#include "platform/drawing.h"
#include "platform/module_resources.h"
#include "platform/type_library.h"

namespace tarvona::module {

// Bitmap 202: 32 x 32 pixels, our own picture.
platform::Bitmap ToolboxPicture();

// The type library TARVONAACTIVEXLib 1.0. Its dispatch interface is made
// from the control's method table, so the two cannot drift apart. `libid`
// differs from the library's own only for test modules.
platform::TypeLibDesc TarvonaTypeLibrary(const platform::GUID& libid);

// Every resource of the module: strings 1, 2 and 200, bitmap 202, type
// library 1.
std::vector<platform::Resource> ModuleResources(const platform::GUID& libid);

}  // namespace tarvona::module
