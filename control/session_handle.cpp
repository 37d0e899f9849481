#include "control/session_handle.h"

#include <cstdint>
#include <mutex>
#include <set>

namespace tarvona {
namespace {

constexpr int32_t kFirstHandle = 0x00010000;

// Controls may live on several host threads at once.
std::mutex g_mutex;
std::set<int32_t> g_live;
int32_t g_next = kFirstHandle;

int32_t Following(int32_t value) { return value == INT32_MAX ? kFirstHandle : value + 1; }

int32_t Allocate() {
  std::lock_guard lock(g_mutex);
  // Skip values still held by a live object once the counter has wrapped.
  while (g_live.contains(g_next)) g_next = Following(g_next);
  int32_t value = g_next;
  g_next = Following(g_next);
  g_live.insert(value);
  return value;
}

}  // namespace

SessionHandle::SessionHandle() : value_(Allocate()) {}

SessionHandle::~SessionHandle() {
  std::lock_guard lock(g_mutex);
  g_live.erase(value_);
}

}  // namespace tarvona
