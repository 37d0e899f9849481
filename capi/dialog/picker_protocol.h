#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "capi/certificate_picker.h"

// What the dialog picker hands tarvona-certpicker on its standard input: one
// line per certificate, subject, issuer and expiry separated by tabs. The
// program answers the chosen position in decimal on its standard output and
// exits 0; it exits 1 when the user cancels and 2 when it cannot show the
// dialog.
namespace tarvona::capi::dialog {

inline constexpr int kExitChosen = 0;
inline constexpr int kExitCancelled = 1;
inline constexpr int kExitFailed = 2;

inline void AppendField(std::string& line, std::string_view field) {
  // Names may hold any byte; control characters would break the lines.
  for (char c : field) line.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
}

inline std::string EncodeLine(const CertificateSummary& summary) {
  std::string line;
  AppendField(line, summary.subject);
  line.push_back('\t');
  AppendField(line, summary.issuer);
  line.push_back('\t');
  AppendField(line, summary.expires);
  line.push_back('\n');
  return line;
}

// A line without its newline; nullopt when it does not hold three fields.
inline std::optional<CertificateSummary> DecodeLine(std::string_view line) {
  size_t first = line.find('\t');
  if (first == std::string_view::npos) return std::nullopt;
  size_t second = line.find('\t', first + 1);
  if (second == std::string_view::npos || line.find('\t', second + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  return CertificateSummary{std::string(line.substr(0, first)),
                            std::string(line.substr(first + 1, second - first - 1)),
                            std::string(line.substr(second + 1))};
}

}  // namespace tarvona::capi::dialog
