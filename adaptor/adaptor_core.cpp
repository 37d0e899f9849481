// Forwards the two adaptor generations to a real Cryptoki module loaded with
// dlopen. Both generations may land on one backend instance (the dynamic
// loader hands out one copy per file), so initialisation, finalisation and
// sessions are counted here rather than left to the backend.
#include "adaptor/adaptor_core.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "adaptor/cryptoki_functions.h"

// Every entry point runs through observer::Observe, E_GetAuxFunctionList
// through observer::ObserveAux. A build that watches the calls (the fault
// layer of the tests, testing/faults/) names its own definitions of the two
// in TARVONA_ADAPTOR_OBSERVER; the shipped core passes every call through.
#ifdef TARVONA_ADAPTOR_OBSERVER
#include TARVONA_ADAPTOR_OBSERVER
#else
namespace tarvona::adaptor::observer {
template <auto kMember, typename Run, typename... Args>
CK_RV Observe(int, Run run, Args... args) noexcept {
  return run(args...);
}
template <typename Run>
CK_RV ObserveAux(int, void**, Run run) noexcept {
  return run();
}
}  // namespace tarvona::adaptor::observer
#endif

#define TARVONA_EXPORT __attribute__((visibility("default")))

namespace tarvona::adaptor {
namespace {

using List = CK_FUNCTION_LIST;
using LabelFilter = std::vector<std::string>;

struct Generation {
  Generation(int n, const char* module, const char* tokens)
      : number(n), module_variable(module), tokens_variable(tokens) {}

  const int number;
  const char* const module_variable;
  const char* const tokens_variable;
  // The backend's list while this generation is initialised. Read without
  // the lock by every forwarded call, so the hot path costs one load.
  std::atomic<CK_FUNCTION_LIST_PTR> backend{nullptr};
  void* library = nullptr;
  // Labels shown, null when every initialised token shows. Taken from the
  // environment at every C_Initialize, even one answered ALREADY_INITIALIZED,
  // so a test can change what a running generation shows.
  std::atomic<std::shared_ptr<const LabelFilter>> filter;
  // Sessions this generation opened, with their slot.
  std::unordered_map<CK_SESSION_HANDLE, CK_SLOT_ID> sessions;
};

// One backend instance, identified by its function list: two paths to the
// same file still give one instance.
struct Backend {
  CK_FUNCTION_LIST_PTR list;
  int users;
  bool finalise_when_unused;  // false when someone else initialised it
};

struct State {
  std::mutex mutex;
  Generation v4{4, "TARVONAV4_PKCS11_MODULE", "TARVONAV4_TOKENS"};
  Generation v5{5, "TARVONAV5_PKCS11_MODULE", "TARVONAV5_TOKENS"};
  std::vector<Backend> backends;
};
State state;

Generation& GenerationOf(int number) { return number == 4 ? state.v4 : state.v5; }
CK_FUNCTION_LIST_PTR FunctionListOf(int number);

struct LibraryCloser {
  void operator()(void* handle) const { dlclose(handle); }
};
using Library = std::unique_ptr<void, LibraryCloser>;

const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

Library OpenBackendLibrary(const Generation& g) {
  const char* path = Environment(g.module_variable);
  if (path == nullptr) path = Environment("TARVONA_PKCS11_MODULE");
  void* handle = nullptr;
  if (path != nullptr) {
    handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  } else {
    handle = dlopen("p11-kit-proxy.so", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) handle = dlopen(TARVONA_P11KIT_PROXY_PATH, RTLD_NOW | RTLD_LOCAL);
  }
  // The only way to tell a wrong module path from other init failures.
  if (handle == nullptr) std::fprintf(stderr, "Tarvonav%d.dll: %s\n", g.number, dlerror());
  return Library(handle);
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// "A, B,C" -> {"A", "B", "C"}; empty items are dropped.
LabelFilter SplitLabels(std::string_view list) {
  LabelFilter labels;
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma), " ");
    if (!item.empty()) labels.emplace_back(item);
    if (comma == std::string_view::npos) return labels;
    list.remove_prefix(comma + 1);
  }
}

// Whether `slot` shows through `filter`. Slots whose token is missing or not
// initialised are always hidden: SoftHSM keeps one free uninitialised slot,
// which the control would otherwise list as a blank token.
bool Shows(const LabelFilter* filter, List& backend, CK_SLOT_ID slot) {
  CK_TOKEN_INFO info;
  if (backend.C_GetTokenInfo == nullptr || backend.C_GetTokenInfo(slot, &info) != CKR_OK) {
    return false;
  }
  if ((info.flags & CKF_TOKEN_INITIALIZED) == 0) return false;
  if (filter == nullptr) return true;
  std::string_view label(reinterpret_cast<const char*>(info.label), sizeof info.label);
  label = label.substr(0, label.find_last_not_of(std::string_view(" \0", 2)) + 1);
  return std::find(filter->begin(), filter->end(), label) != filter->end();
}

bool Shows(const Generation& g, List& backend, CK_SLOT_ID slot) {
  return Shows(g.filter.load().get(), backend, slot);
}

// Initialises the backend for its first user. A backend that answers
// ALREADY_INITIALIZED belongs to someone else in the process: use it, never
// finalise it.
CK_RV AcquireBackend(CK_FUNCTION_LIST_PTR list, CK_FLAGS caller_flags) {
  for (Backend& backend : state.backends) {
    if (backend.list == list) {
      ++backend.users;
      return CKR_OK;
    }
  }
  state.backends.reserve(state.backends.size() + 1);
  // The adaptor's own state is thread-safe, so the backend may always use
  // OS locking; caller-supplied mutex callbacks could outlive their caller.
  CK_C_INITIALIZE_ARGS args{};
  args.flags = CKF_OS_LOCKING_OK | (caller_flags & CKF_LIBRARY_CANT_CREATE_OS_THREADS);
  const CK_RV rv = list->C_Initialize(&args);
  if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) return rv;
  state.backends.push_back({list, 1, rv == CKR_OK});
  return CKR_OK;
}

CK_RV ReleaseBackend(CK_FUNCTION_LIST_PTR list) {
  const auto backend = std::find_if(state.backends.begin(), state.backends.end(),
                                    [list](const Backend& b) { return b.list == list; });
  if (backend == state.backends.end()) return CKR_GENERAL_ERROR;
  if (--backend->users > 0) return CKR_OK;
  const CK_RV rv = backend->finalise_when_unused ? list->C_Finalize(nullptr) : CKR_OK;
  state.backends.erase(backend);
  return rv;
}

CK_RV Initialize(Generation& g, CK_VOID_PTR init_args) noexcept {
  CK_FLAGS flags = 0;
  if (init_args != nullptr) {
    const auto* args = static_cast<const CK_C_INITIALIZE_ARGS*>(init_args);
    if (args->pReserved != nullptr) return CKR_ARGUMENTS_BAD;
    const int callbacks = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) +
                          (args->LockMutex != nullptr) + (args->UnlockMutex != nullptr);
    if (callbacks != 0 && callbacks != 4) return CKR_ARGUMENTS_BAD;
    flags = args->flags;
  }
  try {
    const char* tokens = Environment(g.tokens_variable);
    std::shared_ptr<const LabelFilter> filter;
    if (tokens != nullptr) filter = std::make_shared<const LabelFilter>(SplitLabels(tokens));

    std::lock_guard lock(state.mutex);
    if (g.backend.load(std::memory_order_relaxed) != nullptr) {
      g.filter.store(std::move(filter));
      return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    }
    Library library = OpenBackendLibrary(g);
    if (library == nullptr) return CKR_GENERAL_ERROR;
    const auto get_list =
        reinterpret_cast<CK_C_GetFunctionList>(dlsym(library.get(), "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (get_list == nullptr || get_list(&list) != CKR_OK || list == nullptr ||
        list->C_Initialize == nullptr || list->C_Finalize == nullptr) {
      return CKR_GENERAL_ERROR;
    }
    const CK_RV rv = AcquireBackend(list, flags);
    if (rv != CKR_OK) return rv;
    g.filter.store(std::move(filter));
    g.library = library.release();
    g.backend.store(list, std::memory_order_release);
    return CKR_OK;
  } catch (const std::bad_alloc&) {
    return CKR_HOST_MEMORY;
  }
}

// Closes only this generation's sessions, so the other generation's keep
// working on a shared backend; the backend itself goes with its last user.
CK_RV Finalize(Generation& g, CK_VOID_PTR reserved) noexcept {
  if (reserved != nullptr) return CKR_ARGUMENTS_BAD;
  std::lock_guard lock(state.mutex);
  CK_FUNCTION_LIST_PTR backend = g.backend.load(std::memory_order_relaxed);
  if (backend == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
  for (const auto& [session, slot] : g.sessions) backend->C_CloseSession(session);
  g.sessions.clear();
  g.backend.store(nullptr, std::memory_order_release);
  const CK_RV rv = ReleaseBackend(backend);
  dlclose(g.library);
  g.library = nullptr;
  g.filter.store(nullptr);
  return rv;
}

CK_RV GetFunctionList(Generation& g, CK_FUNCTION_LIST_PTR_PTR list) noexcept {
  if (list == nullptr) return CKR_ARGUMENTS_BAD;
  *list = FunctionListOf(g.number);
  return CKR_OK;
}

// Keeps the usual contract after filtering: a null list asks for the count,
// a short buffer gets BUFFER_TOO_SMALL with the count needed.
CK_RV GetSlotList(Generation& g, CK_BBOOL token_present, CK_SLOT_ID_PTR list,
                  CK_ULONG_PTR count) noexcept {
  if (count == nullptr) return CKR_ARGUMENTS_BAD;
  CK_FUNCTION_LIST_PTR backend = g.backend.load(std::memory_order_acquire);
  if (backend == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
  try {
    std::vector<CK_SLOT_ID> slots;
    CK_RV rv = CKR_BUFFER_TOO_SMALL;
    // Slots may appear between the two calls; a few rounds settle it.
    for (int round = 0; round < 4 && rv == CKR_BUFFER_TOO_SMALL; ++round) {
      CK_ULONG n = 0;
      rv = backend->C_GetSlotList(token_present, nullptr, &n);
      if (rv != CKR_OK) return rv;
      slots.resize(n);
      rv = backend->C_GetSlotList(token_present, slots.data(), &n);
      if (rv == CKR_OK) slots.resize(n);
    }
    if (rv != CKR_OK) return rv;
    const auto filter = g.filter.load();
    std::erase_if(slots, [&](CK_SLOT_ID slot) { return !Shows(filter.get(), *backend, slot); });

    const CK_ULONG needed = slots.size();
    if (list == nullptr) {
      *count = needed;
      return CKR_OK;
    }
    const CK_ULONG capacity = *count;
    *count = needed;
    if (capacity < needed) return CKR_BUFFER_TOO_SMALL;
    std::copy(slots.begin(), slots.end(), list);
    return CKR_OK;
  } catch (const std::bad_alloc&) {
    return CKR_HOST_MEMORY;
  }
}

// Session opening and closing hold the lock across the backend call: a
// backend may reuse a closed handle at once (SoftHSM does not, some modules
// do), and the tracking must never hold a stale one.
CK_RV OpenSession(Generation& g, CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application,
                  CK_NOTIFY notify, CK_SESSION_HANDLE_PTR session) noexcept {
  if (session == nullptr) return CKR_ARGUMENTS_BAD;
  std::lock_guard lock(state.mutex);
  CK_FUNCTION_LIST_PTR backend = g.backend.load(std::memory_order_relaxed);
  if (backend == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
  if (!Shows(g, *backend, slot)) return CKR_SLOT_ID_INVALID;
  const CK_RV rv = backend->C_OpenSession(slot, flags, application, notify, session);
  if (rv != CKR_OK) return rv;
  try {
    g.sessions.emplace(*session, slot);
  } catch (const std::bad_alloc&) {
    backend->C_CloseSession(*session);
    return CKR_HOST_MEMORY;
  }
  return CKR_OK;
}

CK_RV CloseSession(Generation& g, CK_SESSION_HANDLE session) noexcept {
  std::lock_guard lock(state.mutex);
  CK_FUNCTION_LIST_PTR backend = g.backend.load(std::memory_order_relaxed);
  if (backend == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
  const CK_RV rv = backend->C_CloseSession(session);
  // Handles are forwarded unchecked, so the session may be the other
  // generation's: untrack it wherever it is on this backend.
  if (rv == CKR_OK) {
    for (Generation* other : {&state.v4, &state.v5}) {
      if (other->backend.load(std::memory_order_relaxed) == backend) {
        other->sessions.erase(session);
      }
    }
  }
  return rv;
}

// Closes this generation's sessions on the slot only; the backend's own
// C_CloseAllSessions would take the other generation's too.
CK_RV CloseAllSessions(Generation& g, CK_SLOT_ID slot) noexcept {
  std::lock_guard lock(state.mutex);
  CK_FUNCTION_LIST_PTR backend = g.backend.load(std::memory_order_relaxed);
  if (backend == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
  if (!Shows(g, *backend, slot)) return CKR_SLOT_ID_INVALID;
  std::erase_if(g.sessions, [&](const auto& entry) {
    if (entry.second != slot) return false;
    backend->C_CloseSession(entry.first);
    return true;
  });
  return CKR_OK;
}

CK_RV WaitForSlotEvent(Generation& g, CK_FLAGS flags, CK_SLOT_ID_PTR slot,
                       CK_VOID_PTR reserved) noexcept {
  CK_FUNCTION_LIST_PTR backend = g.backend.load(std::memory_order_acquire);
  if (backend == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
  if (backend->C_WaitForSlotEvent == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
  while (true) {
    const CK_RV rv = backend->C_WaitForSlotEvent(flags, slot, reserved);
    if (rv != CKR_OK || slot == nullptr || Shows(g, *backend, *slot)) return rv;
    if ((flags & CKF_DONT_BLOCK) != 0) return CKR_NO_EVENT;
  }
}

// What each entry point does before faults and tracing: straight forwarding
// unless overridden below. Slot arguments must name a shown slot.
template <auto kMember>
struct Behaviour {
  template <typename... Args>
  static CK_RV Run(Generation& g, Args... args) noexcept {
    CK_FUNCTION_LIST_PTR backend = g.backend.load(std::memory_order_acquire);
    if (backend == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
    const auto function = backend->*kMember;
    if (function == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
    if constexpr (Traits<kMember>::kTakes == Takes::kSlot) {
      if (!Shows(g, *backend, FirstOf(args...))) return CKR_SLOT_ID_INVALID;
    }
    return function(args...);
  }
};

#define TARVONA_CUSTOM(name, handler)                        \
  template <>                                                \
  struct Behaviour<&List::name> {                            \
    template <typename... Args>                              \
    static CK_RV Run(Generation& g, Args... args) noexcept { \
      return handler(g, args...);                            \
    }                                                        \
  };
TARVONA_CUSTOM(C_Initialize, Initialize)
TARVONA_CUSTOM(C_Finalize, Finalize)
TARVONA_CUSTOM(C_GetFunctionList, GetFunctionList)
TARVONA_CUSTOM(C_GetSlotList, GetSlotList)
TARVONA_CUSTOM(C_OpenSession, OpenSession)
TARVONA_CUSTOM(C_CloseSession, CloseSession)
TARVONA_CUSTOM(C_CloseAllSessions, CloseAllSessions)
TARVONA_CUSTOM(C_WaitForSlotEvent, WaitForSlotEvent)
#undef TARVONA_CUSTOM

template <int kGeneration, auto kMember, typename Function = FunctionOf<kMember>>
struct EntryPoint;

template <int kGeneration, auto kMember, typename... Args>
struct EntryPoint<kGeneration, kMember, CK_RV (*)(Args...)> {
  static CK_RV Call(Args... args) noexcept {
    Generation& g = GenerationOf(kGeneration);
    return observer::Observe<kMember>(
        kGeneration, [&g](Args... a) { return Behaviour<kMember>::Run(g, a...); }, args...);
  }
};

template <int kGeneration>
constexpr CK_FUNCTION_LIST MakeFunctionList() {
  CK_FUNCTION_LIST list{};
  list.version.major = 2;
  list.version.minor = 40;
#define TARVONA_FILL(name, takes) list.name = &EntryPoint<kGeneration, &List::name>::Call;
  TARVONA_CRYPTOKI_FUNCTIONS(TARVONA_FILL)
#undef TARVONA_FILL
  return list;
}

constinit CK_FUNCTION_LIST function_list_v4 = MakeFunctionList<4>();
constinit CK_FUNCTION_LIST function_list_v5 = MakeFunctionList<5>();
constinit tarvona_aux_function_list aux_table_v4{{1, 0}, 4};
constinit tarvona_aux_function_list aux_table_v5{{1, 0}, 5};

CK_FUNCTION_LIST_PTR FunctionListOf(int number) {
  return number == 4 ? &function_list_v4 : &function_list_v5;
}

bool KnownGeneration(int generation) { return generation == 4 || generation == 5; }

}  // namespace
}  // namespace tarvona::adaptor

extern "C" {

TARVONA_EXPORT CK_RV tarvona_adaptor_get_function_list(int generation,
                                                       CK_FUNCTION_LIST_PTR_PTR list) {
  using tarvona::adaptor::EntryPoint;
  if (!tarvona::adaptor::KnownGeneration(generation)) return CKR_ARGUMENTS_BAD;
  return generation == 4 ? EntryPoint<4, &CK_FUNCTION_LIST::C_GetFunctionList>::Call(list)
                         : EntryPoint<5, &CK_FUNCTION_LIST::C_GetFunctionList>::Call(list);
}

TARVONA_EXPORT CK_RV tarvona_adaptor_get_aux_function_list(int generation, void** table) {
  using namespace tarvona::adaptor;
  if (table == nullptr || !KnownGeneration(generation)) return CKR_ARGUMENTS_BAD;
  return observer::ObserveAux(generation, table, [&] {
    *table = generation == 4 ? &aux_table_v4 : &aux_table_v5;
    return CKR_OK;
  });
}

}  // extern "C"
