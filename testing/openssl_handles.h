#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

// OpenSSL objects owned the RAII way, for test code.
namespace tarvona::testing {

template <auto kFree>
struct OpenSslFree {
  template <typename T>
  void operator()(T* p) const {
    kFree(p);
  }
};

using Bignum = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using Bio = std::unique_ptr<BIO, OpenSslFree<BIO_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, OpenSslFree<EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;
using X509Certificate = std::unique_ptr<X509, OpenSslFree<X509_free>>;

// A certificate's DER bytes; empty when it cannot be encoded.
inline std::vector<uint8_t> DerOf(X509* certificate) {
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate, &der);
  std::vector<uint8_t> bytes(der, der + (size > 0 ? size : 0));
  OPENSSL_free(der);
  return bytes;
}

}  // namespace tarvona::testing
