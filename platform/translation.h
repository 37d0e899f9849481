#pragma once

#include <string>

namespace tarvona::platform {

// `english` in the user's language, as UTF-8; `english` itself where that
// language has no translation of it (English, or a language without a
// catalogue). The catalogues are po/'s, one per language.
//
// Linux: gettext, by the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG),
// which the program must have taken from its environment with
// setlocale(LC_ALL, ""); the catalogues come from the "locale" folder
// beside the program when there is one (a build, a user's install), else
// from the system's (/usr/share/locale).
// Windows: the user's UI language; the catalogues are built into the
// binary.
std::string Translate(const char* english);

}  // namespace tarvona::platform
