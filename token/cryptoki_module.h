#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dynamic_library.h"
#include "token/cryptoki.h"
#include "token/cryptoki_call.h"
#include "token/object_numbers.h"
#include "token/token_survey.h"

namespace tarvona {

// Binds one Cryptoki module file: loads it, takes its function list and the
// vendor's auxiliary table, initialises it, and holds at most one session on
// one slot. Every token operation reaches the token through this class.
class CCryptokiModule {
 public:
  static constexpr size_t kSerialSize = sizeof(CK_TOKEN_INFO::serialNumber);  // 16
  static constexpr CK_SLOT_ID kNoSlot = ~CK_SLOT_ID{0};
  // The slot scan reads at most this many present tokens: a module with
  // more reports CKR_BUFFER_TOO_SMALL, which counts as a failed scan.
  static constexpr CK_ULONG kMostPresentTokens = 10;

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

  // Login and PIN administration on the open session. PINs and the label
  // go to the token as their bytes, without a terminator.
  int32_t Login(bool security_officer, std::string_view pin);
  int32_t Logout();
  int32_t ChangeSOPin(std::string_view old_pin, std::string_view new_pin);
  int32_t ChangeUserPin(std::string_view old_pin, std::string_view new_pin);
  int32_t UnblockUserPin(std::string_view so_pin, std::string_view new_user_pin);
  // Closes every session of the slot, initialises the token, sets the first
  // user PIN, and ends with no session held.
  int32_t InitializeToken(std::string_view so_pin, std::string_view user_pin,
                          std::string_view label);

  // Object lookup. Each search starts afresh, fetches one handle per
  // C_FindObjects call and always ends with C_FindObjectsFinal.
  int32_t FindCertificate(int32_t index, CK_OBJECT_HANDLE& object);
  int32_t FindPublicKey(int32_t index, CK_OBJECT_HANDLE& object);
  int32_t FindPrivateKey(int32_t index, CK_OBJECT_HANDLE& object);
  // `serial` is the bare content of the certificate's serial number.
  int32_t FindCertificateIdBySerial(std::span<const uint8_t> serial, std::vector<uint8_t>& id);
  int32_t FindPrivateKeyById(std::span<const uint8_t> id, CK_OBJECT_HANDLE& key);
  int32_t FindPublicKeyById(std::span<const uint8_t> id, CK_OBJECT_HANDLE& key);
  int32_t FindPrivateKeyBySerial(std::span<const uint8_t> serial, CK_OBJECT_HANDLE& key);
  int32_t FindPublicKeyBySerial(std::span<const uint8_t> serial, CK_OBJECT_HANDLE& key);
  // Attribute type 1 (CKA_VALUE), 2 (CKA_ID) or 3 (CKA_SERIAL_NUMBER).
  // Returns 1004 for another type, 1002 without a session, else the
  // module's own CK_RV of the read (0 with the value).
  CK_RV GetAttribute(CK_OBJECT_HANDLE object, int32_t type, std::vector<uint8_t>& value);

  // Single-part cryptography. `output` comes sized to the capacity the
  // token may fill and leaves sized to what it wrote. Hash type 0 is SHA-1,
  // 1 MD2, 2 MD5; for signing any other value means raw CKM_RSA_PKCS.
  int32_t DigestData(int32_t hash_type, std::span<const uint8_t> data,
                     std::vector<uint8_t>& output);
  int32_t SignData(CK_OBJECT_HANDLE key, int32_t hash_type, std::span<const uint8_t> data,
                   std::vector<uint8_t>& signature);
  int32_t VerifyData(CK_OBJECT_HANDLE key, int32_t hash_type, std::span<const uint8_t> data,
                     std::span<const uint8_t> signature);
  int32_t EncryptData(CK_OBJECT_HANDLE key, std::span<const uint8_t> data,
                      std::vector<uint8_t>& output);
  int32_t DecryptData(CK_OBJECT_HANDLE key, std::span<const uint8_t> data,
                      std::vector<uint8_t>& output);
  int32_t SignBySerial(std::span<const uint8_t> serial, int32_t hash_type,
                       std::span<const uint8_t> data, std::vector<uint8_t>& signature);
  int32_t VerifyBySerial(std::span<const uint8_t> serial, int32_t hash_type,
                         std::span<const uint8_t> data, std::span<const uint8_t> signature);

  // Every slot, its token and the mechanisms the binding uses, read
  // without a session (token_survey.cpp). Result: 0, the load failure, or
  // 1003 when the slot list fails.
  int32_t Survey(ModuleSurvey& survey);

  CK_SESSION_HANDLE session() const { return session_; }
  // The numbers script uses for this session's objects; emptied whenever
  // the session closes or changes.
  ObjectNumbers& objects() { return objects_; }

 private:
  // Runs `visit(slot, info)` for each present token, in slot-list order,
  // whose C_GetTokenInfo succeeds, until it returns false. Result: 0, the
  // load failure, or 1003 when the slot list fails or is empty.
  template <typename Visit>
  int32_t ScanSlots(Visit visit);
  // Session operations need a ready binding and, unless stated, a session.
  bool HasSession() const { return IsReady() && session_ != 0; }
  // Opens a session on `slot`: read/write, as every method may need, or,
  // on a token that is write-protected (a read-only card profile, a trust
  // store), read-only, which still serves reading and key use.
  CK_RV OpenSession(CK_SLOT_ID slot, CK_SESSION_HANDLE& fresh);
  // Whether the module says `session` is no more (its token went).
  bool SessionGone(CK_SESSION_HANDLE session);
  // A PIN as it goes to the token. On a token with its own keypad
  // (CKF_PROTECTED_AUTHENTICATION_PATH) an empty PIN is a null pointer and
  // length 0, which makes the reader ask for it.
  std::optional<CkInput> PinInput(std::string_view pin) const;
  int32_t ChangePin(CK_USER_TYPE user, std::string_view old_pin, std::string_view new_pin);
  // Every change of session goes through here, so object numbers never
  // outlive the session they were handed out in.
  void SetSession(CK_SESSION_HANDLE session);
  int32_t FindByIndex(CK_OBJECT_CLASS object_class, int32_t index, CK_OBJECT_HANDLE& object);
  int32_t FindKeyById(CK_OBJECT_CLASS key_class, std::span<const uint8_t> id,
                      CK_OBJECT_HANDLE& key);
  // The one road of C_Digest, C_Sign, C_Encrypt and C_Decrypt (they share
  // one shape): `init()` starts the operation, `run` finishes it into
  // `output`. The answer is mapped by `operation`.
  template <typename Init>
  int32_t RunSinglePart(Operation operation, Init init, CK_C_Digest run,
                        std::span<const uint8_t> data, std::vector<uint8_t>& output);
  void FinishRefusedOperation(CK_C_Digest run, const CkInput& input, CK_ULONG needed);
  // Swaps the session for a fresh one on the same slot, ending whatever
  // operation the old one held; keeps the old one (and returns false) if
  // none can be opened.
  bool ReplaceSession();
  // Runs an operation's Init. Cryptoki ends an operation whose call fails,
  // but some modules keep it active, and their session then answers every
  // later Init with CKR_OPERATION_ACTIVE: whatever left it so, a fresh
  // session on the same slot is free, and the Init runs once more there.
  // `init` reads `session_` when it runs.
  template <typename Init>
  CK_RV StartOperation(Init init) {
    CK_RV rv = init();
    if (rv == CKR_OPERATION_ACTIVE && ReplaceSession()) rv = init();
    return rv;
  }
  // One object search on the session (object_lookup.cpp).
  class ObjectSearch;

  const platform::LibraryLoader& loader_;
  std::unique_ptr<platform::DynamicLibrary> library_;
  CK_FUNCTION_LIST_PTR functions_ = nullptr;
  void* aux_table_ = nullptr;
  bool initialized_ = false;  // this binding counts as a user of the instance
  CK_SLOT_ID slot_id_ = kNoSlot;
  CK_SESSION_HANDLE session_ = 0;
  CK_FLAGS token_flags_ = 0;  // of the token connected to, from C_GetTokenInfo
  ObjectNumbers objects_;
  std::string file_name_;
};

}  // namespace tarvona
