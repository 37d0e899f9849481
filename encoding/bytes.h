#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvona {

// 0 when both strings have the same length and bytes, 1 otherwise.
int CompareBytes(std::span<const uint8_t> a, std::span<const uint8_t> b);

// Writes source reversed into the start of destination and returns the count
// written: source.size(), or 0 when destination is too small (nothing is
// written then). The two must not overlap.
size_t ReverseBytes(std::span<uint8_t> destination, std::span<const uint8_t> source);

}  // namespace tarvona
