#include "testing/openssl_judge.h"

#include "testing/openssl_handles.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tarvona::testing {
namespace {

using PkeyCtx = PkeyContext;

const EVP_MD* MdOf(Digest digest) {
  switch (digest) {
    case Digest::kSha1:
      return EVP_sha1();
    case Digest::kMd5:
      return EVP_md5();
    case Digest::kSha256:
      return EVP_sha256();
    case Digest::kNone:
      return nullptr;
  }
  return nullptr;
}

Pkey PublicKeyOf(const std::string& certificate_pem) {
  BIO* bio = BIO_new_mem_buf(certificate_pem.data(), static_cast<int>(certificate_pem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (cert == nullptr) throw std::runtime_error("not a PEM certificate");
  Pkey key(X509_get_pubkey(cert));
  X509_free(cert);
  return key;
}

Pkey PrivateKeyFrom(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) throw std::runtime_error("cannot open " + path);
  Pkey key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  if (!key) throw std::runtime_error("not a private key: " + path);
  return key;
}

PkeyCtx Pkcs1Context(EVP_PKEY* key, int (*init)(EVP_PKEY_CTX*), Digest digest) {
  PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
    throw std::runtime_error("cannot set up an RSA operation");
  }
  if (digest != Digest::kNone && EVP_PKEY_CTX_set_signature_md(ctx.get(), MdOf(digest)) <= 0) {
    throw std::runtime_error("cannot set the digest");
  }
  return ctx;
}

}  // namespace

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> DigestOf(Digest digest, std::span<const uint8_t> data) {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &length, MdOf(digest), nullptr);
  out.resize(length);
  return out;
}

bool VerifiesWith(const std::string& certificate_pem, Digest digest,
                  std::span<const uint8_t> data, std::span<const uint8_t> signature) {
  Pkey key = PublicKeyOf(certificate_pem);
  if (digest == Digest::kNone) {
    PkeyCtx ctx = Pkcs1Context(key.get(), EVP_PKEY_verify_recover_init, digest);
    std::vector<uint8_t> recovered(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
    size_t length = recovered.size();
    if (EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &length, signature.data(),
                                signature.size()) <= 0) {
      return false;
    }
    recovered.resize(length);
    return std::equal(recovered.begin(), recovered.end(), data.begin(), data.end());
  }
  std::vector<uint8_t> hash = DigestOf(digest, data);
  PkeyCtx ctx = Pkcs1Context(key.get(), EVP_PKEY_verify_init, digest);
  return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), hash.data(),
                         hash.size()) == 1;
}

std::vector<uint8_t> SignWith(const std::string& key_pem_path, Digest digest,
                              std::span<const uint8_t> data) {
  Pkey key = PrivateKeyFrom(key_pem_path);
  std::vector<uint8_t> hash = DigestOf(digest, data);
  PkeyCtx ctx = Pkcs1Context(key.get(), EVP_PKEY_sign_init, digest);
  std::vector<uint8_t> signature(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
  size_t length = signature.size();
  if (EVP_PKEY_sign(ctx.get(), signature.data(), &length, hash.data(), hash.size()) <= 0) {
    throw std::runtime_error("signing failed");
  }
  signature.resize(length);
  return signature;
}

std::vector<uint8_t> EncryptTo(const std::string& certificate_pem,
                               std::span<const uint8_t> data) {
  Pkey key = PublicKeyOf(certificate_pem);
  PkeyCtx ctx = Pkcs1Context(key.get(), EVP_PKEY_encrypt_init, Digest::kNone);
  std::vector<uint8_t> out(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
  size_t length = out.size();
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, data.data(), data.size()) <= 0) {
    throw std::runtime_error("encryption failed");
  }
  out.resize(length);
  return out;
}

std::vector<uint8_t> BadPaddingTo(const std::string& certificate_pem) {
  Pkey key = PublicKeyOf(certificate_pem);
  PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0) {
    throw std::runtime_error("cannot set up a raw RSA encryption");
  }
  std::vector<uint8_t> block(static_cast<size_t>(EVP_PKEY_get_size(key.get())), 0x22);
  block[0] = 0x00;
  block[1] = 0x02;
  std::vector<uint8_t> out(block.size());
  size_t length = out.size();
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, block.data(), block.size()) <= 0) {
    throw std::runtime_error("raw encryption failed");
  }
  out.resize(length);
  return out;
}

std::vector<uint8_t> DecryptWith(const std::string& key_pem_path,
                                 std::span<const uint8_t> ciphertext) {
  Pkey key = PrivateKeyFrom(key_pem_path);
  PkeyCtx ctx = Pkcs1Context(key.get(), EVP_PKEY_decrypt_init, Digest::kNone);
  // Explicit rejection: a bad block must fail, not decrypt to noise.
  EVP_PKEY_CTX_ctrl_str(ctx.get(), "rsa_pkcs1_implicit_rejection", "0");
  std::vector<uint8_t> out(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
  size_t length = out.size();
  if (EVP_PKEY_decrypt(ctx.get(), out.data(), &length, ciphertext.data(), ciphertext.size()) <=
      0) {
    return {};
  }
  out.resize(length);
  return out;
}

std::vector<uint8_t> ModulusOf(const std::string& certificate_pem) {
  Pkey key = PublicKeyOf(certificate_pem);
  BIGNUM* n = nullptr;
  if (EVP_PKEY_get_bn_param(key.get(), "n", &n) <= 0) throw std::runtime_error("not an RSA key");
  std::vector<uint8_t> modulus(static_cast<size_t>(BN_num_bytes(n)));
  BN_bn2bin(n, modulus.data());
  BN_free(n);
  return modulus;
}

}  // namespace tarvona::testing
