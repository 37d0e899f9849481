#include <libintl.h>

#include <filesystem>
#include <system_error>

#include "platform/own_path.h"
#include "platform/translation.h"

namespace tarvona::platform {
namespace {

constexpr char kDomain[] = "tarvona";

void BindCatalogues() {
  static const bool bound = [] {
    const std::filesystem::path folder = OwnFolder();
    std::error_code error;
    if (!folder.empty() && std::filesystem::is_directory(folder / "locale", error)) {
      bindtextdomain(kDomain, (folder / "locale").c_str());
    }
    // GTK takes UTF-8 whatever the locale's own character set.
    bind_textdomain_codeset(kDomain, "UTF-8");
    return true;
  }();
  (void)bound;
}

}  // namespace

std::string Translate(const char* english) {
  BindCatalogues();
  return dgettext(kDomain, english);
}

}  // namespace tarvona::platform
