#pragma once

#include <cert.h>
#include <certdb.h>
#include <keyhi.h>
#include <pk11pub.h>
#include <secdig.h>
#include <secitem.h>
#include <secport.h>

#include <memory>

// Owning pointers for the NSS objects of the store road, so each is released
// on every path.
namespace tarvona::capi::nss {

template <auto Release>
struct Releaser {
  template <typename T>
  void operator()(T* object) const {
    Release(object);
  }
};

struct ItemReleaser {
  void operator()(SECItem* item) const { SECITEM_FreeItem(item, PR_TRUE); }
};

struct PortReleaser {
  void operator()(char* text) const { PORT_Free(text); }
};

using CertificatePtr = std::unique_ptr<CERTCertificate, Releaser<CERT_DestroyCertificate>>;
using CertificateListPtr = std::unique_ptr<CERTCertList, Releaser<CERT_DestroyCertList>>;
using PrivateKeyPtr = std::unique_ptr<SECKEYPrivateKey, Releaser<SECKEY_DestroyPrivateKey>>;
using PublicKeyPtr = std::unique_ptr<SECKEYPublicKey, Releaser<SECKEY_DestroyPublicKey>>;
using SlotPtr = std::unique_ptr<PK11SlotInfo, Releaser<PK11_FreeSlot>>;
using DigestInfoPtr = std::unique_ptr<SGNDigestInfo, Releaser<SGN_DestroyDigestInfo>>;
using ItemPtr = std::unique_ptr<SECItem, ItemReleaser>;
using NssText = std::unique_ptr<char, PortReleaser>;

}  // namespace tarvona::capi::nss
