#pragma once

namespace tarvona::platform {

// Whether a window can be shown: an X or Wayland display is named
// (DISPLAY or WAYLAND_DISPLAY set and not empty).
bool HasDisplay();

}  // namespace tarvona::platform
