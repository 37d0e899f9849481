#pragma once

#include <cstdint>

namespace tarvona {

// The value that names one control object's token pair to script. It is
// fixed for the object's life, differs between objects alive at the same
// time, and is never 0 nor a result code (all of which are below 0x10000).
// A pointer would not fit a 32-bit long here, so values are handed out from
// a process-wide pool instead.
class SessionHandle {
 public:
  SessionHandle();
  ~SessionHandle();
  SessionHandle(const SessionHandle&) = delete;
  SessionHandle& operator=(const SessionHandle&) = delete;

  int32_t value() const { return value_; }

 private:
  int32_t value_;
};

}  // namespace tarvona
