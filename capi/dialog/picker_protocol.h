#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "capi/certificate_picker.h"

// What the dialog picker hands tarvona-certpicker. Its arguments say what
// the certificate is for ("--for sign|decrypt|use") and, when a site asks,
// who ("--from ORIGIN"). On its standard input it gets one line per
// certificate, subject, issuer and expiry separated by tabs, and it answers
// the chosen position in decimal on its standard output and exits 0; it
// exits 1 when the user cancels and 2 when it cannot show the dialog.
// With "--password STORE --attempt N" it asks for the password of the key
// store STORE instead, and answers the password itself.
namespace tarvona::capi::dialog {

inline constexpr int kExitChosen = 0;
inline constexpr int kExitCancelled = 1;
inline constexpr int kExitFailed = 2;

// The longest password the prompt takes, in bytes of UTF-8.
inline constexpr size_t kPasswordLimit = 1024;

inline const char* PurposeWord(Purpose purpose) {
  switch (purpose) {
    case Purpose::kSign:
      return "sign";
    case Purpose::kDecrypt:
      return "decrypt";
    case Purpose::kUse:
      break;
  }
  return "use";
}

inline std::optional<Purpose> PurposeNamed(std::string_view word) {
  for (Purpose purpose : {Purpose::kSign, Purpose::kDecrypt, Purpose::kUse}) {
    if (word == PurposeWord(purpose)) return purpose;
  }
  return std::nullopt;
}

// Who asks, as the dialogs name them: a site by its host (and port), with
// "http://" kept so that a page without TLS shows as one; "A program" when
// no site asks (script hosts).
inline std::string RequesterName(std::string_view requester) {
  if (requester.empty()) return "A program";
  if (requester.starts_with("https://")) requester.remove_prefix(8);
  return std::string(requester);
}

// "bank.example wants to sign with one of your certificates"
inline std::string RequestLine(Purpose purpose, std::string_view requester) {
  std::string line = RequesterName(requester) + " wants to ";
  switch (purpose) {
    case Purpose::kSign:
      return line + "sign with one of your certificates";
    case Purpose::kDecrypt:
      return line + "decrypt with one of your certificates";
    case Purpose::kUse:
      break;
  }
  return line + "use one of your certificates";
}

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
