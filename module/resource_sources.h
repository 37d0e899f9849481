#pragma once

// What the resource compiler (tarvona-rc) puts into the module file.

#include <vector>

#include "com/drawing.h"
#include "com/module_resources.h"
#include "com/type_library.h"

namespace tarvona::module {

// Bitmap 202: 32 x 32 pixels, our own picture.
com::Bitmap ToolboxPicture();

// The type library TARVONAACTIVEXLib 1.0. Its dispatch interface is made
// from the control's method table, so the two cannot drift apart. `libid`
// differs from the library's own only for test modules.
com::TypeLibDesc TarvonaTypeLibrary(const com::GUID& libid);

// Every resource of the module: strings 1, 2 and 200, bitmap 202, type
// library 1.
std::vector<com::Resource> ModuleResources(const com::GUID& libid);

}  // namespace tarvona::module
