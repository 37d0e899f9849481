#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "token/cryptoki.h"

namespace tarvona {

// The numbers script sees for one session's objects. Script passes a 32-bit
// long, while a module may hand out wider handles (OpenSC gives memory
// addresses). A handle that fits keeps its 32-bit pattern (values above
// 0x7FFFFFFF come out negative and go back unchanged); any other handle gets
// a stand-in from a range of its own, so a stand-in never equals a result
// code nor a handle passed through, and never names another object.
class ObjectNumbers {
 public:
  // The stand-in range; handles that fall in it get stand-ins too.
  static constexpr uint32_t kFirstStandIn = 0x7FFFF000;
  // Tokens hold few objects: past this many stand-ins a session is refused
  // more (the lookup reports the object as not found).
  static constexpr size_t kLimit = 4096;

  // The number for `handle`: the same handle always gets the same number
  // until Forget; nullopt once the table is full.
  std::optional<int32_t> ToScript(CK_OBJECT_HANDLE handle);
  // The handle behind `number`; CK_INVALID_HANDLE for a stand-in not handed
  // out, which no module takes for an object.
  CK_OBJECT_HANDLE FromScript(int32_t number) const;
  // Called whenever the session ends or changes: its handles mean nothing
  // in another session.
  void Forget();

  size_t size() const { return handles_.size(); }

 private:
  std::unordered_map<CK_OBJECT_HANDLE, uint32_t> stand_ins_;
  std::vector<CK_OBJECT_HANDLE> handles_;  // by stand-in, from kFirstStandIn
};

}  // namespace tarvona
