#include "encoding/bytes.h"

#include <algorithm>

namespace tarvona {

int CompareBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return std::ranges::equal(a, b) ? 0 : 1;
}

size_t ReverseBytes(std::span<uint8_t> destination, std::span<const uint8_t> source) {
  if (destination.size() < source.size()) return 0;
  std::ranges::reverse_copy(source, destination.begin());
  return source.size();
}

}  // namespace tarvona
