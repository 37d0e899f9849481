#pragma once

#include <cstddef>

// The catalogues of po/ as msgfmt compiles them, built into the Windows
// binaries (po/embed_catalogues.cmake writes their definitions).
namespace tarvona::platform {

struct EmbeddedCatalogue {
  const char* language;  // "de", as the catalogue's file is named
  const unsigned char* bytes;
  size_t size;
};

extern const EmbeddedCatalogue kEmbeddedCatalogues[];
extern const size_t kEmbeddedCatalogueCount;

}  // namespace tarvona::platform
