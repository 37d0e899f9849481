// The Windows half of the socket bridge: Tarvonav4.dll or Tarvonav5.dll as
// a token maker ships it for 32-bit Windows (cdecl entries, structures
// packed to one byte, CK_ULONGs of 32 bits), for tests under 32-bit Wine.
// Every call goes over loopback TCP to the Linux server of its generation
// (server.cpp), whose port TARVONAVN_BRIDGE_PORT names; a process holds
// one connection, made by its first call. A server that cannot be reached
// or a broken reply is CKR_GENERAL_ERROR, never a crash.

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <new>

#define CRYPTOKI_EXPORTS 1
#include <p11-kit/pkcs11.h>

#include "testing/function_list_fill.h"
#include "testing/socket-bridge/wire.h"

#ifndef TARVONA_GENERATION
#error "build with TARVONA_GENERATION=4 or 5"
#endif

static_assert(sizeof(CK_ULONG) == 4 && sizeof(void*) == 4, "the 32-bit Windows Cryptoki ABI");
static_assert(sizeof(CK_TOKEN_INFO) == 160 && sizeof(CK_ATTRIBUTE) == 12 &&
              sizeof(CK_MECHANISM) == 12);

namespace tarvona::socket_bridge {
namespace {

using Bytes = std::optional<std::vector<unsigned char>>;

constexpr CK_RV kBroken = CKR_GENERAL_ERROR;

class Connection {
 public:
  // The reply to a request, or nullopt when the server cannot be reached
  // or its reply is cut off (the connection is then dropped).
  std::optional<Reader> Exchange(const Writer& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (socket_ == INVALID_SOCKET && !Connect()) return std::nullopt;
    const std::vector<unsigned char> framed = request.Framed();
    uint32_t length = 0;
    if (!SendAll(framed.data(), framed.size()) || !ReceiveAll(&length, 4) || length > kMaxMessage) {
      Drop();
      return std::nullopt;
    }
    std::vector<unsigned char> reply(length);
    if (!ReceiveAll(reply.data(), length)) {
      Drop();
      return std::nullopt;
    }
    return Reader(std::move(reply));
  }

 private:
  bool Connect() {
    char port[16] = {};
    const std::string variable = PortVariable(TARVONA_GENERATION);
    const DWORD n = GetEnvironmentVariableA(variable.c_str(), port, sizeof port);
    if (n == 0 || n >= sizeof port) return false;
    if (!started_) {
      WSADATA data;
      if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
      started_ = true;
    }
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::strtoul(port, nullptr, 10)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Drop();
      return false;
    }
    BOOL on = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return true;
  }

  void Drop() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  bool SendAll(const unsigned char* data, size_t length) {
    while (length > 0) {
      const int n = send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
      if (n <= 0) return false;
      data += n;
      length -= static_cast<size_t>(n);
    }
    return true;
  }

  bool ReceiveAll(void* data, size_t length) {
    auto* at = static_cast<char*>(data);
    while (length > 0) {
      const int n = recv(socket_, at, static_cast<int>(length), 0);
      if (n <= 0) return false;
      at += n;
      length -= static_cast<size_t>(n);
    }
    return true;
  }

  std::mutex mutex_;
  SOCKET socket_ = INVALID_SOCKET;
  bool started_ = false;
};

Connection& TheConnection() {
  static Connection* connection = new Connection;  // kept to the process's end
  return *connection;
}

// A request of `call` started; its fields follow.
Writer Request(Call call) {
  Writer request;
  request.U32(static_cast<uint32_t>(call));
  return request;
}

// Sends the request and reads the CK_RV in front of the reply into `rv`;
// the reply's other fields are left to read. Nothing may be thrown into
// the caller.
std::optional<Reader> Send(const Writer& request, CK_RV& rv) noexcept {
  try {
    std::optional<Reader> reply = TheConnection().Exchange(request);
    uint32_t answered = 0;
    if (reply && reply->U32(answered)) {
      rv = answered;
      return reply;
    }
  } catch (const std::bad_alloc&) {
    rv = CKR_HOST_MEMORY;
    return std::nullopt;
  } catch (...) {
  }
  rv = kBroken;
  return std::nullopt;
}

// A request whose reply is the CK_RV alone.
CK_RV Simple(const Writer& request) {
  CK_RV rv = kBroken;
  Send(request, rv);
  return rv;
}

Writer& PutMechanism(Writer& request, const CK_MECHANISM* mechanism) {
  if (mechanism == nullptr) return request.U32(0);
  return request.U32(1).U32(mechanism->mechanism).Bytes(mechanism->pParameter,
                                                         mechanism->ulParameterLen);
}

// The Windows list's entries.

CK_RV NotSupported() { return CKR_FUNCTION_NOT_SUPPORTED; }

CK_RV Initialize(void* args) {
  CK_FLAGS flags = 0;
  if (args != nullptr) {
    const auto* in = static_cast<const CK_C_INITIALIZE_ARGS*>(args);
    if (in->pReserved != nullptr) return CKR_ARGUMENTS_BAD;
    const int callbacks = (in->CreateMutex != nullptr) + (in->DestroyMutex != nullptr) +
                          (in->LockMutex != nullptr) + (in->UnlockMutex != nullptr);
    if (callbacks != 0 && callbacks != 4) return CKR_ARGUMENTS_BAD;
    // The caller's mutex functions cannot cross to the server, which locks
    // with the system's own.
    flags = in->flags | (callbacks != 0 ? CKF_OS_LOCKING_OK : 0);
  }
  return Simple(Request(Call::kInitialize).U32(args != nullptr).U32(flags));
}

CK_RV Finalize(void* reserved) {
  if (reserved != nullptr) return CKR_ARGUMENTS_BAD;
  return Simple(Request(Call::kFinalize));
}

CK_RV GetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
  if (count == nullptr) return CKR_ARGUMENTS_BAD;
  CK_RV rv = kBroken;
  std::optional<Reader> reply =
      Send(Request(Call::kGetSlotList).U32(present).U32(list != nullptr).U32(*count), rv);
  if (!reply || (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL)) return rv;
  const uint32_t n = reply->U32();
  if (rv == CKR_OK && list != nullptr) {
    if (n > *count) return kBroken;
    for (uint32_t i = 0; i < n; ++i) list[i] = reply->U32();
  }
  if (!reply->ok()) return kBroken;
  *count = n;
  return rv;
}

CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  CK_RV rv = kBroken;
  std::optional<Reader> reply = Send(Request(Call::kGetTokenInfo).U32(slot), rv);
  if (!reply || rv != CKR_OK) return rv;
  const Bytes bytes = reply->Bytes();
  if (!bytes || bytes->size() != sizeof *info) return kBroken;
  std::memcpy(info, bytes->data(), sizeof *info);
  return CKR_OK;
}

CK_RV InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len, CK_UTF8CHAR_PTR label) {
  return Simple(Request(Call::kInitToken).U32(slot).Bytes(pin, pin_len).Bytes(label, 32));
}

CK_RV InitPin(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len) {
  return Simple(Request(Call::kInitPin).U32(session).Bytes(pin, pin_len));
}

CK_RV SetPin(CK_SESSION_HANDLE session, CK_UTF8CHAR_PTR old_pin, CK_ULONG old_len,
             CK_UTF8CHAR_PTR new_pin, CK_ULONG new_len) {
  return Simple(Request(Call::kSetPin).U32(session).Bytes(old_pin, old_len).Bytes(new_pin, new_len));
}

// The caller's notify callback cannot cross to the server: sessions open
// without one.
CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void*, CK_NOTIFY,
                  CK_SESSION_HANDLE_PTR session) {
  if (session == nullptr) return CKR_ARGUMENTS_BAD;
  CK_RV rv = kBroken;
  std::optional<Reader> reply = Send(Request(Call::kOpenSession).U32(slot).U32(flags), rv);
  if (!reply || rv != CKR_OK) return rv;
  const uint32_t opened = reply->U32();
  if (!reply->ok()) return kBroken;
  *session = opened;
  return CKR_OK;
}

CK_RV CloseSession(CK_SESSION_HANDLE session) {
  return Simple(Request(Call::kCloseSession).U32(session));
}

CK_RV CloseAllSessions(CK_SLOT_ID slot) { return Simple(Request(Call::kCloseAllSessions).U32(slot)); }

CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len) {
  return Simple(Request(Call::kLogin).U32(session).U32(user).Bytes(pin, pin_len));
}

CK_RV Logout(CK_SESSION_HANDLE session) { return Simple(Request(Call::kLogout).U32(session)); }

CK_RV GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR entries,
                        CK_ULONG count) {
  if (entries == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
  Writer request = Request(Call::kGetAttributeValue);
  request.U32(session).U32(object).U32(count);
  for (CK_ULONG i = 0; i < count; ++i) {
    request.U32(entries[i].type).U32(entries[i].pValue != nullptr).U32(entries[i].ulValueLen);
  }
  CK_RV rv = kBroken;
  std::optional<Reader> reply = Send(request, rv);
  // The entries carry answers only with these; else they stay as they were.
  if (!reply || (rv != CKR_OK && rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID &&
                 rv != CKR_BUFFER_TOO_SMALL)) {
    return rv;
  }
  for (CK_ULONG i = 0; i < count; ++i) {
    const uint32_t length = reply->U32();
    const Bytes value = reply->Bytes();
    if (!reply->ok()) return kBroken;
    if (value) {
      if (entries[i].pValue == nullptr || value->size() > entries[i].ulValueLen) return kBroken;
      std::memcpy(entries[i].pValue, value->data(), value->size());
    }
    entries[i].ulValueLen = length;
  }
  return rv;
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR entries, CK_ULONG count) {
  if (entries == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
  Writer request = Request(Call::kFindObjectsInit);
  request.U32(session).U32(count);
  for (CK_ULONG i = 0; i < count; ++i) {
    request.U32(entries[i].type).Bytes(entries[i].pValue, entries[i].ulValueLen);
  }
  return Simple(request);
}

CK_RV FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG most,
                  CK_ULONG_PTR found) {
  if (found == nullptr || (objects == nullptr && most != 0)) return CKR_ARGUMENTS_BAD;
  CK_RV rv = kBroken;
  std::optional<Reader> reply = Send(Request(Call::kFindObjects).U32(session).U32(most), rv);
  if (!reply || rv != CKR_OK) return rv;
  const uint32_t n = reply->U32();
  if (n > most) return kBroken;
  for (uint32_t i = 0; i < n; ++i) objects[i] = reply->U32();
  if (!reply->ok()) return kBroken;
  *found = n;
  return CKR_OK;
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE session) {
  return Simple(Request(Call::kFindObjectsFinal).U32(session));
}

CK_RV DigestInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism) {
  Writer request = Request(Call::kDigestInit);
  return Simple(PutMechanism(request.U32(session), mechanism));
}

// SignInit, VerifyInit, EncryptInit, DecryptInit.
template <Call kCall>
CK_RV InitWithKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
  Writer request = Request(kCall);
  return Simple(PutMechanism(request.U32(session), mechanism).U32(key));
}

// Digest, Sign, Encrypt, Decrypt: input, and output with an in/out length
// (a null output asks for the length).
template <Call kCall>
CK_RV SinglePart(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG data_len, CK_BYTE_PTR out,
                 CK_ULONG_PTR out_len) {
  if (out_len == nullptr) return CKR_ARGUMENTS_BAD;
  CK_RV rv = kBroken;
  std::optional<Reader> reply =
      Send(Request(kCall).U32(session).Bytes(data, data_len).U32(out != nullptr).U32(*out_len), rv);
  if (!reply || (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL)) return rv;
  const uint32_t length = reply->U32();
  if (rv == CKR_OK && out != nullptr) {
    const Bytes bytes = reply->Bytes();
    if (!bytes || bytes->size() != length || length > *out_len) return kBroken;
    std::memcpy(out, bytes->data(), length);
  }
  if (!reply->ok()) return kBroken;
  *out_len = length;
  return rv;
}

CK_RV Verify(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG data_len, CK_BYTE_PTR signature,
             CK_ULONG signature_len) {
  return Simple(
      Request(Call::kVerify).U32(session).Bytes(data, data_len).Bytes(signature, signature_len));
}

CK_FUNCTION_LIST MakeList() {
  CK_FUNCTION_LIST list;
  // Every entry answers CKR_FUNCTION_NOT_SUPPORTED unless set below.
  tarvona::testing::FillFunctionList(list, static_cast<CK_RV (*)()>(&NotSupported));
  list.version.major = 2;
  list.version.minor = 40;
  list.C_Initialize = &Initialize;
  list.C_Finalize = &Finalize;
  list.C_GetSlotList = &GetSlotList;
  list.C_GetTokenInfo = &GetTokenInfo;
  list.C_InitToken = &InitToken;
  list.C_InitPIN = &InitPin;
  list.C_SetPIN = &SetPin;
  list.C_OpenSession = &OpenSession;
  list.C_CloseSession = &CloseSession;
  list.C_CloseAllSessions = &CloseAllSessions;
  list.C_Login = &Login;
  list.C_Logout = &Logout;
  list.C_GetAttributeValue = &GetAttributeValue;
  list.C_FindObjectsInit = &FindObjectsInit;
  list.C_FindObjects = &FindObjects;
  list.C_FindObjectsFinal = &FindObjectsFinal;
  list.C_DigestInit = &DigestInit;
  list.C_Digest = &SinglePart<Call::kDigest>;
  list.C_SignInit = &InitWithKey<Call::kSignInit>;
  list.C_Sign = &SinglePart<Call::kSign>;
  list.C_VerifyInit = &InitWithKey<Call::kVerifyInit>;
  list.C_Verify = &Verify;
  list.C_EncryptInit = &InitWithKey<Call::kEncryptInit>;
  list.C_Encrypt = &SinglePart<Call::kEncrypt>;
  list.C_DecryptInit = &InitWithKey<Call::kDecryptInit>;
  list.C_Decrypt = &SinglePart<Call::kDecrypt>;
  return list;
}

}  // namespace
}  // namespace tarvona::socket_bridge

extern "C" {

CK_RV CK_SPEC C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
  static CK_FUNCTION_LIST windows_list = tarvona::socket_bridge::MakeList();
  if (list == nullptr) return CKR_ARGUMENTS_BAD;
  *list = &windows_list;
  return CKR_OK;
}

// The vendor's table is only passed on by its callers, never read: the
// module's own stands for the adaptor's, given when the adaptor has one.
__declspec(dllexport) CK_RV E_GetAuxFunctionList(void** table) {
  static void* entries[1] = {nullptr};
  if (table == nullptr) return CKR_ARGUMENTS_BAD;
  using namespace tarvona::socket_bridge;
  const CK_RV rv = Simple(Request(Call::kGetAuxFunctionList));
  if (rv == CKR_OK) *table = entries;
  return rv;
}

}  // extern "C"
