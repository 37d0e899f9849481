#include "token/cryptoki_module.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "common/result_code.h"

namespace tarvona {
namespace {

// The vendor's auxiliary entry point: stores its table and returns 0.
using GetAuxFunctionListFn = CK_RV (*)(void**);

// Two controls in one process bind the same module instance (the loader
// hands out the same library twice). C_Finalize would end the sessions of
// both, so the instance is finalised only when its last binding unloads,
// and only if a binding's own C_Initialize started it: an instance another
// component of the process initialised (CKR_CRYPTOKI_ALREADY_INITIALIZED)
// is that component's to finalise. Keyed by function list: one per module
// instance.
struct Users {
  int count = 0;
  bool started_here = false;
};
std::mutex g_users_mutex;
std::map<CK_FUNCTION_LIST_PTR, Users> g_users;

void AddUser(CK_FUNCTION_LIST_PTR functions, bool started_here) {
  std::lock_guard lock(g_users_mutex);
  Users& users = g_users[functions];
  ++users.count;
  users.started_here = users.started_here || started_here;
}

// True when the instance should be finalised: this binding was its last
// user and a binding started it.
bool ReleaseUser(CK_FUNCTION_LIST_PTR functions, bool was_user) {
  if (!was_user) return false;
  std::lock_guard lock(g_users_mutex);
  auto found = g_users.find(functions);
  if (found == g_users.end() || --found->second.count > 0) return false;
  const bool started_here = found->second.started_here;
  g_users.erase(found);
  return started_here;
}

}  // namespace

CCryptokiModule::CCryptokiModule(const platform::LibraryLoader& loader) : loader_(loader) {}

CCryptokiModule::~CCryptokiModule() { Unload(); }

int32_t CCryptokiModule::Load(std::string_view file_name) {
  if (library_ == nullptr) {
    file_name_ = file_name;
    library_ = loader_.Load(file_name_);
    if (library_ == nullptr) return kModuleNotLoaded;
  }
  if (functions_ == nullptr) {
    auto get_list =
        reinterpret_cast<CK_C_GetFunctionList>(library_->Symbol("C_GetFunctionList"));
    // A module that answers CKR_OK but leaves the list null is as unusable
    // as one that fails: never go on to call through a null list.
    if (get_list == nullptr || get_list(&functions_) != CKR_OK || functions_ == nullptr) {
      functions_ = nullptr;
      Unload();
      return kModuleNotReady;
    }
  }
  if (aux_table_ == nullptr) {
    auto get_aux =
        reinterpret_cast<GetAuxFunctionListFn>(library_->Symbol("E_GetAuxFunctionList"));
    if (get_aux == nullptr || get_aux(&aux_table_) != CKR_OK || aux_table_ == nullptr) {
      aux_table_ = nullptr;
      Unload();
      return kModuleNotReady;
    }
  }
  CK_RV rv = functions_->C_Initialize(nullptr);
  if (int32_t rc = ResultOf(Operation::kLoad, rv); rc != kOk) {
    Unload();
    return rc;
  }
  if (!initialized_) {
    initialized_ = true;
    AddUser(functions_, rv == CKR_OK);
  }
  return kOk;
}

void CCryptokiModule::Unload() {
  // C_Finalize also ends the open session. While another binding still uses
  // the instance, or when another component started it, only this
  // binding's session is closed. Either way the handle is forgotten: a
  // later Connect must never close a session that reuses its number.
  if (functions_ != nullptr) {
    if (ReleaseUser(functions_, initialized_)) {
      functions_->C_Finalize(nullptr);
    } else if (session_ != 0) {
      functions_->C_CloseSession(session_);
    }
  }
  SetSession(0);
  initialized_ = false;
  functions_ = nullptr;
  aux_table_ = nullptr;
  library_.reset();
}

void CCryptokiModule::SetSession(CK_SESSION_HANDLE session) {
  session_ = session;
  objects_.Forget();
}

template <typename Visit>
int32_t CCryptokiModule::ScanSlots(Visit visit) {
  if (!IsReady()) {
    if (int32_t rc = Load(file_name_); rc != kOk) return rc;
  }
  std::array<CK_SLOT_ID, kMostPresentTokens> slots{};
  CK_ULONG count = kMostPresentTokens;
  if (CK_RV rv = functions_->C_GetSlotList(CK_TRUE, slots.data(), &count); rv != CKR_OK) {
    return ResultOf(Operation::kSlots, rv);
  }
  // No token, or a module that overstates its count.
  if (count == 0 || count > kMostPresentTokens) return FailureOf(Operation::kSlots);
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_TOKEN_INFO info{};
    if (functions_->C_GetTokenInfo(slots[i], &info) != CKR_OK) continue;
    if (!visit(slots[i], info)) break;
  }
  return kOk;
}

int32_t CCryptokiModule::Connect() {
  bool tried = false;
  bool opened = false;
  int32_t rc = ScanSlots([&](CK_SLOT_ID slot, const CK_TOKEN_INFO& info) {
    tried = true;
    CK_SESSION_HANDLE previous = session_;
    // A session that went with its token (pulled out, its reader gone) is
    // closed before a new one opens: a module may give the new session the
    // old one's number, and closing the old one afterwards would close it.
    if (previous != 0 && SessionGone(previous)) {
      functions_->C_CloseSession(previous);
      previous = 0;
    }
    slot_id_ = slot;
    token_flags_ = info.flags;
    CK_SESSION_HANDLE fresh = 0;
    opened = OpenSession(slot, fresh) == CKR_OK;
    SetSession(opened ? fresh : 0);
    if (!opened) slot_id_ = kNoSlot;
    // A session held from an earlier Connect would otherwise stay open until
    // the module is finalised. It is closed after the new one is open, so a
    // user who is logged in stays logged in.
    if (previous != 0 && previous != fresh) functions_->C_CloseSession(previous);
    return false;
  });
  if (rc != kOk) return rc;
  return tried && opened ? kOk : kNoToken;
}

// Only the module's word that the session is gone counts: a module that
// cannot say (no C_GetSessionInfo) keeps its session, and its user stays
// logged in.
bool CCryptokiModule::SessionGone(CK_SESSION_HANDLE session) {
  CK_SESSION_INFO state{};
  switch (functions_->C_GetSessionInfo(session, &state)) {
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_SESSION_CLOSED:
    case CKR_DEVICE_REMOVED:
    case CKR_TOKEN_NOT_PRESENT:
      return true;
    default:
      return false;
  }
}

CK_RV CCryptokiModule::OpenSession(CK_SLOT_ID slot, CK_SESSION_HANDLE& fresh) {
  CK_RV rv = functions_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                       nullptr, &fresh);
  if (rv != CKR_TOKEN_WRITE_PROTECTED) return rv;
  return functions_->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &fresh);
}

bool CCryptokiModule::ReplaceSession() {
  // The fresh session is opened first, so a logged-in user stays logged in.
  // Object handles belong to the application, not the session, so the
  // numbers script holds stay valid.
  CK_SESSION_HANDLE fresh = 0;
  if (OpenSession(slot_id_, fresh) != CKR_OK) return false;
  functions_->C_CloseSession(session_);
  session_ = fresh;
  return true;
}

int32_t CCryptokiModule::Disconnect() {
  if (!IsReady()) return kModuleNotReady;
  functions_->C_CloseSession(session_);
  SetSession(0);
  slot_id_ = kNoSlot;
  return kOk;
}

int32_t CCryptokiModule::RetrieveSerial(std::array<char, kSerialSize>& serial) {
  bool found = false;
  int32_t rc = ScanSlots([&](CK_SLOT_ID, const CK_TOKEN_INFO& info) {
    std::copy(std::begin(info.serialNumber), std::end(info.serialNumber), serial.begin());
    found = true;
    return false;
  });
  if (rc != kOk) return rc;
  return found ? kOk : kNoToken;
}

int32_t CCryptokiModule::RetrieveAllSerials(std::string& list) {
  std::string joined;
  bool first = true;
  int32_t rc = ScanSlots([&](CK_SLOT_ID, const CK_TOKEN_INFO& info) {
    const auto* begin = reinterpret_cast<const char*>(info.serialNumber);
    // A NUL inside the field ends the serial early.
    std::string_view serial(begin, kSerialSize);
    serial = serial.substr(0, serial.find('\0'));
    if (!first) joined += ',';
    joined += serial;
    first = false;
    return true;
  });
  if (rc != kOk) return rc;
  if (first) return kNoToken;
  list = std::move(joined);
  return kOk;
}

}  // namespace tarvona
