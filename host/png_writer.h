#pragma once

#include <cstdint>
#include <vector>

#include "com/drawing.h"

namespace tarvona::host {

// The surface as an 8-bit RGB PNG file; empty when encoding fails.
std::vector<uint8_t> EncodePng(const com::MemorySurface& surface);

}  // namespace tarvona::host
