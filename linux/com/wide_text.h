#pragma once

#include <string>
#include <string_view>

namespace tarvona::linux_com {

// UTF-8 and UTF-16, as automation's wide strings need. Malformed input
// becomes U+FFFD rather than failing.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tarvona::linux_com
