// tarvona-rc: writes the module's resources as a C++ source whose one array
// lands in the module file's resource section.
//   tarvona-rc OUTPUT.cpp [--libid {GUID}]
#include <cstdio>
#include <cstring>
#include <string>

#include "module/identity.h"
#include "module/resource_sources.h"

int main(int argc, char** argv) {
  using namespace tarvona;
  com::GUID libid = module::LIBID_TARVONAACTIVEXLib;
  if (argc == 4 && std::strcmp(argv[2], "--libid") == 0) {
    auto parsed = com::ParseGuid(argv[3]);
    if (!parsed) {
      std::fprintf(stderr, "tarvona-rc: not a GUID: %s\n", argv[3]);
      return 2;
    }
    libid = *parsed;
  } else if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.cpp [--libid {GUID}]\n", argv[0]);
    return 2;
  }
  const std::vector<uint8_t> section = com::BuildResourceSection(module::ModuleResources(libid));
  std::string text =
      "// Written by tarvona-rc from module/resource_sources.cpp; do not edit.\n"
      "#include \"module/embedded_resources.h\"\n\n"
      "namespace tarvona::module {\nnamespace {\n\n"
      "__attribute__((section(\"" +
      std::string(com::kResourceSectionName) +
      "\"), used)) alignas(16) const uint8_t kSection[] = {";
  for (size_t i = 0; i < section.size(); ++i) {
    text += (i % 16 == 0 ? "\n   " : "") + (" " + std::to_string(section[i])) + ",";
  }
  text +=
      "\n};\n\n}  // namespace\n\n"
      "std::span<const uint8_t> EmbeddedResources() { return kSection; }\n\n"
      "}  // namespace tarvona::module\n";
  std::FILE* out = std::fopen(argv[1], "w");
  bool written = out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (out != nullptr && std::fclose(out) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "tarvona-rc: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
