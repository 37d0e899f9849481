// The system's certificate selection dialog over the "MY" store.
#include <cryptuiapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/translation.h"
#include "windows/cryptoapi/cryptoapi_handles.h"
#include "windows/cryptoapi/cryptoapi_platform.h"
#include "windows/cryptoapi/cryptoapi_store.h"

namespace tarvona::capi::cryptoapi {
namespace {

// UTF-8 text as the dialog takes it.
std::wstring Wide(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// What the dialog says above the list, in the user's language: who asks
// and what for. Empty (the dialog's own text) for a program using the
// certificate alone. The rest of the dialog is the system's, in the
// system's language.
std::wstring Prompt(const Request& request) {
  if (request.purpose == Purpose::kUse && request.requester.empty()) return {};
  return Wide(RequestLine(request.purpose, request.requester, &platform::Translate) + ".");
}

// A store in memory holding the certificates of `store` that can serve
// `purpose` (for signing and decryption those whose private key it holds),
// those out of their validity last, each group in the store's order; their
// properties (the key's place among them) are copied along. The system's
// dialog cannot grey a certificate: its own expiration column tells.
StoreHandle Offered(HCERTSTORE store, Purpose purpose) {
  std::vector<CertificateContext> offered;
  for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context != nullptr;
       context = CertEnumCertificatesInStore(store, context)) {
    if (purpose != Purpose::kUse && !HoldsPrivateKey(context)) continue;
    offered.emplace_back(CertDuplicateCertificateContext(context));
  }
  std::stable_partition(offered.begin(), offered.end(), [](const CertificateContext& context) {
    return ValidityNow(context.get()) == Validity::kValid;
  });
  // Wine's memory stores list the newest first: whichever way this one
  // lists, it is filled so that it lists in the order wanted.
  for (bool reverse : {false, true}) {
    StoreHandle memory(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!memory) return {};
    for (size_t i = 0; i < offered.size(); ++i) {
      const CertificateContext& next = offered[reverse ? offered.size() - 1 - i : i];
      if (!CertAddCertificateContextToStore(memory.get(), next.get(), CERT_STORE_ADD_ALWAYS,
                                            nullptr)) {
        return {};
      }
    }
    CertificateContext first(CertEnumCertificatesInStore(memory.get(), nullptr));
    if (offered.size() < 2 || reverse ||
        CertCompareCertificate(X509_ASN_ENCODING, first.get()->pCertInfo,
                               offered.front().get()->pCertInfo)) {
      return memory;
    }
  }
  return {};
}

}  // namespace

std::unique_ptr<Certificate> CryptUiPicker::Choose() { return ChooseFor(Request{}); }

std::unique_ptr<Certificate> CryptUiPicker::ChooseFor(const Request& request) {
  StoreHandle store = OpenMyStore();
  if (!store) return nullptr;
  // A certificate without its key could only fail after the user chose it.
  store = Offered(store.get(), request.purpose);
  if (!store) return nullptr;
  const std::wstring prompt = Prompt(request);
  CertificateContext chosen(CryptUIDlgSelectCertificateFromStore(
      store.get(), nullptr, nullptr, prompt.empty() ? nullptr : prompt.c_str(),
      CRYPTUI_SELECT_LOCATION_COLUMN, 0, nullptr));
  if (!chosen) return nullptr;
  return WrapCertificate(std::move(chosen));
}

}  // namespace tarvona::capi::cryptoapi
