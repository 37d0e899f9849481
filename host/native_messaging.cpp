#include "host/native_messaging.h"

#include <cstdint>
#include <cstring>

namespace tarvona::host {

FrameStatus ReadFrame(std::FILE* in, std::string& payload) {
  uint32_t length = 0;
  size_t got = std::fread(&length, 1, sizeof(length), in);
  if (got == 0) return FrameStatus::kEnd;
  if (got != sizeof(length) || length == 0 || length > kMaxRequestFrame) {
    return FrameStatus::kMalformed;
  }
  payload.resize(length);
  if (std::fread(payload.data(), 1, length, in) != length) return FrameStatus::kMalformed;
  return FrameStatus::kFrame;
}

bool WriteFrame(std::FILE* out, std::string_view payload) {
  const auto length = static_cast<uint32_t>(payload.size());
  return std::fwrite(&length, 1, sizeof(length), out) == sizeof(length) &&
         std::fwrite(payload.data(), 1, payload.size(), out) == payload.size() &&
         std::fflush(out) == 0;
}

}  // namespace tarvona::host
