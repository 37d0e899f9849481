#include "platform/message_catalogue.h"

namespace tarvona::platform {
namespace {

constexpr uint32_t kMagic = 0x950412de;
constexpr size_t kHeaderSize = 28;

}  // namespace

MessageCatalogue::MessageCatalogue(std::span<const uint8_t> bytes) : bytes_(bytes) {
  if (bytes_.size() < kHeaderSize) return;
  // The magic number tells the byte order of the rest.
  if (Word(0) != kMagic) {
    big_endian_ = true;
    if (Word(0) != kMagic) return;
  }
  const uint32_t count = Word(8);
  const uint32_t originals = Word(12);
  const uint32_t translations = Word(16);
  // Both tables of (length, offset) pairs inside the bytes.
  for (uint32_t table : {originals, translations}) {
    if (table > bytes_.size() || (bytes_.size() - table) / 8 < count) return;
  }
  count_ = count;
  originals_ = originals;
  translations_ = translations;
}

uint32_t MessageCatalogue::Word(size_t offset) const {
  uint32_t word = 0;
  for (size_t i = 0; i < 4; ++i) {
    const uint32_t byte = bytes_[offset + (big_endian_ ? i : 3 - i)];
    word = (word << 8) | byte;
  }
  return word;
}

std::optional<std::string_view> MessageCatalogue::Entry(uint32_t table, uint32_t index) const {
  const size_t at = table + size_t{index} * 8;
  const uint32_t length = Word(at);
  const uint32_t offset = Word(at + 4);
  // The string and its terminating NUL.
  if (offset > bytes_.size() || bytes_.size() - offset <= length) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(bytes_.data()) + offset, length);
}

std::optional<std::string_view> MessageCatalogue::Find(std::string_view english) const {
  // The empty original is the catalogue's header, no message.
  if (english.empty()) return std::nullopt;
  // msgfmt sorts the originals by their bytes: a binary search finds one.
  uint32_t low = 0;
  uint32_t high = count_;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const auto original = Entry(originals_, middle);
    if (!original) return std::nullopt;
    if (*original == english) {
      auto translation = Entry(translations_, middle);
      if (!translation || translation->empty()) return std::nullopt;
      return translation;
    }
    if (*original < english) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return std::nullopt;
}

}  // namespace tarvona::platform
