// The system's certificate selection dialog over the "MY" store.
#include <cryptuiapi.h>

#include <string>
#include <vector>

#include "windows/cryptoapi/cryptoapi_handles.h"
#include "windows/cryptoapi/cryptoapi_platform.h"
#include "windows/cryptoapi/cryptoapi_store.h"

namespace tarvona::capi::cryptoapi {
namespace {

// ANSI text (the process's code page) as the dialog takes it.
std::wstring Wide(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// What the dialog says above the list: who asks and what for. Empty (the
// dialog's own text) for a program using the certificate alone.
std::wstring Prompt(const Request& request) {
  std::wstring what;
  switch (request.purpose) {
    case Purpose::kSign:
      what = L"Choose the certificate to sign with";
      break;
    case Purpose::kDecrypt:
      what = L"Choose the certificate to decrypt with";
      break;
    case Purpose::kUse:
      if (request.requester.empty()) return {};
      what = L"Choose a certificate";
      break;
  }
  if (!request.requester.empty()) what += L" for " + Wide(request.requester);
  return what + L".";
}

// A store in memory holding the certificates of `store` whose private key
// it holds, in the store's order, their properties (the key's place among
// them) copied along.
StoreHandle WithPrivateKeys(HCERTSTORE store) {
  std::vector<CertificateContext> keyed;
  for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context != nullptr;
       context = CertEnumCertificatesInStore(store, context)) {
    if (HoldsPrivateKey(context)) keyed.emplace_back(CertDuplicateCertificateContext(context));
  }
  // Wine's memory stores list the newest first: whichever way this one
  // lists, it is filled so that it lists as the store does.
  for (bool reverse : {false, true}) {
    StoreHandle memory(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!memory) return {};
    for (size_t i = 0; i < keyed.size(); ++i) {
      const CertificateContext& next = keyed[reverse ? keyed.size() - 1 - i : i];
      if (!CertAddCertificateContextToStore(memory.get(), next.get(), CERT_STORE_ADD_ALWAYS,
                                            nullptr)) {
        return {};
      }
    }
    CertificateContext first(CertEnumCertificatesInStore(memory.get(), nullptr));
    if (keyed.size() < 2 || reverse ||
        CertCompareCertificate(X509_ASN_ENCODING, first.get()->pCertInfo,
                               keyed.front().get()->pCertInfo)) {
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
  if (request.purpose != Purpose::kUse) {
    store = WithPrivateKeys(store.get());
    if (!store) return nullptr;
  }
  const std::wstring prompt = Prompt(request);
  CertificateContext chosen(CryptUIDlgSelectCertificateFromStore(
      store.get(), nullptr, nullptr, prompt.empty() ? nullptr : prompt.c_str(),
      CRYPTUI_SELECT_LOCATION_COLUMN, 0, nullptr));
  if (!chosen) return nullptr;
  return WrapCertificate(std::move(chosen));
}

}  // namespace tarvona::capi::cryptoapi
