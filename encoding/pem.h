#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvona {

inline constexpr std::string_view kCertificateHeader = "-----BEGIN CERTIFICATE-----";
inline constexpr std::string_view kCertificateFooter = "-----END CERTIFICATE-----";

// Armour: the header line, the Base64 text in lines of 64 characters, the
// footer line, every line ended by CR LF. An empty header or footer is left
// out with its line break. No bytes give the empty text.
std::string PemWrap(std::span<const uint8_t> bytes, std::string_view header,
                    std::string_view footer);

// Reads the first armoured block of the text, or the whole text as bare
// Base64 when it holds no "-". Non-Base64 characters of the body are dropped.
// Empty when the text is empty. nullopt for malformed armour: a header
// without its second run of dashes, or a body with no footer after it.
std::optional<std::vector<uint8_t>> PemUnwrap(std::string_view text);

}  // namespace tarvona
