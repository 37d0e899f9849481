#pragma once

#include <oleauto.h>

#include <string>
#include <string_view>

namespace tarvona::host {

// COM's text: std::wstring on Windows, UTF-16 in char16_t on Linux.
using OleString = std::basic_string<OLECHAR>;

// The session's text is UTF-8; COM's is UTF-16. Bytes that are not UTF-8
// become U+FFFD, as the session's responses treat them; embedded NULs are
// kept (a BSTR carries its length).
OleString OleFromUtf8(std::string_view text);
std::string Utf8FromOle(const OLECHAR* text, size_t length);
// A BSTR's whole text.
inline std::string Utf8FromBstr(BSTR text) { return Utf8FromOle(text, SysStringLen(text)); }

}  // namespace tarvona::host
