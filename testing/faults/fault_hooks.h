// How the fault build of the adaptor core wraps each entry point: fault
// check, argument capture, token-info overrides and the trace. The fault
// core compiles adaptor/adaptor_core.cpp with this header as its observer
// (TARVONA_ADAPTOR_OBSERVER); the shipped core never includes it.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "adaptor/cryptoki_functions.h"
#include "testing/faults/fault_control.h"

namespace tarvona::adaptor::faults {

using Entry = tarvona_trace_entry;
using List = CK_FUNCTION_LIST;

// True, with the injected code in *rv, when a fault is due for this call.
bool Due(int generation, const char* function, CK_RV* rv) noexcept;
void Record(const Entry& entry) noexcept;
void OverrideTokenInfo(int generation, CK_TOKEN_INFO* info) noexcept;
// Whether the generation presents large object handles
// (tarvona_fault_large_handles), and the two directions of its mapping.
bool LargeHandles(int generation) noexcept;
// Whether the generation's tokens are write-protected
// (tarvona_fault_write_protected).
bool WriteProtected(int generation) noexcept;
// Whether the generation's tokens sit behind a keypad (tarvona_fault_pin_pad),
// and the next PIN typed there: false when none is left.
bool PinPad(int generation) noexcept;
bool NextTypedPin(int generation, std::string& pin) noexcept;
// Applies tarvona_fault_attribute_length to the entries of a length query.
void OverrideAttributeLengths(int generation, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) noexcept;

inline constexpr CK_OBJECT_HANDLE kLargeHandleBase = 0x55D6B3D20000;

inline CK_OBJECT_HANDLE ToCaller(CK_OBJECT_HANDLE backend) {
  return backend == CK_INVALID_HANDLE ? backend : kLargeHandleBase + (backend << 4);
}
// Anything but a value ToCaller gives names no object: a handle the caller
// cut short must never reach another object.
inline CK_OBJECT_HANDLE ToBackend(CK_OBJECT_HANDLE caller) {
  if (caller < kLargeHandleBase || (caller - kLargeHandleBase) % 16 != 0) {
    return CK_INVALID_HANDLE;
  }
  return (caller - kLargeHandleBase) >> 4;
}

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

// Shapes shared by several functions.
struct KeyedInit {  // (session, mechanism, key)
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism,
                     CK_OBJECT_HANDLE key) {
    if (mechanism != nullptr) e.mechanism = mechanism->mechanism;
    e.object = key;
  }
};
struct OneShot {  // (session, input, input length, output, output capacity)
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length, CK_BYTE_PTR out,
                     CK_ULONG_PTR out_len) {
    e.length = length;
    e.length2 = Capacity(out, out_len);
    e.no_output = out == nullptr;
  }
};
struct Final {  // (session, output, output capacity)
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
    e.length2 = Capacity(out, out_len);
    e.no_output = out == nullptr;
  }
};
struct Update {  // (session, part, part length)
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length) {
    e.length = length;
  }
};
struct ObjectOnly {  // (session, object)
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_OBJECT_HANDLE object) { e.object = object; }
};

// clang-format off
template <> struct Arguments<&List::C_EncryptInit> : KeyedInit {};
template <> struct Arguments<&List::C_DecryptInit> : KeyedInit {};
template <> struct Arguments<&List::C_SignInit> : KeyedInit {};
template <> struct Arguments<&List::C_SignRecoverInit> : KeyedInit {};
template <> struct Arguments<&List::C_VerifyInit> : KeyedInit {};
template <> struct Arguments<&List::C_VerifyRecoverInit> : KeyedInit {};
template <> struct Arguments<&List::C_Encrypt> : OneShot {};
template <> struct Arguments<&List::C_Decrypt> : OneShot {};
template <> struct Arguments<&List::C_Digest> : OneShot {};
template <> struct Arguments<&List::C_Sign> : OneShot {};
template <> struct Arguments<&List::C_SignRecover> : OneShot {};
template <> struct Arguments<&List::C_VerifyRecover> : OneShot {};
template <> struct Arguments<&List::C_EncryptFinal> : Final {};
template <> struct Arguments<&List::C_DecryptFinal> : Final {};
template <> struct Arguments<&List::C_DigestFinal> : Final {};
template <> struct Arguments<&List::C_SignFinal> : Final {};
template <> struct Arguments<&List::C_DigestUpdate> : Update {};
template <> struct Arguments<&List::C_SignUpdate> : Update {};
template <> struct Arguments<&List::C_VerifyUpdate> : Update {};
template <> struct Arguments<&List::C_GenerateRandom> : Update {};
template <> struct Arguments<&List::C_DestroyObject> : ObjectOnly {};
template <> struct Arguments<&List::C_DigestKey> : ObjectOnly {};
// clang-format on

template <>
struct Arguments<&List::C_GetSlotList> {
  static void Before(Entry& e, CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    e.flags = present;
    e.length2 = Capacity(list, count);
  }
};
template <>
struct Arguments<&List::C_InitToken> {
  static void Before(Entry& e, CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG pin_len,
                     CK_UTF8CHAR_PTR label) {
    e.length = pin_len;
    CopyBytes(e, label, 32);
  }
};
template <>
struct Arguments<&List::C_InitPIN> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_UTF8CHAR_PTR pin, CK_ULONG pin_len) {
    e.length = pin_len;
    e.null_pin = pin == nullptr;
    CopyBytes(e, pin, pin_len);
  }
};
// Old PIN first, the new one straight after it.
template <>
struct Arguments<&List::C_SetPIN> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_UTF8CHAR_PTR old_pin, CK_ULONG old_len,
                     CK_UTF8CHAR_PTR new_pin, CK_ULONG new_len) {
    e.length = old_len;
    e.length2 = new_len;
    e.null_pin = old_pin == nullptr || new_pin == nullptr;
    CopyBytes(e, old_pin, old_len);
    CopyBytes(e, new_pin, new_len, e.bytes_len);
  }
};
template <>
struct Arguments<&List::C_OpenSession> {
  static void Before(Entry& e, CK_SLOT_ID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                     CK_SESSION_HANDLE_PTR) {
    e.flags = flags;
  }
};
template <>
struct Arguments<&List::C_Login> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin,
                     CK_ULONG pin_len) {
    e.user_type = user;
    e.length = pin_len;
    e.null_pin = pin == nullptr;
    CopyBytes(e, pin, pin_len);
  }
};
template <>
struct Arguments<&List::C_CreateObject> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                     CK_OBJECT_HANDLE_PTR) {
    CaptureTemplate(e, attributes, count, true);
  }
};
template <>
struct Arguments<&List::C_FindObjectsInit> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    CaptureTemplate(e, attributes, count, true);
  }
};
template <>
struct Arguments<&List::C_FindObjects> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR, CK_ULONG max,
                     CK_ULONG_PTR) {
    e.count = max;
  }
};
// The first value is an output here: its capacity goes to length2.
template <>
struct Arguments<&List::C_GetAttributeValue> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_OBJECT_HANDLE object,
                     CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    e.object = object;
    CaptureTemplate(e, attributes, count, false);
  }
};
template <>
struct Arguments<&List::C_SetAttributeValue> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_OBJECT_HANDLE object,
                     CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    e.object = object;
    CaptureTemplate(e, attributes, count, true);
  }
};
template <>
struct Arguments<&List::C_GetObjectSize> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ULONG_PTR) {
    e.object = object;
  }
};
template <>
struct Arguments<&List::C_Verify> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG length, CK_BYTE_PTR,
                     CK_ULONG signature_length) {
    e.length = length;
    e.length2 = signature_length;
  }
};
template <>
struct Arguments<&List::C_DigestInit> {
  static void Before(Entry& e, CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism) {
    if (mechanism != nullptr) e.mechanism = mechanism->mechanism;
  }
};

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

// Which arguments carry object handles, as bit masks over argument
// positions: kIn the handles the caller passes, kOut the pointers a
// successful call fills with one handle.
template <unsigned kInMask, unsigned kOutMask = 0>
struct HandlesAt {
  static constexpr unsigned kIn = kInMask;
  static constexpr unsigned kOut = kOutMask;
};
template <auto kMember>
struct ObjectArguments : HandlesAt<0> {};
// clang-format off
template <> struct ObjectArguments<&List::C_EncryptInit> : HandlesAt<1u << 2> {};
template <> struct ObjectArguments<&List::C_DecryptInit> : HandlesAt<1u << 2> {};
template <> struct ObjectArguments<&List::C_SignInit> : HandlesAt<1u << 2> {};
template <> struct ObjectArguments<&List::C_SignRecoverInit> : HandlesAt<1u << 2> {};
template <> struct ObjectArguments<&List::C_VerifyInit> : HandlesAt<1u << 2> {};
template <> struct ObjectArguments<&List::C_VerifyRecoverInit> : HandlesAt<1u << 2> {};
template <> struct ObjectArguments<&List::C_DestroyObject> : HandlesAt<1u << 1> {};
template <> struct ObjectArguments<&List::C_GetObjectSize> : HandlesAt<1u << 1> {};
template <> struct ObjectArguments<&List::C_GetAttributeValue> : HandlesAt<1u << 1> {};
template <> struct ObjectArguments<&List::C_SetAttributeValue> : HandlesAt<1u << 1> {};
template <> struct ObjectArguments<&List::C_DigestKey> : HandlesAt<1u << 1> {};
template <> struct ObjectArguments<&List::C_CopyObject> : HandlesAt<1u << 1, 1u << 4> {};
template <> struct ObjectArguments<&List::C_CreateObject> : HandlesAt<0, 1u << 3> {};
template <> struct ObjectArguments<&List::C_GenerateKey> : HandlesAt<0, 1u << 4> {};
template <> struct ObjectArguments<&List::C_GenerateKeyPair> : HandlesAt<0, 3u << 6> {};
template <> struct ObjectArguments<&List::C_WrapKey> : HandlesAt<3u << 2> {};
template <> struct ObjectArguments<&List::C_UnwrapKey> : HandlesAt<1u << 2, 1u << 7> {};
template <> struct ObjectArguments<&List::C_DeriveKey> : HandlesAt<1u << 2, 1u << 5> {};
// clang-format on

template <bool kIsHandle, typename T>
T Inward(T value) {
  if constexpr (kIsHandle) {
    return ToBackend(value);
  } else {
    return value;
  }
}

template <bool kIsHandle, typename T>
void Outward(T value) {
  if constexpr (kIsHandle) {
    if (value != nullptr) *value = ToCaller(*value);
  }
}

// Runs `run` with the caller's handles mapped to the backend's, and maps
// the handles a successful call returns the other way.
template <auto kMember, typename Run, typename... Args, size_t... kIndex>
CK_RV RunWithLargeHandles(Run& run, std::index_sequence<kIndex...>, Args... args) {
  using Handles = ObjectArguments<kMember>;
  const CK_RV rv = run(Inward<((Handles::kIn >> kIndex) & 1u) != 0>(args)...);
  if (rv != CKR_OK) return rv;
  if constexpr (kSameMember<kMember, &List::C_FindObjects>) {
    const std::tuple<Args...> all(args...);
    CK_OBJECT_HANDLE_PTR found = std::get<1>(all);
    const CK_ULONG max = std::get<2>(all);
    CK_ULONG_PTR count = std::get<3>(all);
    if (found != nullptr && count != nullptr) {
      for (CK_ULONG i = 0; i < std::min(*count, max); ++i) found[i] = ToCaller(found[i]);
    }
  }
  (Outward<((Handles::kOut >> kIndex) & 1u) != 0>(args), ...);
  return rv;
}

template <auto kMember>
inline constexpr bool kTakesPins = kSameMember<kMember, &List::C_Login> ||
                                   kSameMember<kMember, &List::C_InitPIN> ||
                                   kSameMember<kMember, &List::C_SetPIN>;

// Runs a PIN call as a reader with a keypad would: a null PIN is typed
// there, and an empty one given by the caller is refused.
template <auto kMember, typename Run, typename... Args>
CK_RV RunWithPinPad(int generation, Run& run, Args... args) {
  std::tuple<Args...> all(args...);
  std::string typed[2];
  CK_RV rv = CKR_OK;
  auto enter = [&](CK_UTF8CHAR_PTR& pin, CK_ULONG& length, std::string& kept) {
    if (rv != CKR_OK) return;
    if (pin == nullptr) {
      if (!NextTypedPin(generation, kept)) {
        rv = CKR_FUNCTION_CANCELED;
        return;
      }
      pin = reinterpret_cast<CK_UTF8CHAR_PTR>(kept.data());
      length = kept.size();
    } else if (length == 0) {
      rv = CKR_PIN_LEN_RANGE;
    }
  };
  if constexpr (kSameMember<kMember, &List::C_Login>) {
    enter(std::get<2>(all), std::get<3>(all), typed[0]);
  } else if constexpr (kSameMember<kMember, &List::C_InitPIN>) {
    enter(std::get<1>(all), std::get<2>(all), typed[0]);
  } else {
    enter(std::get<1>(all), std::get<2>(all), typed[0]);
    enter(std::get<3>(all), std::get<4>(all), typed[1]);
  }
  return rv != CKR_OK ? rv : std::apply(run, all);
}

// Runs one call of `kMember` for `generation`: an injected fault, or
// `run(args...)` (the shipped behaviour), recorded in the trace either way.
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
    if constexpr (kTakesPins<kMember>) {
      rv = PinPad(generation) ? RunWithPinPad<kMember>(generation, run, args...) : run(args...);
    } else if constexpr (kSameMember<kMember, &List::C_OpenSession>) {
      const bool read_write = (std::get<1>(std::tuple<Args...>(args...)) & CKF_RW_SESSION) != 0;
      rv = read_write && WriteProtected(generation) ? CKR_TOKEN_WRITE_PROTECTED : run(args...);
    } else if constexpr (kSameMember<kMember, &List::C_InitToken>) {
      rv = WriteProtected(generation) ? CKR_TOKEN_WRITE_PROTECTED : run(args...);
    } else {
      rv = LargeHandles(generation)
               ? RunWithLargeHandles<kMember>(run, std::index_sequence_for<Args...>{}, args...)
               : run(args...);
    }
    if (rv == CKR_OK) {
      if constexpr (kSameMember<kMember, &List::C_GetTokenInfo>) {
        OverrideTokenInfo(generation, std::get<1>(std::tuple<Args...>(args...)));
      }
      if constexpr (kSameMember<kMember, &List::C_GetAttributeValue>) {
        const std::tuple<Args...> all(args...);
        OverrideAttributeLengths(generation, std::get<2>(all), std::get<3>(all));
      }
      Results<kMember>::After(entry, args...);
    }
  }
  entry.rv = rv;
  Record(entry);
  return rv;
}

// E_GetAuxFunctionList: an injected fault (CKR_OK with a null table), or
// `run()`, recorded in the trace either way.
template <typename Run>
CK_RV ObserveAux(int generation, void** table, Run run) noexcept {
  Entry entry{};
  entry.generation = generation;
  SetName(entry, "E_GetAuxFunctionList");
  if (Due(generation, entry.function, &entry.rv)) {
    if (entry.rv == CKR_OK) *table = nullptr;
  } else {
    entry.rv = run();
  }
  Record(entry);
  return entry.rv;
}

}  // namespace tarvona::adaptor::faults

// What the core calls through its observer seam.
namespace tarvona::adaptor::observer {
using faults::Observe;
using faults::ObserveAux;
}  // namespace tarvona::adaptor::observer
