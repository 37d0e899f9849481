#include "platform/display.h"

#include <cstdlib>
#include <initializer_list>

namespace tarvona::platform {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace tarvona::platform
