#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarvona::platform {

// A compiled gettext catalogue (msgfmt's .mo format) in memory, which it
// does not own. Bytes that are no such catalogue, or are cut short, hold
// no message.
class MessageCatalogue {
 public:
  explicit MessageCatalogue(std::span<const uint8_t> bytes);

  // The translation of `english`; nullopt when there is none.
  std::optional<std::string_view> Find(std::string_view english) const;

 private:
  uint32_t Word(size_t offset) const;
  // String `index` of the table at `table`; nullopt when it lies outside
  // the bytes.
  std::optional<std::string_view> Entry(uint32_t table, uint32_t index) const;

  std::span<const uint8_t> bytes_;
  bool big_endian_ = false;
  uint32_t count_ = 0;
  uint32_t originals_ = 0;
  uint32_t translations_ = 0;
};

}  // namespace tarvona::platform
