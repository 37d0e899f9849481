#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvona::com {

// What a Windows module keeps in its resource section, kept here in an ELF
// section of the module file: an entry directory, then the data.
//   "TVRS", u32 count, count x {u16 type length, type, u32 id, u32 offset,
//   u32 size}, data; numbers little-endian, offsets from the section start.
inline constexpr char kResourceSectionName[] = "tarvona_rsrc";

// Resource types, named as Windows names them.
inline constexpr std::string_view RT_BITMAP = "BITMAP";  // a DIB (platform/drawing.h)
inline constexpr std::string_view RT_STRING = "STRING";  // UTF-8 text
inline constexpr std::string_view RT_TYPELIB = "TYPELIB";

struct Resource {
  std::string type;
  uint32_t id;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& resources);

class ResourceSet {
 public:
  ResourceSet() = default;
  // Nullopt when the bytes are not a well-formed section.
  static std::optional<ResourceSet> Parse(std::span<const uint8_t> section);

  // Empty when there is no such resource.
  std::span<const uint8_t> Find(std::string_view type, uint32_t id) const;
  std::optional<std::string> LoadString(uint32_t id) const;

 private:
  std::vector<uint8_t> bytes_;
  std::map<std::pair<std::string, uint32_t>, std::pair<size_t, size_t>, std::less<>> entries_;
};

// The resource section of a module file, read from the file without loading
// it (as LoadTypeLib reads a DLL's resources). Nullopt when the file cannot
// be read, is no ELF file of this machine, or has no such section.
std::optional<std::vector<uint8_t>> ReadResourceSection(const std::string& path);

}  // namespace tarvona::com
