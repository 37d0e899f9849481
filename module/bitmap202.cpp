#include "common/control_identity.h"
#include "module/resource_sources.h"

namespace tarvona::module {

com::Bitmap ToolboxPicture() {
  com::Bitmap picture(32, 32);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      const identity::PictureInk ink = identity::PictureInkAt(x, y);
      picture.SetPixel(x, y, {ink.red, ink.green, ink.blue});
    }
  }
  return picture;
}

}  // namespace tarvona::module
