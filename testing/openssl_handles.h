#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

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

}  // namespace tarvona::testing
