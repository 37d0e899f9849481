#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Text the dialogs show in the user's language. The English text is the
// key: scripts/update-translations.sh collects every string marked by
// Translatable or passed to platform::Translate into po/, and the dialog
// looks its translation up when it shows it.
namespace tarvona {

// Marks English text that is translated later, where it is shown.
constexpr const char* Translatable(const char* english) { return english; }

// `pattern` with each "%s" replaced by the next of `values`, in order; a
// "%s" past the last value stays empty. Site names and dates go in this
// way, never as part of a pattern.
inline std::string FillIn(std::string_view pattern,
                          std::initializer_list<std::string_view> values) {
  std::string text;
  const std::string_view* next = values.begin();
  for (size_t at = 0; at < pattern.size();) {
    const size_t mark = pattern.find("%s", at);
    text.append(pattern.substr(at, mark - at));
    if (mark == std::string_view::npos) break;
    if (next != values.end()) text.append(*next++);
    at = mark + 2;
  }
  return text;
}

}  // namespace tarvona
