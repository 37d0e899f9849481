// The token maker's module as a Windows program under 64-bit Wine sees it,
// for tests: a Winelib library (an ELF file that Wine loads as the DLL
// Tarvonav4.dll or Tarvonav5.dll from the prefix's system32) that shows the
// Windows Cryptoki ABI and forwards every call the control makes to our
// Linux adaptor of the same generation, loaded with dlopen. So SoftHSM2
// tokens, label filters and the adaptor's fault layer serve the Windows
// build as they serve the Linux one.
//
// Integers narrow from 64 to 32 bits on the way back, checked: a handle or
// slot ID that does not fit is an error, never cut into another one.
// Attribute values that are CK_ULONGs (or arrays of them) change size
// between the ABIs and are converted; every other value is bytes and passes
// as it is.

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "testing/faults/fault_control.h"
#include "testing/function_list_fill.h"
#include "windows_cryptoki.h"

#ifndef TARVONA_GENERATION
#error "build with TARVONA_GENERATION=4 or 5"
#endif
#ifndef TARVONA_BRIDGE_ADAPTORS
#error "build with TARVONA_BRIDGE_ADAPTORS, the folder of the Linux adaptors"
#endif

namespace {

#define STRINGIFY2(x) #x
#define STRINGIFY(x) STRINGIFY2(x)
constexpr char kModuleName[] = "Tarvonav" STRINGIFY(TARVONA_GENERATION) ".dll";

// The Linux adaptor of this generation: from the folder named by
// TARVONA_BRIDGE_ADAPTORS, else from the build that made the bridge. Loaded
// once and kept for the life of the process.
struct Backend {
  void* library = nullptr;
  CK_FUNCTION_LIST_PTR functions = nullptr;
};

const Backend& TheBackend() {
  static const Backend backend = [] {
    Backend loaded;
    const char* folder = std::getenv("TARVONA_BRIDGE_ADAPTORS");
    if (folder == nullptr || *folder == '\0') folder = TARVONA_BRIDGE_ADAPTORS;
    // No allocation: nothing may be thrown into the Windows caller.
    char path[4096];
    const int length = std::snprintf(path, sizeof path, "%s/%s", folder, kModuleName);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) {
      std::fprintf(stderr, "%s (Wine bridge): adaptor folder name too long\n", kModuleName);
      return loaded;
    }
    loaded.library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (loaded.library == nullptr) {
      std::fprintf(stderr, "%s (Wine bridge): %s\n", kModuleName, dlerror());
      return loaded;
    }
    auto get_list =
        reinterpret_cast<CK_C_GetFunctionList>(dlsym(loaded.library, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (get_list != nullptr && get_list(&list) == CKR_OK) loaded.functions = list;
    return loaded;
  }();
  return backend;
}

CK_FUNCTION_LIST& F() { return *TheBackend().functions; }

// The calls that end what a caller holds, one line each ("Tarvonav4.dll
// C_Finalize") appended to the file TARVONA_BRIDGE_LOG names: a test sees
// from outside whether a program released its sessions and modules before
// it ended.
void LogEnding(const char* function) {
  const char* file = std::getenv("TARVONA_BRIDGE_LOG");
  if (file == nullptr || *file == '\0') return;
  if (FILE* out = std::fopen(file, "a")) {
    std::fprintf(out, "%s %s\n", kModuleName, function);
    std::fclose(out);
  }
}

// A return value as the Windows caller gets it: every defined CK_RV,
// vendor-defined ones included, fits 32 bits.
win::CK_RV Rv(CK_RV rv) {
  return rv <= std::numeric_limits<win::CK_RV>::max() ? static_cast<win::CK_RV>(rv)
                                                      : static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
}

// A handle, slot ID or length back to the 32-bit side; false when it does
// not fit.
bool Narrow(CK_ULONG value, win::CK_ULONG& out) {
  if (value > std::numeric_limits<win::CK_ULONG>::max()) return false;
  out = static_cast<win::CK_ULONG>(value);
  return true;
}

// A length or counter of an information structure or an attribute: "not
// available" stays so, and so becomes any value the 32-bit side cannot
// hold.
win::CK_ULONG NarrowInformation(CK_ULONG value) {
  win::CK_ULONG out = 0;
  return Narrow(value, out) ? out : static_cast<win::CK_ULONG>(CK_UNAVAILABLE_INFORMATION);
}

// Runs a forwarder; nothing may be thrown across the Windows caller's frames.
template <typename Body>
win::CK_RV Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return static_cast<win::CK_RV>(CKR_HOST_MEMORY);
  } catch (...) {
    return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
  }
}

// Attributes whose value is a CK_ULONG or an array of them.
bool HoldsUlongs(CK_ATTRIBUTE_TYPE type) {
  switch (type) {
    case CKA_CLASS:
    case CKA_CERTIFICATE_TYPE:
    case CKA_ATTR_TYPES:
    case CKA_CERTIFICATE_CATEGORY:
    case CKA_JAVA_MIDP_SECURITY_DOMAIN:
    case CKA_NAME_HASH_ALGORITHM:
    case CKA_KEY_TYPE:
    case CKA_MODULUS_BITS:
    case CKA_PRIME_BITS:
    case CKA_SUB_PRIME_BITS:
    case CKA_VALUE_BITS:
    case CKA_VALUE_LEN:
    case CKA_KEY_GEN_MECHANISM:
    case CKA_OTP_FORMAT:
    case CKA_OTP_LENGTH:
    case CKA_OTP_TIME_INTERVAL:
    case CKA_OTP_CHALLENGE_REQUIREMENT:
    case CKA_OTP_TIME_REQUIREMENT:
    case CKA_OTP_COUNTER_REQUIREMENT:
    case CKA_OTP_PIN_REQUIREMENT:
    case CKA_HW_FEATURE_TYPE:
    case CKA_PIXEL_X:
    case CKA_PIXEL_Y:
    case CKA_RESOLUTION:
    case CKA_CHAR_ROWS:
    case CKA_CHAR_COLUMNS:
    case CKA_BITS_PER_PIXEL:
    case CKA_MECHANISM_TYPE:
    case CKA_ALLOWED_MECHANISMS:
      return true;
    default:
      return false;
  }
}

// Attributes holding templates of their own: not translated, refused.
bool HoldsTemplate(CK_ATTRIBUTE_TYPE type) {
  return type == CKA_WRAP_TEMPLATE || type == CKA_UNWRAP_TEMPLATE || type == CKA_DERIVE_TEMPLATE;
}

constexpr size_t kWinUlong = sizeof(win::CK_ULONG);

// A template as the Linux module takes it, with the CK_ULONG values it
// points to.
class LinuxTemplate {
 public:
  // Sets `rv` (else left alone) when the template cannot be translated.
  // With `for_output`, the values are areas to fill rather than values.
  LinuxTemplate(const win::CK_ATTRIBUTE* entries, win::CK_ULONG count, bool for_output, CK_RV& rv) {
    size_t ulongs = 1;  // never an empty vector: a null area reads as a length query
    for (win::CK_ULONG i = 0; i < count; ++i) {
      if (HoldsTemplate(entries[i].type)) {
        rv = CKR_ATTRIBUTE_TYPE_INVALID;
        return;
      }
      if (HoldsUlongs(entries[i].type)) ulongs += entries[i].ulValueLen / kWinUlong;
    }
    ulongs_.resize(ulongs);
    attributes_.resize(count);
    size_t next = 0;
    for (win::CK_ULONG i = 0; i < count; ++i) {
      const win::CK_ATTRIBUTE& in = entries[i];
      CK_ATTRIBUTE& out = attributes_[i];
      out.type = in.type;
      if (!HoldsUlongs(in.type) || in.pValue == nullptr) {
        out.pValue = in.pValue;
        out.ulValueLen = in.ulValueLen;
        continue;
      }
      const size_t n = in.ulValueLen / kWinUlong;
      if (!for_output && in.ulValueLen % kWinUlong != 0) {
        rv = CKR_ATTRIBUTE_VALUE_INVALID;
        return;
      }
      for (size_t k = 0; k < n && !for_output; ++k) {
        win::CK_ULONG value = 0;
        std::memcpy(&value, static_cast<const unsigned char*>(in.pValue) + k * kWinUlong,
                    kWinUlong);
        ulongs_[next + k] = value;
      }
      out.pValue = &ulongs_[next];
      out.ulValueLen = n * sizeof(CK_ULONG);
      next += n;
    }
  }

  CK_ATTRIBUTE_PTR data() { return attributes_.data(); }
  const CK_ATTRIBUTE& operator[](size_t i) const { return attributes_[i]; }

 private:
  std::vector<CK_ATTRIBUTE> attributes_;
  std::vector<CK_ULONG> ulongs_;
};

// The Windows list's entries. Each is a Microsoft x64 function; session,
// object and slot handles arrive 32 bits wide and widen without loss.

TARVONA_MS_ABI win::CK_RV NotSupported() {
  return static_cast<win::CK_RV>(CKR_FUNCTION_NOT_SUPPORTED);
}

TARVONA_MS_ABI win::CK_RV Initialize(void* args) {
  if (args == nullptr) return Rv(F().C_Initialize(nullptr));
  const auto* in = static_cast<const win::CK_C_INITIALIZE_ARGS*>(args);
  if (in->pReserved != nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  const int callbacks = (in->CreateMutex != nullptr) + (in->DestroyMutex != nullptr) +
                        (in->LockMutex != nullptr) + (in->UnlockMutex != nullptr);
  if (callbacks != 0 && callbacks != 4) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  // The caller's mutex functions are Windows functions the Linux side
  // cannot call; it locks with the system's own.
  CK_C_INITIALIZE_ARGS out{};
  out.flags = in->flags | (callbacks != 0 ? CKF_OS_LOCKING_OK : 0);
  return Rv(F().C_Initialize(&out));
}

TARVONA_MS_ABI win::CK_RV Finalize(void* reserved) {
  LogEnding("C_Finalize");
  return Rv(F().C_Finalize(reserved));
}

TARVONA_MS_ABI win::CK_RV GetSlotList(win::CK_BBOOL present, win::CK_SLOT_ID_PTR list,
                                      win::CK_ULONG_PTR count) {
  if (count == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  return Guarded([&] {
    CK_ULONG n = *count;
    std::vector<CK_SLOT_ID> slots(list != nullptr ? n + 1 : 0);
    const CK_RV rv = F().C_GetSlotList(present, list != nullptr ? slots.data() : nullptr, &n);
    if (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL) return Rv(rv);
    win::CK_ULONG narrowed = 0;
    if (!Narrow(n, narrowed)) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
    if (rv == CKR_OK && list != nullptr) {
      if (n > *count) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
      for (CK_ULONG i = 0; i < n; ++i) {
        if (!Narrow(slots[i], list[i])) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
      }
    }
    *count = narrowed;
    return Rv(rv);
  });
}

void CopyVersion(const CK_VERSION& in, win::CK_VERSION& out) {
  out.major = in.major;
  out.minor = in.minor;
}

TARVONA_MS_ABI win::CK_RV GetTokenInfo(win::CK_SLOT_ID slot, win::CK_TOKEN_INFO_PTR info) {
  if (info == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  CK_TOKEN_INFO in{};
  const CK_RV rv = F().C_GetTokenInfo(slot, &in);
  if (rv != CKR_OK) return Rv(rv);
  static_assert(sizeof in.label == sizeof info->label && sizeof in.utcTime == sizeof info->utcTime);
  std::memcpy(info->label, in.label, sizeof info->label);
  std::memcpy(info->manufacturerID, in.manufacturerID, sizeof info->manufacturerID);
  std::memcpy(info->model, in.model, sizeof info->model);
  std::memcpy(info->serialNumber, in.serialNumber, sizeof info->serialNumber);
  info->flags = NarrowInformation(in.flags);
  info->ulMaxSessionCount = NarrowInformation(in.ulMaxSessionCount);
  info->ulSessionCount = NarrowInformation(in.ulSessionCount);
  info->ulMaxRwSessionCount = NarrowInformation(in.ulMaxRwSessionCount);
  info->ulRwSessionCount = NarrowInformation(in.ulRwSessionCount);
  info->ulMaxPinLen = NarrowInformation(in.ulMaxPinLen);
  info->ulMinPinLen = NarrowInformation(in.ulMinPinLen);
  info->ulTotalPublicMemory = NarrowInformation(in.ulTotalPublicMemory);
  info->ulFreePublicMemory = NarrowInformation(in.ulFreePublicMemory);
  info->ulTotalPrivateMemory = NarrowInformation(in.ulTotalPrivateMemory);
  info->ulFreePrivateMemory = NarrowInformation(in.ulFreePrivateMemory);
  CopyVersion(in.hardwareVersion, info->hardwareVersion);
  CopyVersion(in.firmwareVersion, info->firmwareVersion);
  std::memcpy(info->utcTime, in.utcTime, sizeof info->utcTime);
  return static_cast<win::CK_RV>(CKR_OK);
}

TARVONA_MS_ABI win::CK_RV GetInfo(win::CK_INFO_PTR info) {
  if (info == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  CK_INFO in{};
  const CK_RV rv = F().C_GetInfo(&in);
  if (rv != CKR_OK) return Rv(rv);
  CopyVersion(in.cryptokiVersion, info->cryptokiVersion);
  std::memcpy(info->manufacturerID, in.manufacturerID, sizeof info->manufacturerID);
  info->flags = NarrowInformation(in.flags);
  std::memcpy(info->libraryDescription, in.libraryDescription, sizeof info->libraryDescription);
  CopyVersion(in.libraryVersion, info->libraryVersion);
  return static_cast<win::CK_RV>(CKR_OK);
}

TARVONA_MS_ABI win::CK_RV GetSlotInfo(win::CK_SLOT_ID slot, win::CK_SLOT_INFO_PTR info) {
  if (info == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  CK_SLOT_INFO in{};
  const CK_RV rv = F().C_GetSlotInfo(slot, &in);
  if (rv != CKR_OK) return Rv(rv);
  std::memcpy(info->slotDescription, in.slotDescription, sizeof info->slotDescription);
  std::memcpy(info->manufacturerID, in.manufacturerID, sizeof info->manufacturerID);
  info->flags = NarrowInformation(in.flags);
  CopyVersion(in.hardwareVersion, info->hardwareVersion);
  CopyVersion(in.firmwareVersion, info->firmwareVersion);
  return static_cast<win::CK_RV>(CKR_OK);
}

TARVONA_MS_ABI win::CK_RV GetMechanismList(win::CK_SLOT_ID slot, win::CK_MECHANISM_TYPE_PTR list,
                                           win::CK_ULONG_PTR count) {
  if (count == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  return Guarded([&] {
    CK_ULONG n = *count;
    std::vector<CK_MECHANISM_TYPE> types(list != nullptr ? n + 1 : 0);
    const CK_RV rv = F().C_GetMechanismList(slot, list != nullptr ? types.data() : nullptr, &n);
    if (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL) return Rv(rv);
    win::CK_ULONG narrowed = 0;
    if (!Narrow(n, narrowed)) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
    if (rv == CKR_OK && list != nullptr) {
      if (n > *count) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
      // Vendor mechanisms above 32 bits have no Windows number: left out.
      win::CK_ULONG kept = 0;
      for (CK_ULONG i = 0; i < n; ++i) {
        if (Narrow(types[i], list[kept])) ++kept;
      }
      narrowed = kept;
    }
    *count = narrowed;
    return Rv(rv);
  });
}

TARVONA_MS_ABI win::CK_RV GetMechanismInfo(win::CK_SLOT_ID slot, win::CK_MECHANISM_TYPE type,
                                           win::CK_MECHANISM_INFO_PTR info) {
  if (info == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  CK_MECHANISM_INFO in{};
  const CK_RV rv = F().C_GetMechanismInfo(slot, type, &in);
  if (rv != CKR_OK) return Rv(rv);
  info->ulMinKeySize = NarrowInformation(in.ulMinKeySize);
  info->ulMaxKeySize = NarrowInformation(in.ulMaxKeySize);
  info->flags = NarrowInformation(in.flags);
  return static_cast<win::CK_RV>(CKR_OK);
}

TARVONA_MS_ABI win::CK_RV InitToken(win::CK_SLOT_ID slot, win::CK_UTF8CHAR_PTR pin,
                                    win::CK_ULONG pin_len, win::CK_UTF8CHAR_PTR label) {
  return Rv(F().C_InitToken(slot, pin, pin_len, label));
}

TARVONA_MS_ABI win::CK_RV InitPin(win::CK_SESSION_HANDLE session, win::CK_UTF8CHAR_PTR pin,
                                  win::CK_ULONG pin_len) {
  return Rv(F().C_InitPIN(session, pin, pin_len));
}

TARVONA_MS_ABI win::CK_RV SetPin(win::CK_SESSION_HANDLE session, win::CK_UTF8CHAR_PTR old_pin,
                                 win::CK_ULONG old_len, win::CK_UTF8CHAR_PTR new_pin,
                                 win::CK_ULONG new_len) {
  return Rv(F().C_SetPIN(session, old_pin, old_len, new_pin, new_len));
}

// The caller's notify callback is a Windows function the Linux side cannot
// call: sessions open without one.
TARVONA_MS_ABI win::CK_RV OpenSession(win::CK_SLOT_ID slot, win::CK_FLAGS flags, void* application,
                                      win::CK_NOTIFY, win::CK_SESSION_HANDLE_PTR session) {
  if (session == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  CK_SESSION_HANDLE opened = CK_INVALID_HANDLE;
  const CK_RV rv = F().C_OpenSession(slot, flags, application, nullptr, &opened);
  if (rv != CKR_OK) return Rv(rv);
  if (!Narrow(opened, *session)) {
    F().C_CloseSession(opened);
    return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
  }
  return static_cast<win::CK_RV>(CKR_OK);
}

TARVONA_MS_ABI win::CK_RV CloseSession(win::CK_SESSION_HANDLE session) {
  LogEnding("C_CloseSession");
  return Rv(F().C_CloseSession(session));
}

TARVONA_MS_ABI win::CK_RV CloseAllSessions(win::CK_SLOT_ID slot) {
  LogEnding("C_CloseAllSessions");
  return Rv(F().C_CloseAllSessions(slot));
}

TARVONA_MS_ABI win::CK_RV Login(win::CK_SESSION_HANDLE session, win::CK_USER_TYPE user,
                                win::CK_UTF8CHAR_PTR pin, win::CK_ULONG pin_len) {
  return Rv(F().C_Login(session, user, pin, pin_len));
}

TARVONA_MS_ABI win::CK_RV Logout(win::CK_SESSION_HANDLE session) {
  LogEnding("C_Logout");
  return Rv(F().C_Logout(session));
}

TARVONA_MS_ABI win::CK_RV GetAttributeValue(win::CK_SESSION_HANDLE session,
                                            win::CK_OBJECT_HANDLE object,
                                            win::CK_ATTRIBUTE_PTR entries, win::CK_ULONG count) {
  if (entries == nullptr && count != 0) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  return Guarded([&] {
    CK_RV rv = CKR_OK;
    LinuxTemplate linux_template(entries, count, true, rv);
    if (rv != CKR_OK) return Rv(rv);
    rv = F().C_GetAttributeValue(session, object, linux_template.data(), count);
    // The entries carry answers only with these; else they stay as they were.
    if (rv != CKR_OK && rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID &&
        rv != CKR_BUFFER_TOO_SMALL) {
      return Rv(rv);
    }
    for (win::CK_ULONG i = 0; i < count; ++i) {
      win::CK_ATTRIBUTE& out = entries[i];
      const CK_ATTRIBUTE& in = linux_template[i];
      if (in.ulValueLen == CK_UNAVAILABLE_INFORMATION || !HoldsUlongs(out.type)) {
        out.ulValueLen = NarrowInformation(in.ulValueLen);
        continue;
      }
      if (in.ulValueLen % sizeof(CK_ULONG) != 0) {
        out.ulValueLen = static_cast<win::CK_ULONG>(CK_UNAVAILABLE_INFORMATION);
        continue;
      }
      const size_t n = in.ulValueLen / sizeof(CK_ULONG);
      if (out.pValue != nullptr) {
        const auto* values = static_cast<const CK_ULONG*>(in.pValue);
        for (size_t k = 0; k < n; ++k) {
          win::CK_ULONG value = 0;
          if (!Narrow(values[k], value)) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
          std::memcpy(static_cast<unsigned char*>(out.pValue) + k * kWinUlong, &value, kWinUlong);
        }
      }
      out.ulValueLen = static_cast<win::CK_ULONG>(n * kWinUlong);
    }
    return Rv(rv);
  });
}

TARVONA_MS_ABI win::CK_RV FindObjectsInit(win::CK_SESSION_HANDLE session,
                                          win::CK_ATTRIBUTE_PTR entries, win::CK_ULONG count) {
  if (entries == nullptr && count != 0) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  return Guarded([&] {
    CK_RV rv = CKR_OK;
    LinuxTemplate linux_template(entries, count, false, rv);
    if (rv != CKR_OK) return Rv(rv);
    return Rv(F().C_FindObjectsInit(session, linux_template.data(), count));
  });
}

TARVONA_MS_ABI win::CK_RV FindObjects(win::CK_SESSION_HANDLE session,
                                      win::CK_OBJECT_HANDLE_PTR objects, win::CK_ULONG most,
                                      win::CK_ULONG_PTR found) {
  if (found == nullptr || (objects == nullptr && most != 0)) {
    return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  }
  return Guarded([&] {
    std::vector<CK_OBJECT_HANDLE> handles(most + CK_ULONG{1});
    CK_ULONG n = 0;
    const CK_RV rv = F().C_FindObjects(session, handles.data(), most, &n);
    if (rv != CKR_OK) return Rv(rv);
    if (n > most) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
    for (CK_ULONG i = 0; i < n; ++i) {
      if (!Narrow(handles[i], objects[i])) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
    }
    *found = static_cast<win::CK_ULONG>(n);
    return static_cast<win::CK_RV>(CKR_OK);
  });
}

TARVONA_MS_ABI win::CK_RV FindObjectsFinal(win::CK_SESSION_HANDLE session) {
  return Rv(F().C_FindObjectsFinal(session));
}

// A mechanism's parameter passes as bytes: structured parameters holding
// CK_ULONGs (PSS, OAEP) are not translated, and the module refuses them.
CK_MECHANISM ToLinux(const win::CK_MECHANISM& in) {
  return {in.mechanism, in.pParameter, in.ulParameterLen};
}

TARVONA_MS_ABI win::CK_RV DigestInit(win::CK_SESSION_HANDLE session,
                                     win::CK_MECHANISM_PTR mechanism) {
  if (mechanism == nullptr) return Rv(F().C_DigestInit(session, nullptr));
  CK_MECHANISM m = ToLinux(*mechanism);
  return Rv(F().C_DigestInit(session, &m));
}

// SignInit, VerifyInit, EncryptInit, DecryptInit.
using KeyInit = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
template <KeyInit CK_FUNCTION_LIST::*kCall>
TARVONA_MS_ABI win::CK_RV InitWithKey(win::CK_SESSION_HANDLE session,
                                      win::CK_MECHANISM_PTR mechanism, win::CK_OBJECT_HANDLE key) {
  if (mechanism == nullptr) return Rv((F().*kCall)(session, nullptr, key));
  CK_MECHANISM m = ToLinux(*mechanism);
  return Rv((F().*kCall)(session, &m, key));
}

// Digest, Sign, Encrypt, Decrypt: input, and output with an in/out length
// (a null output asks for the length).
using SinglePart = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);
template <SinglePart CK_FUNCTION_LIST::*kCall>
TARVONA_MS_ABI win::CK_RV SinglePartCall(win::CK_SESSION_HANDLE session, win::CK_BYTE_PTR data,
                                         win::CK_ULONG data_len, win::CK_BYTE_PTR out,
                                         win::CK_ULONG_PTR out_len) {
  if (out_len == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  CK_ULONG length = *out_len;
  const CK_RV rv = (F().*kCall)(session, data, data_len, out, &length);
  if ((rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL) && !Narrow(length, *out_len)) {
    return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
  }
  return Rv(rv);
}

TARVONA_MS_ABI win::CK_RV Verify(win::CK_SESSION_HANDLE session, win::CK_BYTE_PTR data,
                                 win::CK_ULONG data_len, win::CK_BYTE_PTR signature,
                                 win::CK_ULONG signature_len) {
  return Rv(F().C_Verify(session, data, data_len, signature, signature_len));
}

win::CK_FUNCTION_LIST MakeWindowsList() {
  win::CK_FUNCTION_LIST list;
  // Every entry answers CKR_FUNCTION_NOT_SUPPORTED unless set below.
  tarvona::testing::FillFunctionList(list,
                                     static_cast<win::CK_RV(TARVONA_MS_ABI*)()>(&NotSupported));
  list.version.major = 2;
  list.version.minor = 40;
  list.C_Initialize = &Initialize;
  list.C_Finalize = &Finalize;
  list.C_GetInfo = &GetInfo;
  list.C_GetSlotList = &GetSlotList;
  list.C_GetSlotInfo = &GetSlotInfo;
  list.C_GetTokenInfo = &GetTokenInfo;
  list.C_GetMechanismList = &GetMechanismList;
  list.C_GetMechanismInfo = &GetMechanismInfo;
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
  list.C_Digest = &SinglePartCall<&CK_FUNCTION_LIST::C_Digest>;
  list.C_SignInit = &InitWithKey<&CK_FUNCTION_LIST::C_SignInit>;
  list.C_Sign = &SinglePartCall<&CK_FUNCTION_LIST::C_Sign>;
  list.C_VerifyInit = &InitWithKey<&CK_FUNCTION_LIST::C_VerifyInit>;
  list.C_Verify = &Verify;
  list.C_EncryptInit = &InitWithKey<&CK_FUNCTION_LIST::C_EncryptInit>;
  list.C_Encrypt = &SinglePartCall<&CK_FUNCTION_LIST::C_Encrypt>;
  list.C_DecryptInit = &InitWithKey<&CK_FUNCTION_LIST::C_DecryptInit>;
  list.C_Decrypt = &SinglePartCall<&CK_FUNCTION_LIST::C_Decrypt>;
  return list;
}

// An entry point of the adaptor or of the library it links (the fault
// layer's controls exist only in its test build).
template <typename Function>
Function AdaptorSymbol(const char* name) {
  if (TheBackend().library == nullptr) return nullptr;
  return reinterpret_cast<Function>(dlsym(TheBackend().library, name));
}

}  // namespace

// The module's exports (exports.def names them).
extern "C" {

TARVONA_MS_ABI win::CK_RV BridgeGetFunctionList(win::CK_FUNCTION_LIST_PTR_PTR list) {
  static win::CK_FUNCTION_LIST windows_list = MakeWindowsList();
  if (list == nullptr) return static_cast<win::CK_RV>(CKR_ARGUMENTS_BAD);
  if (TheBackend().functions == nullptr) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
  *list = &windows_list;
  return static_cast<win::CK_RV>(CKR_OK);
}

// The vendor's table is only ever passed on, never read.
TARVONA_MS_ABI win::CK_RV BridgeGetAuxFunctionList(void** table) {
  using GetAux = CK_RV (*)(void**);
  auto get_aux = AdaptorSymbol<GetAux>("E_GetAuxFunctionList");
  if (get_aux == nullptr) return static_cast<win::CK_RV>(CKR_GENERAL_ERROR);
  return Rv(get_aux(table));
}

// The fault layer for Windows callers (fault_control.h): 1 when done, 0
// when the adaptor is not the test build.
TARVONA_MS_ABI int BridgeFaultsReset() {
  auto reset = AdaptorSymbol<decltype(&tarvona_faults_reset)>("tarvona_faults_reset");
  if (reset == nullptr) return 0;
  reset();
  return 1;
}

TARVONA_MS_ABI int BridgeFaultInject(int generation, const char* function, uint32_t rv,
                                     uint32_t first_call, uint32_t count) {
  auto inject = AdaptorSymbol<decltype(&tarvona_fault_inject)>("tarvona_fault_inject");
  if (inject == nullptr || function == nullptr) return 0;
  inject(generation, function, rv, first_call, count);
  return 1;
}

TARVONA_MS_ABI int BridgeFaultLargeHandles(int generation, int on) {
  auto large = AdaptorSymbol<decltype(&tarvona_fault_large_handles)>("tarvona_fault_large_handles");
  if (large == nullptr) return 0;
  large(generation, on);
  return 1;
}

}  // extern "C"
