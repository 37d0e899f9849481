#pragma once

#include <cstdint>
#include <vector>

namespace tarvona::host {

// `rgb` (rows of 8-bit red, green, blue, top first) as a PNG file; empty
// when the sizes do not match or memory is exhausted.
std::vector<uint8_t> EncodePng(int32_t width, int32_t height, const std::vector<uint8_t>& rgb);

}  // namespace tarvona::host
