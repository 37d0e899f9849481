#pragma once

#include <cstdint>
#include <span>

namespace tarvona::module {

// The resource section linked into this binary (written by tarvona-rc).
std::span<const uint8_t> EmbeddedResources();

}  // namespace tarvona::module
