#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dynamic_library.h"
#include "token/cryptoki.h"

namespace tarvona {

// Binds one Cryptoki module file: loads it, takes its function list and the
// vendor's auxiliary table, initialises it, and holds at most one session on
// one slot. Every token operation reaches the token through this class.
class CCryptokiModule {
 public:
  static constexpr size_t kSerialSize = sizeof(CK_TOKEN_INFO::serialNumber);  // 16
  static constexpr CK_SLOT_ID kNoSlot = ~CK_SLOT_ID{0};

  explicit CCryptokiModule(
      const platform::LibraryLoader& loader = platform::SystemLibraryLoader());
  virtual ~CCryptokiModule();
  CCryptokiModule(const CCryptokiModule&) = delete;
  CCryptokiModule& operator=(const CCryptokiModule&) = delete;

  // Lifecycle. Load returns 0, 1001 (file not loadable) or 1002 (entry point
  // missing or failing, C_Initialize refused). Each step is skipped when its
  // result is already held; C_Initialize runs every time.
  int32_t Load(std::string_view file_name);
  void Unload();
  // Ready: function list and auxiliary table both held.
  bool IsReady() const { return functions_ != nullptr && aux_table_ != nullptr; }

  // Slot operations. A binding that is not ready is loaded again first, by
  // the file name of the first load.
  int32_t Connect();
  int32_t Disconnect();
  // The 16-byte serial number field of the first present token, blanks kept.
  int32_t RetrieveSerial(std::array<char, kSerialSize>& serial);
  // The serial numbers of all present tokens, joined by ",". On 1003 the
  // list is left as it was.
  int32_t RetrieveAllSerials(std::string& list);

  CK_SESSION_HANDLE session() const { return session_; }
  CK_SLOT_ID slot() const { return slot_id_; }

 private:
  // Runs `visit(slot, info)` for each present token, in slot-list order,
  // whose C_GetTokenInfo succeeds, until it returns false. Result: 0, the
  // load failure, or 1003 when the slot list fails or is empty.
  template <typename Visit>
  int32_t ScanSlots(Visit visit);
  // Session operations need a ready binding and, unless stated, a session.
  bool HasSession() const { return IsReady() && session_ != 0; }

  const platform::LibraryLoader& loader_;
  std::unique_ptr<platform::DynamicLibrary> library_;
  CK_FUNCTION_LIST_PTR functions_ = nullptr;
  void* aux_table_ = nullptr;
  bool initialized_ = false;  // this binding counts as a user of the instance
  CK_SLOT_ID slot_id_ = kNoSlot;
  CK_SESSION_HANDLE session_ = 0;
  std::string file_name_;
};

}  // namespace tarvona
