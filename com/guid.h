#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvona::com {

// COM's 128-bit identifier, laid out as on Windows.
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;

// The braced, upper-case, 38-character form: {89F34120-D7D2-4CEB-84E7-D29B8AAD6B6C}.
std::string GuidToString(const GUID& guid);
// Reads that form; the braces are required and hex digits may be of either
// case, as the registry holds them. Nullopt for anything else.
std::optional<GUID> ParseGuid(std::string_view text);

inline constexpr GUID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

}  // namespace tarvona::com
