#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tarvona::host {

// Browsers talk to a native host in frames: a 32-bit length in the
// machine's own byte order, then that many bytes of UTF-8 JSON.
inline constexpr size_t kMaxRequestFrame = 1 << 20;   // 1 MiB, browser to host
inline constexpr size_t kMaxResponseFrame = 1 << 20;  // the browser's own cap

enum class FrameStatus {
  kFrame,      // a whole frame was read
  kEnd,        // the input ended between frames
  kMalformed,  // a zero or oversized length, or input that ended inside a frame
};

// Reads one frame. Memory is bounded by kMaxRequestFrame: an oversized
// length is refused before anything is allocated.
FrameStatus ReadFrame(std::FILE* in, std::string& payload);

// Writes one frame and flushes it; false when the output is gone. The
// caller keeps payloads within kMaxResponseFrame.
bool WriteFrame(std::FILE* out, std::string_view payload);

}  // namespace tarvona::host
