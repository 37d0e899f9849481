#include "testing/softhsm_tokens.h"

#include "testing/openssl_handles.h"

#include <dlfcn.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>

namespace tarvona::testing {
namespace {

constexpr const char* kManagedVariables[] = {
    "SOFTHSM2_CONF",           "TARVONA_PKCS11_MODULE", "TARVONAV4_PKCS11_MODULE",
    "TARVONAV5_PKCS11_MODULE", "TARVONAV4_TOKENS",      "TARVONAV5_TOKENS",
};

[[noreturn]] void Fail(const std::string& what, CK_RV rv) {
  char code[24];
  std::snprintf(code, sizeof code, "0x%08lX", rv);
  throw std::runtime_error(what + " failed: CKR " + code);
}

void Check(CK_RV rv, const std::string& what) {
  if (rv != CKR_OK) Fail(what, rv);
}

std::string TrimmedLabel(const CK_TOKEN_INFO& info) {
  std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
  label.erase(label.find_last_not_of(' ') + 1);
  return label;
}

// SoftHSM loaded and initialised for one fixture operation. Someone else in
// the process (an adaptor under test) may already hold it initialised; then
// it is left initialised.
class SoftHsm {
 public:
  SoftHsm() : library_(dlopen(SoftHsmModulePath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (library_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    auto get_list =
        reinterpret_cast<CK_C_GetFunctionList>(dlsym(library_.get(), "C_GetFunctionList"));
    if (get_list == nullptr) throw std::runtime_error("SoftHSM has no C_GetFunctionList");
    Check(get_list(&f_), "C_GetFunctionList");
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    const CK_RV rv = f_->C_Initialize(&args);
    if (rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) Check(rv, "C_Initialize");
    finalise_ = rv == CKR_OK;
  }
  ~SoftHsm() {
    if (finalise_) f_->C_Finalize(nullptr);
  }
  SoftHsm(const SoftHsm&) = delete;
  SoftHsm& operator=(const SoftHsm&) = delete;

  CK_FUNCTION_LIST* operator->() const { return f_; }

  struct Slot {
    CK_SLOT_ID id;
    CK_TOKEN_INFO info;
  };
  std::vector<Slot> Slots() const {
    CK_ULONG count = 0;
    Check(f_->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
    std::vector<CK_SLOT_ID> ids(count);
    Check(f_->C_GetSlotList(CK_TRUE, ids.data(), &count), "C_GetSlotList");
    std::vector<Slot> slots;
    for (CK_ULONG i = 0; i < count; ++i) {
      Slot slot{ids[i], {}};
      Check(f_->C_GetTokenInfo(slot.id, &slot.info), "C_GetTokenInfo");
      slots.push_back(slot);
    }
    return slots;
  }

  CK_SLOT_ID SlotOf(const std::string& label) const {
    for (const Slot& slot : Slots()) {
      if ((slot.info.flags & CKF_TOKEN_INITIALIZED) != 0 && TrimmedLabel(slot.info) == label) {
        return slot.id;
      }
    }
    throw std::runtime_error("no SoftHSM token labelled \"" + label + "\"");
  }

 private:
  struct Closer {
    void operator()(void* handle) const { dlclose(handle); }
  };
  std::unique_ptr<void, Closer> library_;
  CK_FUNCTION_LIST* f_ = nullptr;
  bool finalise_ = false;
};

// An RW session, logged in as `user` for its lifetime. Login state belongs
// to the whole process: when the code under test is already logged in, the
// session uses that login and leaves it in place.
class LoggedInSession {
 public:
  LoggedInSession(const SoftHsm& hsm, CK_SLOT_ID slot, CK_USER_TYPE user, const std::string& pin)
      : hsm_(hsm) {
    Check(
        hsm_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &handle_),
        "C_OpenSession");
    const CK_RV rv = hsm_->C_Login(handle_, user, Bytes(pin), pin.size());
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
      hsm_->C_CloseSession(handle_);
      Fail("C_Login", rv);
    }
    log_out_at_end_ = rv == CKR_OK;
  }
  ~LoggedInSession() {
    if (log_out_at_end_) hsm_->C_Logout(handle_);
    hsm_->C_CloseSession(handle_);
  }
  LoggedInSession(const LoggedInSession&) = delete;
  LoggedInSession& operator=(const LoggedInSession&) = delete;

  CK_SESSION_HANDLE handle() const { return handle_; }

  static CK_UTF8CHAR_PTR Bytes(const std::string& text) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(text.data()));
  }

 private:
  const SoftHsm& hsm_;
  CK_SESSION_HANDLE handle_ = 0;
  bool log_out_at_end_ = false;
};

using PrivateKey = Pkey;
using Certificate = X509Certificate;

std::vector<uint8_t> BignumParameter(const EVP_PKEY* key, const char* name) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
    throw std::runtime_error(std::string("RSA key has no ") + name);
  }
  Bignum bn(raw);
  std::vector<uint8_t> bytes(BN_num_bytes(bn.get()));
  BN_bn2bin(bn.get(), bytes.data());
  return bytes;
}

// DER of an OpenSSL object through its i2d function.
template <typename T>
std::vector<uint8_t> Der(int (*i2d)(const T*, unsigned char**), const T* object) {
  const int length = i2d(object, nullptr);
  if (length <= 0) throw std::runtime_error("DER encoding failed");
  std::vector<uint8_t> der(static_cast<size_t>(length));
  unsigned char* out = der.data();
  i2d(object, &out);
  return der;
}

// Attribute templates over values that live as long as the builder.
class Template {
 public:
  Template& Add(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length) {
    attributes_.push_back({type, const_cast<void*>(value), length});
    return *this;
  }
  // An empty value still gets a pointer: a null one reads as "no value".
  Template& Add(CK_ATTRIBUTE_TYPE type, const std::vector<uint8_t>& bytes) {
    return Add(type, bytes.empty() ? &kFalse : bytes.data(), bytes.size());
  }
  Template& Add(CK_ATTRIBUTE_TYPE type, const std::string& text) {
    return Add(type, text.data(), text.size());
  }
  Template& Add(CK_ATTRIBUTE_TYPE type, const CK_ULONG& value) {
    return Add(type, &value, sizeof value);
  }
  Template& Add(CK_ATTRIBUTE_TYPE type, bool value) {
    return Add(type, value ? &kTrue : &kFalse, sizeof(CK_BBOOL));
  }
  void Create(const SoftHsm& hsm, CK_SESSION_HANDLE session, const std::string& what) {
    CK_OBJECT_HANDLE object = 0;
    Check(hsm->C_CreateObject(session, attributes_.data(), attributes_.size(), &object),
          "C_CreateObject (" + what + ")");
  }

 private:
  static constexpr CK_BBOOL kTrue = CK_TRUE;
  static constexpr CK_BBOOL kFalse = CK_FALSE;
  std::vector<CK_ATTRIBUTE> attributes_;
};

}  // namespace

std::string TestDataDir() { return TARVONA_TEST_DATA_DIR; }
std::string FaultModulesDir() { return TARVONA_FAULT_MODULES_DIR; }
std::string SoftHsmModulePath() { return TARVONA_SOFTHSM_MODULE; }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

SoftHsmTokens::SoftHsmTokens() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarvona-softhsm-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
  directory_ = pattern;
  config_path_ = directory_ + "/softhsm2.conf";
  std::filesystem::create_directory(directory_ + "/tokens");
  std::ofstream(config_path_) << "directories.tokendir = " << directory_ << "/tokens\n"
                              << "objectstore.backend = file\n"
                              << "log.level = ERROR\n";

  for (const char* name : kManagedVariables) {
    const char* value = std::getenv(name);
    saved_environment_.emplace_back(
        name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    unsetenv(name);
  }
  setenv("SOFTHSM2_CONF", config_path_.c_str(), 1);
  setenv("TARVONA_PKCS11_MODULE", SoftHsmModulePath().c_str(), 1);
}

SoftHsmTokens::~SoftHsmTokens() {
  for (const auto& [name, value] : saved_environment_) {
    if (value.has_value()) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

std::string SoftHsmTokens::AddToken(const std::string& label, const std::string& user_pin,
                                    const std::string& so_pin) {
  if (label.size() > 32) throw std::invalid_argument("token label longer than 32 bytes");
  SoftHsm hsm;
  std::set<std::string> known_serials;
  CK_SLOT_ID free_slot = 0;
  bool found_free = false;
  for (const auto& slot : hsm.Slots()) {
    if ((slot.info.flags & CKF_TOKEN_INITIALIZED) != 0) {
      known_serials.emplace(reinterpret_cast<const char*>(slot.info.serialNumber), 16);
    } else if (!found_free) {
      free_slot = slot.id;
      found_free = true;
    }
  }
  if (!found_free) throw std::runtime_error("SoftHSM offers no free slot");

  CK_UTF8CHAR padded[32];
  std::fill(std::begin(padded), std::end(padded), ' ');
  std::copy(label.begin(), label.end(), padded);
  Check(hsm->C_InitToken(free_slot, LoggedInSession::Bytes(so_pin), so_pin.size(), padded),
        "C_InitToken");

  // SoftHSM moves a freshly initialised token to a slot numbered after its
  // serial, so look it up again: the labelled token not seen before.
  for (const auto& slot : hsm.Slots()) {
    std::string serial(reinterpret_cast<const char*>(slot.info.serialNumber), 16);
    if ((slot.info.flags & CKF_TOKEN_INITIALIZED) == 0 || TrimmedLabel(slot.info) != label ||
        known_serials.count(serial) != 0) {
      continue;
    }
    LoggedInSession so(hsm, slot.id, CKU_SO, so_pin);
    Check(hsm->C_InitPIN(so.handle(), LoggedInSession::Bytes(user_pin), user_pin.size()),
          "C_InitPIN");
    return serial;
  }
  throw std::runtime_error("initialised token \"" + label + "\" not found");
}

void SoftHsmTokens::ImportKeyPair(const std::string& label, const std::string& key_name,
                                  const std::vector<uint8_t>& id, const ImportOptions& options) {
  const std::string base = TestDataDir() + "/" + key_name;
  Bio key_file(BIO_new_file((base + ".key.pem").c_str(), "r"));
  if (key_file == nullptr) throw std::runtime_error("cannot read " + base + ".key.pem");
  PrivateKey key(PEM_read_bio_PrivateKey(key_file.get(), nullptr, nullptr, nullptr));
  if (key == nullptr) throw std::runtime_error("not a private key: " + base + ".key.pem");
  const std::vector<uint8_t> cert_der = ReadFile(base + ".cert.der");
  const unsigned char* cursor = cert_der.data();
  Certificate cert(d2i_X509(nullptr, &cursor, static_cast<long>(cert_der.size())));
  if (cert == nullptr) throw std::runtime_error("not a certificate: " + base + ".cert.der");

  const auto n = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_N);
  const auto e = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_E);
  const auto d = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_D);
  const auto p = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR1);
  const auto q = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR2);
  const auto dmp1 = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1);
  const auto dmq1 = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2);
  const auto iqmp = BignumParameter(key.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  const auto subject = Der(i2d_X509_NAME, X509_get_subject_name(cert.get()));
  const auto issuer = Der(i2d_X509_NAME, X509_get_issuer_name(cert.get()));
  const auto serial = Der(i2d_ASN1_INTEGER, X509_get0_serialNumber(cert.get()));

  SoftHsm hsm;
  LoggedInSession session(hsm, hsm.SlotOf(label), CKU_USER, options.user_pin);
  const CK_ULONG certificate_class = CKO_CERTIFICATE, x509 = CKC_X_509;
  const CK_ULONG public_class = CKO_PUBLIC_KEY, private_class = CKO_PRIVATE_KEY, rsa = CKK_RSA;

  if (options.certificate) {
    Template t;
    t.Add(CKA_CLASS, certificate_class)
        .Add(CKA_CERTIFICATE_TYPE, x509)
        .Add(CKA_TOKEN, true)
        .Add(CKA_PRIVATE, false)
        .Add(CKA_VALUE, cert_der)
        .Add(CKA_SUBJECT, subject)
        .Add(CKA_ISSUER, issuer)
        .Add(CKA_ID, id)
        .Add(CKA_LABEL, key_name);
    // Both lvalues: the template keeps pointers, so no temporary here.
    const std::vector<uint8_t>& serial_bytes =
        options.serial_value.has_value() ? *options.serial_value : serial;
    if (options.serial_attribute) t.Add(CKA_SERIAL_NUMBER, serial_bytes);
    t.Create(hsm, session.handle(), "certificate");
  }
  if (options.public_key) {
    Template t;
    t.Add(CKA_CLASS, public_class)
        .Add(CKA_KEY_TYPE, rsa)
        .Add(CKA_TOKEN, true)
        .Add(CKA_PRIVATE, false)
        .Add(CKA_MODULUS, n)
        .Add(CKA_PUBLIC_EXPONENT, e)
        .Add(CKA_ID, id)
        .Add(CKA_VERIFY, true)
        .Add(CKA_ENCRYPT, true);
    t.Create(hsm, session.handle(), "public key");
  }
  if (options.private_key) {
    Template t;
    t.Add(CKA_CLASS, private_class)
        .Add(CKA_KEY_TYPE, rsa)
        .Add(CKA_TOKEN, true)
        .Add(CKA_PRIVATE, true)
        .Add(CKA_SENSITIVE, true)
        .Add(CKA_SIGN, true)
        .Add(CKA_DECRYPT, true)
        .Add(CKA_ID, id)
        .Add(CKA_MODULUS, n)
        .Add(CKA_PUBLIC_EXPONENT, e)
        .Add(CKA_PRIVATE_EXPONENT, d)
        .Add(CKA_PRIME_1, p)
        .Add(CKA_PRIME_2, q)
        .Add(CKA_EXPONENT_1, dmp1)
        .Add(CKA_EXPONENT_2, dmq1)
        .Add(CKA_COEFFICIENT, iqmp);
    t.Create(hsm, session.handle(), "private key");
  }
}

}  // namespace tarvona::testing
