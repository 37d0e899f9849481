#include "token/object_numbers.h"

namespace tarvona {
namespace {

static_assert(ObjectNumbers::kFirstStandIn + ObjectNumbers::kLimit - 1 <= 0x7FFFFFFF,
              "stand-ins stay positive and far above every result code");

bool IsStandIn(uint32_t value) {
  return value >= ObjectNumbers::kFirstStandIn &&
         value - ObjectNumbers::kFirstStandIn < ObjectNumbers::kLimit;
}

int32_t AsLong(uint32_t value) { return static_cast<int32_t>(value); }

}  // namespace

std::optional<int32_t> ObjectNumbers::ToScript(CK_OBJECT_HANDLE handle) {
  // Written so it also compiles where CK_ULONG is 32-bit, and every handle
  // fits.
  const auto pattern = static_cast<uint32_t>(handle);
  if (pattern == handle && !IsStandIn(pattern)) return AsLong(pattern);
  if (auto known = stand_ins_.find(handle); known != stand_ins_.end()) {
    return AsLong(known->second);
  }
  if (handles_.size() >= kLimit) return std::nullopt;
  const auto stand_in = static_cast<uint32_t>(kFirstStandIn + handles_.size());
  handles_.push_back(handle);
  stand_ins_.emplace(handle, stand_in);
  return AsLong(stand_in);
}

CK_OBJECT_HANDLE ObjectNumbers::FromScript(int32_t number) const {
  const auto value = static_cast<uint32_t>(number);
  if (!IsStandIn(value)) return value;
  const size_t index = value - kFirstStandIn;
  return index < handles_.size() ? handles_[index] : CK_INVALID_HANDLE;
}

void ObjectNumbers::Forget() {
  stand_ins_.clear();
  handles_.clear();
}

}  // namespace tarvona
