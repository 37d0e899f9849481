#include "com/module_resources.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "com/byte_io.h"

namespace tarvona::com {
namespace {

constexpr char kMagic[4] = {'T', 'V', 'R', 'S'};
constexpr uint64_t kLargestSection = 16 << 20;

bool ReadAt(int fd, uint64_t offset, void* out, size_t size) {
  auto* p = static_cast<uint8_t*>(out);
  while (size > 0) {
    ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
    if (n <= 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Finds the section by name through the section headers and the section
// name table.
template <typename Ehdr, typename Shdr>
std::optional<std::vector<uint8_t>> FindSection(int fd) {
  Ehdr header{};
  if (!ReadAt(fd, 0, &header, sizeof header) || header.e_shentsize != sizeof(Shdr) ||
      header.e_shstrndx == SHN_UNDEF || header.e_shstrndx >= header.e_shnum) {
    return std::nullopt;
  }
  std::vector<Shdr> sections(header.e_shnum);
  if (!ReadAt(fd, header.e_shoff, sections.data(), sections.size() * sizeof(Shdr))) {
    return std::nullopt;
  }
  const Shdr& names = sections[header.e_shstrndx];
  if (names.sh_size > kLargestSection) return std::nullopt;
  std::vector<char> name_table(names.sh_size + 1, '\0');
  if (!ReadAt(fd, names.sh_offset, name_table.data(), names.sh_size)) return std::nullopt;
  for (const Shdr& s : sections) {
    if (s.sh_name >= names.sh_size ||
        std::strcmp(name_table.data() + s.sh_name, kResourceSectionName) != 0) {
      continue;
    }
    if (s.sh_type != SHT_PROGBITS || s.sh_size > kLargestSection) return std::nullopt;
    std::vector<uint8_t> data(s.sh_size);
    if (!ReadAt(fd, s.sh_offset, data.data(), data.size())) return std::nullopt;
    return data;
  }
  return std::nullopt;
}

}  // namespace

std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& resources) {
  ByteWriter out;
  out.PutBytes({reinterpret_cast<const uint8_t*>(kMagic), 4});
  out.Put32(static_cast<uint32_t>(resources.size()));
  size_t offset = 8;
  for (const auto& r : resources) offset += 2 + r.type.size() + 12;
  for (const auto& r : resources) {
    out.PutText(r.type);
    out.Put32(r.id);
    out.Put32(static_cast<uint32_t>(offset));
    out.Put32(static_cast<uint32_t>(r.data.size()));
    offset += r.data.size();
  }
  for (const auto& r : resources) out.PutBytes(r.data);
  return std::move(out.bytes());
}

std::optional<ResourceSet> ResourceSet::Parse(std::span<const uint8_t> section) {
  if (section.size() < 8 || std::memcmp(section.data(), kMagic, 4) != 0) return std::nullopt;
  ResourceSet set;
  set.bytes_.assign(section.begin(), section.end());
  ByteReader reader(section.subspan(4));
  uint32_t count = 0;
  if (!reader.Get32(count)) return std::nullopt;
  for (uint32_t i = 0; i < count; ++i) {
    std::string type;
    uint32_t id = 0, offset = 0, size = 0;
    if (!reader.GetText(type) || !reader.Get32(id) || !reader.Get32(offset) ||
        !reader.Get32(size) || offset > section.size() || size > section.size() - offset) {
      return std::nullopt;
    }
    set.entries_[{std::move(type), id}] = {offset, size};
  }
  return set;
}

std::span<const uint8_t> ResourceSet::Find(std::string_view type, uint32_t id) const {
  auto found = entries_.find(std::pair<std::string, uint32_t>(type, id));
  if (found == entries_.end()) return {};
  return std::span<const uint8_t>(bytes_).subspan(found->second.first, found->second.second);
}

std::optional<std::string> ResourceSet::LoadString(uint32_t id) const {
  auto found = entries_.find(std::pair<std::string, uint32_t>(RT_STRING, id));
  if (found == entries_.end()) return std::nullopt;
  auto bytes = std::span<const uint8_t>(bytes_).subspan(found->second.first, found->second.second);
  return std::string(bytes.begin(), bytes.end());
}

std::optional<std::vector<uint8_t>> ReadResourceSection(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  unsigned char ident[EI_NIDENT] = {};
  std::optional<std::vector<uint8_t>> section;
  if (ReadAt(fd, 0, ident, sizeof ident) && std::memcmp(ident, ELFMAG, SELFMAG) == 0 &&
      ident[EI_DATA] == ELFDATA2LSB) {
    if (ident[EI_CLASS] == ELFCLASS64) section = FindSection<Elf64_Ehdr, Elf64_Shdr>(fd);
    if (ident[EI_CLASS] == ELFCLASS32) section = FindSection<Elf32_Ehdr, Elf32_Shdr>(fd);
  }
  close(fd);
  return section;
}

}  // namespace tarvona::com
