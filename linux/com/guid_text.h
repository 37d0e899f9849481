#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <wtypes.h>

#include "common/registration_record.h"

namespace tarvona::linux_com {

// A GUID in the braced, upper-case form the registry keeps.
inline std::string GuidText(REFGUID guid) {
  identity::Guid plain{guid.Data1, guid.Data2, guid.Data3, {}};
  for (int i = 0; i < 8; ++i) plain.data4[i] = guid.Data4[i];
  return registration::GuidText(plain);
}

// The braced form read back, in either case; nullopt for anything else.
inline std::optional<GUID> ParseGuid(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  GUID guid{};
  // Where each hex digit goes: the three numbers, then the eight bytes.
  uint64_t fields[11] = {};
  static constexpr size_t kStarts[11] = {1, 10, 15, 20, 22, 25, 27, 29, 31, 33, 35};
  static constexpr size_t kDigits[11] = {8, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2};
  for (size_t dash : {9, 14, 19, 24}) {
    if (text[dash] != '-') return std::nullopt;
  }
  for (size_t f = 0; f < 11; ++f) {
    for (size_t i = 0; i < kDigits[f]; ++i) {
      const char c = text[kStarts[f] + i];
      const int v = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
      if (v < 0) return std::nullopt;
      fields[f] = (fields[f] << 4) | static_cast<uint64_t>(v);
    }
  }
  guid.Data1 = static_cast<uint32_t>(fields[0]);
  guid.Data2 = static_cast<uint16_t>(fields[1]);
  guid.Data3 = static_cast<uint16_t>(fields[2]);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<uint8_t>(fields[3 + i]);
  return guid;
}

}  // namespace tarvona::linux_com
