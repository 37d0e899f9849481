#pragma once

// The messages between the socket bridge's two halves: the Windows module
// (module.cpp, a 32-bit DLL in a Wine prefix) and the Linux server
// (server.cpp) that runs the Cryptoki calls on the Windows ABI front of the
// Wine bridge (testing/wine-bridge/bridge.cpp). Both sides hold CK_ULONGs
// of 32 bits, so every integer on the wire is one: a message is its length
// and then its fields, each a little-endian uint32 or a byte string (its
// length, then its bytes; kNull for a null pointer). Both halves run on
// x86, so the numbers are copied as they are in memory.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tarvona::socket_bridge {

// The functions on the wire, the request's first field. The reply starts
// with the CK_RV.
enum class Call : uint32_t {
  kInitialize = 1,
  kFinalize,
  kGetSlotList,
  kGetTokenInfo,
  kInitToken,
  kInitPin,
  kSetPin,
  kOpenSession,
  kCloseSession,
  kCloseAllSessions,
  kLogin,
  kLogout,
  kGetAttributeValue,
  kFindObjectsInit,
  kFindObjects,
  kFindObjectsFinal,
  kDigestInit,
  kDigest,
  kSignInit,
  kSign,
  kVerifyInit,
  kVerify,
  kEncryptInit,
  kEncrypt,
  kDecryptInit,
  kDecrypt,
  kGetAuxFunctionList,
};

constexpr uint32_t kNull = 0xFFFFFFFF;
// The largest message either side takes, and so the largest buffer or
// list a request may ask the other side for.
constexpr uint32_t kMaxMessage = 1u << 24;
// The environment variable naming the server's port for a generation.
inline std::string PortVariable(int generation) {
  return "TARVONAV" + std::to_string(generation) + "_BRIDGE_PORT";
}

class Writer {
 public:
  Writer& U32(uint32_t value) {
    unsigned char bytes[4];
    std::memcpy(bytes, &value, 4);
    data_.insert(data_.end(), bytes, bytes + 4);
    return *this;
  }
  // A byte string of `length` bytes at `bytes`, or kNull when `bytes` is null.
  Writer& Bytes(const void* bytes, uint32_t length) {
    if (bytes == nullptr) return U32(kNull);
    U32(length);
    const auto* begin = static_cast<const unsigned char*>(bytes);
    data_.insert(data_.end(), begin, begin + length);
    return *this;
  }
  // The message with its length in front, ready to send.
  std::vector<unsigned char> Framed() const {
    Writer framed;
    framed.U32(static_cast<uint32_t>(data_.size()));
    framed.data_.insert(framed.data_.end(), data_.begin(), data_.end());
    return framed.data_;
  }

 private:
  std::vector<unsigned char> data_;
};

// Reads a message's fields in order; a read past the end or a length that
// does not fit makes every later read fail too, so a caller checks once.
class Reader {
 public:
  explicit Reader(std::vector<unsigned char> data) : data_(std::move(data)) {}

  bool U32(uint32_t& value) {
    if (!ok_ || data_.size() - at_ < 4) return ok_ = false;
    std::memcpy(&value, data_.data() + at_, 4);
    at_ += 4;
    return true;
  }
  uint32_t U32() {
    uint32_t value = 0;
    U32(value);
    return value;
  }
  // A byte string; nullopt for kNull (and when the message is broken).
  std::optional<std::vector<unsigned char>> Bytes() {
    const uint32_t length = U32();
    if (!ok_ || length == kNull) return std::nullopt;
    if (data_.size() - at_ < length) {
      ok_ = false;
      return std::nullopt;
    }
    std::vector<unsigned char> bytes(data_.begin() + static_cast<std::ptrdiff_t>(at_),
                                     data_.begin() + static_cast<std::ptrdiff_t>(at_ + length));
    at_ += length;
    return bytes;
  }
  bool ok() const { return ok_; }

 private:
  std::vector<unsigned char> data_;
  size_t at_ = 0;
  bool ok_ = true;
};

// A nullable byte string's pointer for a Cryptoki call.
inline unsigned char* PointerOf(std::optional<std::vector<unsigned char>>& bytes) {
  // A zero-length string is still a pointer, never a null one.
  static unsigned char empty = 0;
  if (!bytes) return nullptr;
  return bytes->empty() ? &empty : bytes->data();
}

}  // namespace tarvona::socket_bridge
