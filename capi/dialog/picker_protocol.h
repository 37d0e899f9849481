#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "capi/certificate_picker.h"

// What the dialog picker hands tarvona-certpicker. Its arguments say what
// the certificate is for ("--for sign|decrypt|use") and, when a site asks,
// who ("--from ORIGIN"). On its standard input it gets one line per
// certificate in the order to show them: subject, issuer, last and first
// day of validity, and whether it is valid now ("valid", "expired",
// "not-yet-valid"), separated by tabs. It answers the chosen position in
// decimal on its standard output and exits 0; it exits 1 when the user
// cancels and 2 when it cannot show the dialog.
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

// How a line names a certificate's validity.
inline const char* ValidityWord(Validity validity) {
  switch (validity) {
    case Validity::kExpired:
      return "expired";
    case Validity::kNotYetValid:
      return "not-yet-valid";
    case Validity::kValid:
      break;
  }
  return "valid";
}

inline void AppendField(std::string& line, std::string_view field) {
  // Names may hold any byte; control characters would break the lines.
  for (char c : field) line.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
}

inline std::string EncodeLine(const CertificateSummary& summary) {
  std::string line;
  for (std::string_view field :
       {std::string_view(summary.subject), std::string_view(summary.issuer),
        std::string_view(summary.expires), std::string_view(summary.valid_from)}) {
    AppendField(line, field);
    line.push_back('\t');
  }
  line += ValidityWord(summary.validity);
  line.push_back('\n');
  return line;
}

// A line without its newline; nullopt when it does not hold the five
// fields.
inline std::optional<CertificateSummary> DecodeLine(std::string_view line) {
  std::string_view fields[4];
  for (size_t i = 0; i < 4; ++i) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  if (line.find('\t') != std::string_view::npos) return std::nullopt;
  CertificateSummary summary{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                             std::string(fields[3]), Validity::kValid};
  for (Validity validity : {Validity::kValid, Validity::kExpired, Validity::kNotYetValid}) {
    if (line == ValidityWord(validity)) {
      summary.validity = validity;
      return summary;
    }
  }
  return std::nullopt;
}

}  // namespace tarvona::capi::dialog
