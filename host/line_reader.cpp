#include "host/line_reader.h"

namespace tarvona::host {

LineReader::Status LineReader::Next(std::string& line) {
  line.clear();
  bool too_long = false;
  bool any = false;
  for (int c = std::getc(in_); c != EOF; c = std::getc(in_)) {
    any = true;
    if (c == '\n') return too_long ? Status::kTooLong : Status::kLine;
    if (line.size() >= limit_) {
      too_long = true;
      line.clear();
      line.shrink_to_fit();
    }
    if (!too_long) line.push_back(static_cast<char>(c));
  }
  // A last line without its newline still counts.
  if (!any) return Status::kEnd;
  return too_long ? Status::kTooLong : Status::kLine;
}

}  // namespace tarvona::host
