#include <windows.h>

#include <optional>
#include <span>
#include <string>

#include "platform/embedded_catalogues.h"
#include "platform/message_catalogue.h"
#include "platform/translation.h"

namespace tarvona::platform {
namespace {

// The user's UI language without its region, in lower case: "de" of
// "de-AT"; empty when the system cannot tell.
std::string UserLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                       LOCALE_NAME_MAX_LENGTH, 0) == 0) {
    return {};
  }
  std::string language;
  for (const wchar_t* c = name; *c != L'\0' && *c != L'-'; ++c) {
    if (*c >= L'A' && *c <= L'Z') {
      language.push_back(static_cast<char>(*c - L'A' + L'a'));
    } else if (*c >= L'a' && *c <= L'z') {
      language.push_back(static_cast<char>(*c));
    } else {
      return {};
    }
  }
  return language;
}

const MessageCatalogue* UserCatalogue() {
  static const std::optional<MessageCatalogue> catalogue = []() -> std::optional<MessageCatalogue> {
    const std::string language = UserLanguage();
    for (size_t i = 0; i < kEmbeddedCatalogueCount; ++i) {
      const EmbeddedCatalogue& embedded = kEmbeddedCatalogues[i];
      if (language == embedded.language) {
        return MessageCatalogue(
            std::span<const uint8_t>(embedded.bytes, embedded.bytes + embedded.size));
      }
    }
    return std::nullopt;
  }();
  return catalogue ? &*catalogue : nullptr;
}

}  // namespace

std::string Translate(const char* english) {
  if (const MessageCatalogue* catalogue = UserCatalogue()) {
    if (auto translation = catalogue->Find(english)) return std::string(*translation);
  }
  return english;
}

}  // namespace tarvona::platform
