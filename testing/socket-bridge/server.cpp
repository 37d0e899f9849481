// The Linux half of the socket bridge: serves the Cryptoki calls of the
// 32-bit Windows module (module.cpp) of one generation over loopback TCP.
// Each call runs on the Windows ABI front of the Wine bridge
// (testing/wine-bridge/bridge.cpp, linked in), which forwards it to our
// Linux adaptor and narrows what comes back to 32 bits, checked. So a
// 32-bit Wine in a root of its own, which cannot load the machine's 64-bit
// libraries, reaches SoftHSM2 through the same adaptor as the 64-bit road.
//
//   tarvona-bridge-server-vN -- CMD...
// listens on 127.0.0.1 (a port the system picks), runs CMD with
// TARVONAVN_BRIDGE_PORT naming it, serves each connection in a process of
// its own (a Windows process loads a module instance of its own), and
// exits with CMD's status once CMD has ended.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "testing/socket-bridge/wire.h"
#include "testing/wine-bridge/windows_cryptoki.h"

extern "C" TARVONA_MS_ABI win::CK_RV BridgeGetFunctionList(win::CK_FUNCTION_LIST_PTR_PTR list);
extern "C" TARVONA_MS_ABI win::CK_RV BridgeGetAuxFunctionList(void** table);

extern char** environ;

namespace tarvona::socket_bridge {
namespace {

using Bytes = std::optional<std::vector<unsigned char>>;

bool ReadAll(int fd, void* data, size_t length) {
  auto* at = static_cast<unsigned char*>(data);
  while (length > 0) {
    const ssize_t n = read(fd, at, length);
    if (n <= 0) return false;
    at += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::vector<unsigned char>& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::vector<unsigned char>> ReceiveMessage(int fd) {
  uint32_t length = 0;
  if (!ReadAll(fd, &length, 4) || length > kMaxMessage) return std::nullopt;
  std::vector<unsigned char> message(length);
  if (!ReadAll(fd, message.data(), length)) return std::nullopt;
  return message;
}

// A buffer the caller asked for, of `length` bytes (at least one, so that
// its pointer is never null); empty when the request asks too much.
std::vector<unsigned char> Area(uint32_t length) {
  return length > kMaxMessage ? std::vector<unsigned char>() : std::vector<unsigned char>(length + 1);
}

bool CarriesAttributes(win::CK_RV rv) {
  return rv == CKR_OK || rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID ||
         rv == CKR_BUFFER_TOO_SMALL;
}

class Server {
 public:
  explicit Server(win::CK_FUNCTION_LIST* functions) : f_(*functions) {}

  // The reply to one request; nullopt when the request is malformed.
  std::optional<Writer> Answer(Reader& in) {
    Writer out;
    const auto call = static_cast<Call>(in.U32());
    switch (call) {
      case Call::kInitialize: {
        const uint32_t has_args = in.U32();
        win::CK_C_INITIALIZE_ARGS args{};
        args.flags = in.U32();
        if (!in.ok()) return std::nullopt;
        out.U32(f_.C_Initialize(has_args != 0 ? &args : nullptr));
        break;
      }
      case Call::kFinalize:
        out.U32(f_.C_Finalize(nullptr));
        break;
      case Call::kGetSlotList: {
        const auto present = static_cast<win::CK_BBOOL>(in.U32());
        const uint32_t has_list = in.U32();
        win::CK_ULONG count = in.U32();
        if (!in.ok() || count > kMaxMessage / 4) return std::nullopt;
        std::vector<win::CK_SLOT_ID> slots(count + 1);
        const win::CK_RV rv = f_.C_GetSlotList(present, has_list != 0 ? slots.data() : nullptr, &count);
        out.U32(rv).U32(count);
        if (rv == CKR_OK && has_list != 0) {
          for (win::CK_ULONG i = 0; i < count; ++i) out.U32(slots[i]);
        }
        break;
      }
      case Call::kGetTokenInfo: {
        const win::CK_SLOT_ID slot = in.U32();
        if (!in.ok()) return std::nullopt;
        win::CK_TOKEN_INFO info{};
        const win::CK_RV rv = f_.C_GetTokenInfo(slot, &info);
        out.U32(rv);
        if (rv == CKR_OK) out.Bytes(&info, sizeof info);
        break;
      }
      case Call::kInitToken: {
        const win::CK_SLOT_ID slot = in.U32();
        Bytes pin = in.Bytes();
        Bytes label = in.Bytes();
        if (!in.ok() || (label && label->size() != 32)) return std::nullopt;
        out.U32(f_.C_InitToken(slot, PointerOf(pin), Length(pin), PointerOf(label)));
        break;
      }
      case Call::kInitPin: {
        const win::CK_SESSION_HANDLE session = in.U32();
        Bytes pin = in.Bytes();
        if (!in.ok()) return std::nullopt;
        out.U32(f_.C_InitPIN(session, PointerOf(pin), Length(pin)));
        break;
      }
      case Call::kSetPin: {
        const win::CK_SESSION_HANDLE session = in.U32();
        Bytes old_pin = in.Bytes();
        Bytes new_pin = in.Bytes();
        if (!in.ok()) return std::nullopt;
        out.U32(f_.C_SetPIN(session, PointerOf(old_pin), Length(old_pin), PointerOf(new_pin),
                            Length(new_pin)));
        break;
      }
      case Call::kOpenSession: {
        const win::CK_SLOT_ID slot = in.U32();
        const win::CK_FLAGS flags = in.U32();
        if (!in.ok()) return std::nullopt;
        win::CK_SESSION_HANDLE session = 0;
        const win::CK_RV rv = f_.C_OpenSession(slot, flags, nullptr, nullptr, &session);
        out.U32(rv).U32(session);
        break;
      }
      case Call::kCloseSession:
        return OneHandle(in, f_.C_CloseSession);
      case Call::kCloseAllSessions:
        return OneHandle(in, f_.C_CloseAllSessions);
      case Call::kLogout:
        return OneHandle(in, f_.C_Logout);
      case Call::kFindObjectsFinal:
        return OneHandle(in, f_.C_FindObjectsFinal);
      case Call::kLogin: {
        const win::CK_SESSION_HANDLE session = in.U32();
        const win::CK_USER_TYPE user = in.U32();
        Bytes pin = in.Bytes();
        if (!in.ok()) return std::nullopt;
        out.U32(f_.C_Login(session, user, PointerOf(pin), Length(pin)));
        break;
      }
      case Call::kGetAttributeValue:
        return GetAttributeValue(in);
      case Call::kFindObjectsInit: {
        const win::CK_SESSION_HANDLE session = in.U32();
        const uint32_t count = in.U32();
        if (!in.ok() || count > kMaxMessage / 8) return std::nullopt;
        std::vector<win::CK_ATTRIBUTE> entries(count);
        std::vector<Bytes> values(count);
        for (uint32_t i = 0; i < count; ++i) {
          entries[i].type = in.U32();
          values[i] = in.Bytes();
          entries[i].pValue = PointerOf(values[i]);
          entries[i].ulValueLen = Length(values[i]);
        }
        if (!in.ok()) return std::nullopt;
        out.U32(f_.C_FindObjectsInit(session, entries.data(), count));
        break;
      }
      case Call::kFindObjects: {
        const win::CK_SESSION_HANDLE session = in.U32();
        const win::CK_ULONG most = in.U32();
        if (!in.ok() || most > kMaxMessage / 4) return std::nullopt;
        std::vector<win::CK_OBJECT_HANDLE> objects(most + 1);
        win::CK_ULONG found = 0;
        const win::CK_RV rv = f_.C_FindObjects(session, objects.data(), most, &found);
        out.U32(rv).U32(found);
        if (rv == CKR_OK) {
          for (win::CK_ULONG i = 0; i < found && i < most; ++i) out.U32(objects[i]);
        }
        break;
      }
      case Call::kDigestInit: {
        const win::CK_SESSION_HANDLE session = in.U32();
        std::optional<Mechanism> mechanism = ReadMechanism(in);
        if (!in.ok()) return std::nullopt;
        out.U32(f_.C_DigestInit(session, mechanism ? &mechanism->value : nullptr));
        break;
      }
      case Call::kSignInit:
        return InitWithKey(in, f_.C_SignInit);
      case Call::kVerifyInit:
        return InitWithKey(in, f_.C_VerifyInit);
      case Call::kEncryptInit:
        return InitWithKey(in, f_.C_EncryptInit);
      case Call::kDecryptInit:
        return InitWithKey(in, f_.C_DecryptInit);
      case Call::kDigest:
        return SinglePart(in, f_.C_Digest);
      case Call::kSign:
        return SinglePart(in, f_.C_Sign);
      case Call::kEncrypt:
        return SinglePart(in, f_.C_Encrypt);
      case Call::kDecrypt:
        return SinglePart(in, f_.C_Decrypt);
      case Call::kVerify: {
        const win::CK_SESSION_HANDLE session = in.U32();
        Bytes data = in.Bytes();
        Bytes signature = in.Bytes();
        if (!in.ok()) return std::nullopt;
        out.U32(f_.C_Verify(session, PointerOf(data), Length(data), PointerOf(signature),
                            Length(signature)));
        break;
      }
      case Call::kGetAuxFunctionList: {
        void* table = nullptr;
        out.U32(BridgeGetAuxFunctionList(&table));
        break;
      }
      default:
        return std::nullopt;
    }
    return out;
  }

 private:
  struct Mechanism {
    win::CK_MECHANISM value{};
    Bytes parameter;
  };

  static win::CK_ULONG Length(const Bytes& bytes) {
    return bytes ? static_cast<win::CK_ULONG>(bytes->size()) : 0;
  }

  // A mechanism, or nullopt for a null one: its type and parameter.
  static std::optional<Mechanism> ReadMechanism(Reader& in) {
    if (in.U32() == 0) return std::nullopt;
    std::optional<Mechanism> mechanism(std::in_place);
    mechanism->value.mechanism = in.U32();
    mechanism->parameter = in.Bytes();
    mechanism->value.pParameter = PointerOf(mechanism->parameter);
    mechanism->value.ulParameterLen = Length(mechanism->parameter);
    return mechanism;
  }

  template <typename Function>
  static std::optional<Writer> OneHandle(Reader& in, Function function) {
    const win::CK_ULONG handle = in.U32();
    if (!in.ok()) return std::nullopt;
    Writer out;
    out.U32(function(handle));
    return out;
  }

  template <typename Function>
  static std::optional<Writer> InitWithKey(Reader& in, Function function) {
    const win::CK_SESSION_HANDLE session = in.U32();
    std::optional<Mechanism> mechanism = ReadMechanism(in);
    const win::CK_OBJECT_HANDLE key = in.U32();
    if (!in.ok()) return std::nullopt;
    Writer out;
    out.U32(function(session, mechanism ? &mechanism->value : nullptr, key));
    return out;
  }

  // Digest, Sign, Encrypt, Decrypt: the input, and whether the caller gave
  // an output area and of what size.
  template <typename Function>
  static std::optional<Writer> SinglePart(Reader& in, Function function) {
    const win::CK_SESSION_HANDLE session = in.U32();
    Bytes data = in.Bytes();
    const uint32_t has_out = in.U32();
    win::CK_ULONG length = in.U32();
    std::vector<unsigned char> area = Area(length);
    if (!in.ok() || area.empty()) return std::nullopt;
    const win::CK_RV rv = function(session, PointerOf(data), Length(data),
                                   has_out != 0 ? area.data() : nullptr, &length);
    Writer out;
    out.U32(rv).U32(length);
    if (rv == CKR_OK && has_out != 0 && length < area.size()) out.Bytes(area.data(), length);
    return out;
  }

  // Each entry as the caller holds it: its type, whether it has a value
  // area and of what size. Back come the lengths and the values found.
  std::optional<Writer> GetAttributeValue(Reader& in) {
    const win::CK_SESSION_HANDLE session = in.U32();
    const win::CK_OBJECT_HANDLE object = in.U32();
    const uint32_t count = in.U32();
    if (!in.ok() || count > kMaxMessage / 12) return std::nullopt;
    std::vector<win::CK_ATTRIBUTE> entries(count);
    std::vector<std::vector<unsigned char>> areas(count);
    uint64_t asked = 0;
    for (uint32_t i = 0; i < count; ++i) {
      entries[i].type = in.U32();
      const uint32_t has_value = in.U32();
      entries[i].ulValueLen = in.U32();
      asked += entries[i].ulValueLen;
      if (!in.ok() || asked > kMaxMessage) return std::nullopt;
      if (has_value != 0) {
        areas[i] = Area(entries[i].ulValueLen);
        entries[i].pValue = areas[i].data();
      }
    }
    const win::CK_RV rv = f_.C_GetAttributeValue(session, object, entries.data(), count);
    Writer out;
    out.U32(rv);
    if (!CarriesAttributes(rv)) return out;
    for (uint32_t i = 0; i < count; ++i) {
      const win::CK_ULONG length = entries[i].ulValueLen;
      out.U32(length);
      const bool filled = entries[i].pValue != nullptr && length < areas[i].size();
      out.Bytes(filled ? areas[i].data() : nullptr, filled ? length : 0);
    }
    return out;
  }

  win::CK_FUNCTION_LIST& f_;
};

// One connection, in a process of its own: requests until the module closes it.
void Serve(int connection) {
  win::CK_FUNCTION_LIST* functions = nullptr;
  const bool ready = BridgeGetFunctionList(&functions) == CKR_OK && functions != nullptr;
  Server server(functions);
  while (std::optional<std::vector<unsigned char>> request = ReceiveMessage(connection)) {
    Reader in(std::move(*request));
    std::optional<Writer> reply;
    if (ready) {
      reply = server.Answer(in);
    } else {
      reply.emplace().U32(static_cast<uint32_t>(CKR_GENERAL_ERROR));
    }
    if (!reply) {
      std::fprintf(stderr, "socket bridge: a malformed request; connection closed\n");
      return;
    }
    if (!WriteAll(connection, reply->Framed())) return;
  }
}

int Listen(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

int Run(char** command) {
  uint16_t port = 0;
  const int listener = Listen(port);
  if (listener < 0) {
    std::perror("socket bridge: listening on 127.0.0.1");
    return 1;
  }
  setenv(PortVariable(TARVONA_GENERATION).c_str(), std::to_string(port).c_str(), 1);
  pid_t command_pid = 0;
  if (posix_spawnp(&command_pid, command[0], nullptr, nullptr, command, environ) != 0) {
    std::perror(command[0]);
    return 127;
  }
  std::set<pid_t> servers;
  int status = -1;
  while (status < 0) {
    pollfd waiting{listener, POLLIN, 0};
    if (poll(&waiting, 1, 100) > 0) {
      const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) {
        const int on = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const pid_t server = fork();
        if (server == 0) {
          close(listener);
          Serve(connection);
          _exit(0);
        }
        if (server > 0) servers.insert(server);
        close(connection);
      }
    }
    int ended = 0;
    for (pid_t pid; (pid = waitpid(-1, &ended, WNOHANG)) > 0;) {
      if (pid == command_pid) {
        status = WIFEXITED(ended) ? WEXITSTATUS(ended) : 128 + WTERMSIG(ended);
      }
      servers.erase(pid);
    }
  }
  close(listener);
  // What CMD left running no longer has a caller.
  for (pid_t server : servers) kill(server, SIGTERM);
  for (pid_t server : servers) waitpid(server, nullptr, 0);
  return status;
}

}  // namespace
}  // namespace tarvona::socket_bridge

int main(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != "--") {
    std::fprintf(stderr, "usage: %s -- COMMAND...\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  return tarvona::socket_bridge::Run(argv + 2);
}
