#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace tarvona::host {

// Reads lines of at most `limit` bytes; a longer line is consumed whole and
// reported as too long, so one bad line never grows memory without bound.
class LineReader {
 public:
  LineReader(std::FILE* in, size_t limit) : in_(in), limit_(limit) {}

  enum class Status { kLine, kTooLong, kEnd };
  Status Next(std::string& line);

 private:
  std::FILE* in_;
  size_t limit_;
};

}  // namespace tarvona::host
