#pragma once

#include <string>
#include <string_view>

namespace tarvona::host {

// The session's text is UTF-8; COM's is UTF-16. Bytes that are not UTF-8
// become U+FFFD, as the session's responses treat them; embedded NULs are
// kept (a BSTR carries its length).
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(const wchar_t* text, size_t length);

}  // namespace tarvona::host
