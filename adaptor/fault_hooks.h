// How the fault build of the core wraps each entry point: fault check,
// argument capture, token-info overrides and the trace. Only compiled with
// TARVONA_ADAPTOR_FAULTS; the shipped core never includes it.
#pragma once

#include <algorithm>
#include <cstring>

#include "adaptor/cryptoki_functions.h"
#include "adaptor/fault_control.h"

namespace tarvona::adaptor::faults {

using Entry = tarvona_trace_entry;
using List = CK_FUNCTION_LIST;

// True, with the injected code in *rv, when a fault is due for this call.
bool Due(int generation, const char* function, CK_RV* rv) noexcept;
void Record(const Entry& entry) noexcept;
void OverrideTokenInfo(int generation, CK_TOKEN_INFO* info) noexcept;

inline void SetName(Entry& e, const char* function) {
  std::strncpy(e.function, function, sizeof e.function - 1);
}

inline void CopyBytes(Entry& e, const void* data, CK_ULONG length, CK_ULONG at = 0) {
  if (data == nullptr || at >= sizeof e.bytes) return;
  const CK_ULONG n = std::min<CK_ULONG>(length, sizeof e.bytes - at);
  std::memcpy(e.bytes + at, data, n);
  e.bytes_len = at + n;
}

// Output capacity on entry; 0 for a length query without a buffer.
inline CK_ULONG Capacity(const void* out, const CK_ULONG* out_len) {
  return out != nullptr && out_len != nullptr ? *out_len : 0;
}

inline void CaptureTemplate(Entry& e, const CK_ATTRIBUTE* attributes, CK_ULONG count,
                            bool value_is_input) {
  e.count = count;
  if (attributes == nullptr || count == 0) return;
  e.attribute = attributes[0].type;
  if (value_is_input) {
    if (attributes[0].ulValueLen != CK_UNAVAILABLE_INFORMATION) {
      CopyBytes(e, attributes[0].pValue, attributes[0].ulValueLen);
    }
  } else if (attributes[0].pValue != nullptr) {
    e.length2 = attributes[0].ulValueLen;
  }
}

// Key arguments of a call, taken on entry. Functions not listed record only
// their slot or session.
template <auto kMember>
struct Arguments {
  template <typename... Args>
  static void Before(Entry&, Args...) {}
};
// Results worth recording, taken after a successful call.
template <auto kMember>
struct Results {
  template <typename... Args>
  static void After(Entry&, Args...) {}
};

#define TARVONA_BEFORE(name, ...) \
  template <>                     \
  struct Arguments<&List::name> { \
    static void Before(Entry& e, __VA_ARGS__)
#define TARVONA_END \
  }                 \
  ;

TARVONA_BEFORE(C_GetSlotList, CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
  e.flags = present;
  e.length2 = Capacity(list, count);
}
TARVONA_END
TARVONA_BEFORE(C_InitToken, CK_SLOT_ID, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len,
               CK_UTF8CHAR_PTR label) {
  e.length = pin_len;
  CopyBytes(e, label, 32);
}
TARVONA_END
TARVONA_BEFORE(C_InitPIN, CK_SESSION_HANDLE, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len) {
  e.length = pin_len;
  CopyBytes(e, pin, pin_len);
}
TARVONA_END
// Old PIN first, the new one straight after it.
TARVONA_BEFORE(C_SetPIN, CK_SESSION_HANDLE, CK_UTF8CHAR_PTR old_pin, CK_ULONG old_len,
               CK_UTF8CHAR_PTR new_pin, CK_ULONG new_len) {
  e.length = old_len;
  e.length2 = new_len;
  CopyBytes(e, old_pin, old_len);
  CopyBytes(e, new_pin, new_len, e.bytes_len);
}
TARVONA_END
TARVONA_BEFORE(C_OpenSession, CK_SLOT_ID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
               CK_SESSION_HANDLE_PTR) {
  e.flags = flags;
}
TARVONA_END
TARVONA_BEFORE(C_Login, CK_SESSION_HANDLE, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin,
               CK_ULONG pin_len) {
  e.user_type = user;
  e.length = pin_len;
  CopyBytes(e, pin, pin_len);
}
TARVONA_END
TARVONA_BEFORE(C_CreateObject, CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
               CK_OBJECT_HANDLE_PTR) {
  CaptureTemplate(e, attributes, count, true);
}
TARVONA_END
TARVONA_BEFORE(C_FindObjectsInit, CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR attributes,
               CK_ULONG count) {
  CaptureTemplate(e, attributes, count, true);
}
TARVONA_END
TARVONA_BEFORE(C_FindObjects, CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR, CK_ULONG max,
               CK_ULONG_PTR) {
  e.count = max;
}
TARVONA_END
// The first value is an output here: its capacity goes to length2.
TARVONA_BEFORE(C_GetAttributeValue, CK_SESSION_HANDLE, CK_OBJECT_HANDLE object,
               CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  e.object = object;
  CaptureTemplate(e, attributes, count, false);
}
TARVONA_END
TARVONA_BEFORE(C_SetAttributeValue, CK_SESSION_HANDLE, CK_OBJECT_HANDLE object,
               CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  e.object = object;
  CaptureTemplate(e, attributes, count, true);
}
TARVONA_END
TARVONA_BEFORE(C_DestroyObject, CK_SESSION_HANDLE, CK_OBJECT_HANDLE object) { e.object = object; }
TARVONA_END
TARVONA_BEFORE(C_DigestInit, CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism) {
  if (mechanism != nullptr) e.mechanism = mechanism->mechanism;
}
TARVONA_END
TARVONA_BEFORE(C_DigestKey, CK_SESSION_HANDLE, CK_OBJECT_HANDLE key) { e.object = key; }
TARVONA_END
TARVONA_BEFORE(C_Verify, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length, CK_BYTE_PTR,
               CK_ULONG signature_length) {
  e.length = length;
  e.length2 = signature_length;
}
TARVONA_END
TARVONA_BEFORE(C_GenerateRandom, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length) {
  e.length = length;
}
TARVONA_END

// (session, mechanism, key)
#define TARVONA_KEYED_INIT(name)                                                     \
  TARVONA_BEFORE(name, CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) { \
    if (mechanism != nullptr) e.mechanism = mechanism->mechanism;                    \
    e.object = key;                                                                  \
  }                                                                                  \
  TARVONA_END
TARVONA_KEYED_INIT(C_EncryptInit)
TARVONA_KEYED_INIT(C_DecryptInit)
TARVONA_KEYED_INIT(C_SignInit)
TARVONA_KEYED_INIT(C_SignRecoverInit)
TARVONA_KEYED_INIT(C_VerifyInit)
TARVONA_KEYED_INIT(C_VerifyRecoverInit)
#undef TARVONA_KEYED_INIT

// (session, input, input length, output, output capacity)
#define TARVONA_ONE_SHOT(name)                                                         \
  TARVONA_BEFORE(name, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length, CK_BYTE_PTR out, \
                 CK_ULONG_PTR out_len) {                                               \
    e.length = length;                                                                 \
    e.length2 = Capacity(out, out_len);                                                \
  }                                                                                    \
  TARVONA_END
TARVONA_ONE_SHOT(C_Encrypt)
TARVONA_ONE_SHOT(C_Decrypt)
TARVONA_ONE_SHOT(C_Digest)
TARVONA_ONE_SHOT(C_Sign)
TARVONA_ONE_SHOT(C_SignRecover)
TARVONA_ONE_SHOT(C_VerifyRecover)
#undef TARVONA_ONE_SHOT

// (session, output, output capacity)
#define TARVONA_FINAL(name)                                                          \
  TARVONA_BEFORE(name, CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {   \
    e.length2 = Capacity(out, out_len);                                              \
  }                                                                                  \
  TARVONA_END
TARVONA_FINAL(C_EncryptFinal)
TARVONA_FINAL(C_DecryptFinal)
TARVONA_FINAL(C_DigestFinal)
TARVONA_FINAL(C_SignFinal)
#undef TARVONA_FINAL

// (session, part, part length)
#define TARVONA_UPDATE(name)                                                 \
  TARVONA_BEFORE(name, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length) {    \
    e.length = length;                                                       \
  }                                                                          \
  TARVONA_END
TARVONA_UPDATE(C_DigestUpdate)
TARVONA_UPDATE(C_SignUpdate)
TARVONA_UPDATE(C_VerifyUpdate)
#undef TARVONA_UPDATE
#undef TARVONA_BEFORE
#undef TARVONA_END

template <>
struct Results<&List::C_OpenSession> {
  static void After(Entry& e, CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY,
                    CK_SESSION_HANDLE_PTR session) {
    e.session = *session;
  }
};
template <>
struct Results<&List::C_CreateObject> {
  static void After(Entry& e, CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                    CK_OBJECT_HANDLE_PTR object) {
    if (object != nullptr) e.object = *object;
  }
};

// Runs one call of `kMember` for `generation`: an injected fault, or `run`
// (the shipped behaviour), recorded in the trace either way.
template <auto kMember, typename Run, typename... Args>
CK_RV Observe(int generation, Run run, Args... args) noexcept {
  using Function = Traits<kMember>;
  Entry entry{};
  entry.generation = generation;
  SetName(entry, Function::kName);
  if constexpr (Function::kTakes == Takes::kSlot) entry.slot = FirstOf(args...);
  if constexpr (Function::kTakes == Takes::kSession) entry.session = FirstOf(args...);
  Arguments<kMember>::Before(entry, args...);

  CK_RV rv = CKR_OK;
  if (Due(generation, Function::kName, &rv)) {
    if constexpr (kSameMember<kMember, &List::C_GetFunctionList>) {
      CK_FUNCTION_LIST_PTR_PTR list = FirstOf(args...);
      if (rv == CKR_OK && list != nullptr) *list = nullptr;
    }
  } else {
    rv = run();
    if (rv == CKR_OK) {
      if constexpr (kSameMember<kMember, &List::C_GetTokenInfo>) {
        OverrideTokenInfo(generation, std::get<1>(std::tuple<Args...>(args...)));
      }
      Results<kMember>::After(entry, args...);
    }
  }
  entry.rv = rv;
  Record(entry);
  return rv;
}

}  // namespace tarvona::adaptor::faults
