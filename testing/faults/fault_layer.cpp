// State behind fault_control.h. Compiled into the fault build only.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "testing/faults/fault_control.h"
#include "testing/faults/fault_hooks.h"

#define TARVONA_EXPORT __attribute__((visibility("default")))

namespace tarvona::adaptor::faults {
namespace {

struct Fault {
  CK_RV rv;
  unsigned long first_call;
  unsigned long count;
  unsigned long calls;  // seen since the fault was set
};

using Label = std::array<unsigned char, 32>;

struct TokenOverride {
  int generation;
  Label label;
  bool replace_serial;
  std::array<unsigned char, 16> serial;
  CK_FLAGS flags_set;
  CK_FLAGS flags_clear;
};

// Far more than any test makes; keeps a runaway loop from eating memory.
constexpr size_t kTraceLimit = 100000;

struct FaultState {
  std::mutex mutex;
  std::map<std::pair<int, std::string>, Fault> faults;
  std::vector<TokenOverride> overrides;
  std::vector<Entry> trace;
  std::map<int, std::deque<std::string>> typed_pins;  // generations with a keypad
};
FaultState state;
// Read by every call, so kept apart from the lock.
std::atomic<bool> large_handles_v4{false};
std::atomic<bool> large_handles_v5{false};

std::atomic<bool>& LargeHandlesOf(int generation) {
  return generation == 4 ? large_handles_v4 : large_handles_v5;
}
std::atomic<bool> write_protected_v4{false};
std::atomic<bool> write_protected_v5{false};
std::atomic<CK_ULONG> attribute_length_v4{0};
std::atomic<CK_ULONG> attribute_length_v5{0};

// Generation 0 means both.
std::vector<int> Generations(int generation) {
  if (generation == 0) return {4, 5};
  if (generation == 4 || generation == 5) return {generation};
  return {};
}

Label PaddedLabel(const char* text) {
  Label label;
  label.fill(' ');
  std::memcpy(label.data(), text, std::min(std::strlen(text), label.size()));
  return label;
}

}  // namespace

bool Due(int generation, const char* function, CK_RV* rv) noexcept {
  try {
    std::lock_guard lock(state.mutex);
    const auto found = state.faults.find({generation, function});
    if (found == state.faults.end()) return false;
    Fault& fault = found->second;
    ++fault.calls;
    if (fault.calls < fault.first_call) return false;
    if (fault.count != 0 && fault.calls - fault.first_call >= fault.count) return false;
    *rv = fault.rv;
    return true;
  } catch (...) {
    return false;
  }
}

void Record(const Entry& entry) noexcept {
  try {
    std::lock_guard lock(state.mutex);
    if (state.trace.size() < kTraceLimit) state.trace.push_back(entry);
  } catch (...) {
  }
}

bool LargeHandles(int generation) noexcept {
  return (generation == 4 || generation == 5) && LargeHandlesOf(generation).load();
}

bool WriteProtected(int generation) noexcept {
  return generation == 4 ? write_protected_v4.load()
                         : generation == 5 && write_protected_v5.load();
}

bool PinPad(int generation) noexcept {
  std::lock_guard lock(state.mutex);
  return state.typed_pins.contains(generation);
}

bool NextTypedPin(int generation, std::string& pin) noexcept {
  try {
    std::lock_guard lock(state.mutex);
    auto found = state.typed_pins.find(generation);
    if (found == state.typed_pins.end() || found->second.empty()) return false;
    pin = std::move(found->second.front());
    found->second.pop_front();
    return true;
  } catch (...) {
    return false;
  }
}

void OverrideAttributeLengths(int generation, CK_ATTRIBUTE_PTR attributes,
                              CK_ULONG count) noexcept {
  const CK_ULONG length = generation == 4   ? attribute_length_v4.load()
                          : generation == 5 ? attribute_length_v5.load()
                                            : 0;
  if (length == 0 || attributes == nullptr) return;
  for (CK_ULONG i = 0; i < count; ++i) {
    if (attributes[i].pValue == nullptr) attributes[i].ulValueLen = length;
  }
}

// TARVONA_FAULT_TOKEN_FLAGS="LABEL:FLAGS" (FLAGS in hex) sets those flags
// on that token in both generations for the life of the process, resets
// included: for programs the test starts, which it cannot call into.
struct EnvironmentFlags {
  Label label{};
  CK_FLAGS flags = 0;
};
const EnvironmentFlags& FlagsFromEnvironment() {
  static const EnvironmentFlags parsed = [] {
    EnvironmentFlags out;
    const char* text = std::getenv("TARVONA_FAULT_TOKEN_FLAGS");
    const char* colon = text != nullptr ? std::strrchr(text, ':') : nullptr;
    if (colon == nullptr) return out;
    out.label = PaddedLabel(std::string(text, colon).c_str());
    out.flags = std::strtoul(colon + 1, nullptr, 16);
    return out;
  }();
  return parsed;
}

void OverrideTokenInfo(int generation, CK_TOKEN_INFO* info) noexcept {
  if (const EnvironmentFlags& set = FlagsFromEnvironment();
      set.flags != 0 && std::memcmp(set.label.data(), info->label, 32) == 0) {
    info->flags |= set.flags;
  }
  std::lock_guard lock(state.mutex);
  for (const TokenOverride& o : state.overrides) {
    if (o.generation != generation || std::memcmp(o.label.data(), info->label, 32) != 0) continue;
    if (o.replace_serial) std::memcpy(info->serialNumber, o.serial.data(), o.serial.size());
    info->flags = (info->flags | o.flags_set) & ~o.flags_clear;
  }
  if (WriteProtected(generation)) info->flags |= CKF_WRITE_PROTECTED;
  if (state.typed_pins.contains(generation)) info->flags |= CKF_PROTECTED_AUTHENTICATION_PATH;
}

}  // namespace tarvona::adaptor::faults

namespace faults = tarvona::adaptor::faults;

extern "C" {

TARVONA_EXPORT void tarvona_faults_reset(void) {
  std::lock_guard lock(faults::state.mutex);
  faults::state.faults.clear();
  faults::state.overrides.clear();
  faults::state.trace.clear();
  faults::state.typed_pins.clear();
  faults::write_protected_v4 = false;
  faults::write_protected_v5 = false;
  faults::large_handles_v4 = false;
  faults::large_handles_v5 = false;
  faults::attribute_length_v4 = 0;
  faults::attribute_length_v5 = 0;
}

TARVONA_EXPORT void tarvona_fault_attribute_length(int generation, CK_ULONG length) {
  if (generation == 0 || generation == 4) faults::attribute_length_v4 = length;
  if (generation == 0 || generation == 5) faults::attribute_length_v5 = length;
}

TARVONA_EXPORT void tarvona_fault_large_handles(int generation, int on) {
  if (generation == 0 || generation == 4) faults::large_handles_v4 = on != 0;
  if (generation == 0 || generation == 5) faults::large_handles_v5 = on != 0;
}

TARVONA_EXPORT void tarvona_fault_write_protected(int generation, int on) {
  if (generation == 0 || generation == 4) faults::write_protected_v4 = on != 0;
  if (generation == 0 || generation == 5) faults::write_protected_v5 = on != 0;
}

TARVONA_EXPORT void tarvona_fault_pin_pad(int generation, const char* const* typed,
                                          unsigned long count) {
  try {
    std::lock_guard lock(faults::state.mutex);
    for (int g : faults::Generations(generation)) {
      if (count == 0 || typed == nullptr) {
        faults::state.typed_pins.erase(g);
        continue;
      }
      auto& queue = faults::state.typed_pins[g];
      queue.assign(typed, typed + count);
    }
  } catch (...) {
  }
}

TARVONA_EXPORT void tarvona_fault_inject(int generation, const char* function, CK_RV rv,
                                         unsigned long first_call, unsigned long count) {
  if (function == nullptr) return;
  try {
    std::lock_guard lock(faults::state.mutex);
    for (int g : faults::Generations(generation)) {
      faults::state.faults[{g, function}] = {rv, std::max(first_call, 1UL), count, 0};
    }
  } catch (...) {
  }
}

TARVONA_EXPORT void tarvona_fault_token_info(int generation, const char* label,
                                             const unsigned char* serial16, CK_FLAGS flags_set,
                                             CK_FLAGS flags_clear) {
  if (label == nullptr) return;
  try {
    faults::TokenOverride o{
        0, faults::PaddedLabel(label), serial16 != nullptr, {}, flags_set, flags_clear};
    if (serial16 != nullptr) std::memcpy(o.serial.data(), serial16, o.serial.size());
    std::lock_guard lock(faults::state.mutex);
    for (int g : faults::Generations(generation)) {
      o.generation = g;
      auto& all = faults::state.overrides;
      std::erase_if(all, [&](const faults::TokenOverride& old) {
        return old.generation == g && old.label == o.label;
      });
      all.push_back(o);
    }
  } catch (...) {
  }
}

TARVONA_EXPORT unsigned long tarvona_trace_count(void) {
  std::lock_guard lock(faults::state.mutex);
  return faults::state.trace.size();
}

TARVONA_EXPORT int tarvona_trace_get(unsigned long index, struct tarvona_trace_entry* entry) {
  std::lock_guard lock(faults::state.mutex);
  if (entry == nullptr || index >= faults::state.trace.size()) return 0;
  *entry = faults::state.trace[index];
  return 1;
}

TARVONA_EXPORT void tarvona_trace_clear(void) {
  std::lock_guard lock(faults::state.mutex);
  faults::state.trace.clear();
}

}  // extern "C"
