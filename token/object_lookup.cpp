#include <algorithm>

#include "common/result_code.h"
#include "token/cryptoki_call.h"
#include "token/cryptoki_module.h"
#include "token/der_serial.h"

namespace tarvona {
namespace {

// The certificate ID buffer of the by-serial lookups; a longer CKA_ID is
// refused rather than cut.
constexpr size_t kMaxIdSize = 256;

// Attribute values are sized from what the module reports; none the
// control reads (a certificate, an ID, a serial number) comes near this.
constexpr CK_ULONG kMaxAttributeSize = 64 * 1024;

// Reads attributes by the two-call rule: lengths first (a null value is how
// Cryptoki asks for a length; it starts nothing), then the values into
// buffers of exactly those lengths, each pointing at memory even when
// empty. A length the module cannot give (CK_UNAVAILABLE_INFORMATION) or
// one above the bound fails the read instead of sizing a buffer.
template <size_t N>
CK_RV ReadAttributes(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                     CK_OBJECT_HANDLE object, const CK_ATTRIBUTE_TYPE (&types)[N],
                     std::vector<uint8_t> (&values)[N]) {
  constexpr CK_ULONG kCount = N;
  CK_ATTRIBUTE attributes[N];
  for (size_t i = 0; i < N; ++i) attributes[i] = {types[i], nullptr, 0};
  if (CK_RV rv = functions->C_GetAttributeValue(session, object, attributes, kCount);
      rv != CKR_OK) {
    return rv;
  }
  CK_BYTE none = 0;
  for (size_t i = 0; i < N; ++i) {
    if (attributes[i].ulValueLen == CK_UNAVAILABLE_INFORMATION) return CKR_ATTRIBUTE_SENSITIVE;
    if (attributes[i].ulValueLen > kMaxAttributeSize) return CKR_DEVICE_MEMORY;
    values[i].assign(FromCkLength(attributes[i].ulValueLen), 0);
    attributes[i].pValue = values[i].empty() ? &none : values[i].data();
  }
  CK_RV rv = functions->C_GetAttributeValue(session, object, attributes, kCount);
  // A module may write less than it announced.
  for (size_t i = 0; i < N && rv == CKR_OK; ++i) {
    values[i].resize(std::min(FromCkLength(attributes[i].ulValueLen), values[i].size()));
  }
  return rv;
}

bool SerialMatches(std::span<const uint8_t> given, std::span<const uint8_t> attribute) {
  auto content = SerialContent(attribute);
  return content && std::ranges::equal(given, *content);
}

}  // namespace

// One search over the token objects of a class: C_FindObjectsInit at once,
// one handle per C_FindObjects, C_FindObjectsFinal on every path out. It
// reads the binding's session at each call, as starting may replace it.
class CCryptokiModule::ObjectSearch {
 public:
  ObjectSearch(CCryptokiModule& module, CK_OBJECT_CLASS object_class)
      : module_(module), object_class_(object_class) {
    CK_ATTRIBUTE search_template[] = {
        {CKA_CLASS, &object_class_, sizeof(object_class_)},
        {CKA_TOKEN, &token_, sizeof(token_)},
    };
    // A failed start shows as a failing C_FindObjects.
    module_.StartOperation([&] {
      return module_.functions_->C_FindObjectsInit(module_.session_, search_template, 2);
    });
  }
  ~ObjectSearch() { module_.functions_->C_FindObjectsFinal(module_.session_); }
  ObjectSearch(const ObjectSearch&) = delete;
  ObjectSearch& operator=(const ObjectSearch&) = delete;

  bool Next(CK_OBJECT_HANDLE& object) {
    CK_ULONG count = 0;
    return module_.functions_->C_FindObjects(module_.session_, &object, 1, &count) == CKR_OK &&
           count == 1;
  }

 private:
  CCryptokiModule& module_;
  CK_OBJECT_CLASS object_class_;
  CK_BBOOL token_ = CK_TRUE;
};

int32_t CCryptokiModule::FindByIndex(CK_OBJECT_CLASS object_class, int32_t index,
                                     CK_OBJECT_HANDLE& object) {
  if (!HasSession()) return kModuleNotReady;
  ObjectSearch search(*this, object_class);
  CK_OBJECT_HANDLE current = 0;
  for (int32_t i = 0; i <= index; ++i) {
    if (!search.Next(current)) return kObjectNotFound;
  }
  if (index < 0) return kObjectNotFound;
  object = current;
  return kOk;
}

int32_t CCryptokiModule::FindCertificate(int32_t index, CK_OBJECT_HANDLE& object) {
  return FindByIndex(CKO_CERTIFICATE, index, object);
}

int32_t CCryptokiModule::FindPublicKey(int32_t index, CK_OBJECT_HANDLE& object) {
  return FindByIndex(CKO_PUBLIC_KEY, index, object);
}

int32_t CCryptokiModule::FindPrivateKey(int32_t index, CK_OBJECT_HANDLE& object) {
  return FindByIndex(CKO_PRIVATE_KEY, index, object);
}

int32_t CCryptokiModule::FindCertificateIdBySerial(std::span<const uint8_t> serial,
                                                   std::vector<uint8_t>& id) {
  if (!HasSession()) return kModuleNotReady;
  ObjectSearch search(*this, CKO_CERTIFICATE);
  CK_OBJECT_HANDLE certificate = 0;
  while (search.Next(certificate)) {
    std::vector<uint8_t> values[2];
    // An unreadable certificate ends the whole search.
    if (ReadAttributes(functions_, session_, certificate, {CKA_ID, CKA_SERIAL_NUMBER}, values) !=
        CKR_OK) {
      return kObjectNotFound;
    }
    if (SerialMatches(serial, values[1])) {
      if (values[0].size() > kMaxIdSize) return kObjectNotFound;
      id = std::move(values[0]);
      return kOk;
    }
  }
  return kObjectNotFound;
}

int32_t CCryptokiModule::FindKeyById(CK_OBJECT_CLASS key_class, std::span<const uint8_t> id,
                                     CK_OBJECT_HANDLE& key) {
  if (!HasSession()) return kModuleNotReady;
  ObjectSearch search(*this, key_class);
  CK_OBJECT_HANDLE candidate = 0;
  while (search.Next(candidate)) {
    std::vector<uint8_t> values[1];
    if (ReadAttributes(functions_, session_, candidate, {CKA_ID}, values) != CKR_OK) {
      return kObjectNotFound;
    }
    if (std::ranges::equal(values[0], id)) {
      key = candidate;
      return kOk;
    }
  }
  return kObjectNotFound;
}

int32_t CCryptokiModule::FindPrivateKeyById(std::span<const uint8_t> id, CK_OBJECT_HANDLE& key) {
  return FindKeyById(CKO_PRIVATE_KEY, id, key);
}

int32_t CCryptokiModule::FindPublicKeyById(std::span<const uint8_t> id, CK_OBJECT_HANDLE& key) {
  return FindKeyById(CKO_PUBLIC_KEY, id, key);
}

int32_t CCryptokiModule::FindPrivateKeyBySerial(std::span<const uint8_t> serial,
                                                CK_OBJECT_HANDLE& key) {
  std::vector<uint8_t> id;
  if (int32_t rc = FindCertificateIdBySerial(serial, id); rc != kOk) return rc;
  return FindPrivateKeyById(id, key);
}

int32_t CCryptokiModule::FindPublicKeyBySerial(std::span<const uint8_t> serial,
                                               CK_OBJECT_HANDLE& key) {
  std::vector<uint8_t> id;
  if (int32_t rc = FindCertificateIdBySerial(serial, id); rc != kOk) return rc;
  return FindPublicKeyById(id, key);
}

CK_RV CCryptokiModule::GetAttribute(CK_OBJECT_HANDLE object, int32_t type,
                                    std::vector<uint8_t>& value) {
  static constexpr CK_ATTRIBUTE_TYPE kTypes[] = {CKA_VALUE, CKA_ID, CKA_SERIAL_NUMBER};
  if (type < 1 || type > 3) return kInvalidArgument;
  if (!HasSession()) return kModuleNotReady;
  std::vector<uint8_t> values[1];
  CK_RV rv = ReadAttributes(functions_, session_, object, {kTypes[type - 1]}, values);
  value = std::move(values[0]);
  return rv;
}

}  // namespace tarvona
