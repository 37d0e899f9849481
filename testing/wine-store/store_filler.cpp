#include "testing/wine-store/store_filler.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "platform/own_path.h"
#include "windows/cryptoapi/cryptoapi_handles.h"

namespace tarvona::testing {
namespace {

using capi::cryptoapi::CertificateContext;
using capi::cryptoapi::KeyHandle;
using capi::cryptoapi::ProviderHandle;
using capi::cryptoapi::StoreHandle;

std::vector<BYTE> ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::wstring Wide(const std::string& text) { return {text.begin(), text.end()}; }

bool DeleteTree(const wchar_t* key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, key);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// A container of its own for the key: new, or emptied of an earlier import
// by importing over it.
std::string ImportKey(const std::string& container, std::vector<BYTE>& blob) {
  ProviderHandle provider;
  if (!CryptAcquireContextA(provider.out(), container.c_str(), nullptr, PROV_RSA_FULL,
                            CRYPT_NEWKEYSET) &&
      !CryptAcquireContextA(provider.out(), container.c_str(), nullptr, PROV_RSA_FULL, 0)) {
    return "no key container " + container;
  }
  KeyHandle key;
  if (!CryptImportKey(provider.get(), blob.data(), static_cast<DWORD>(blob.size()), 0, 0,
                      key.out())) {
    return "CryptImportKey refused the key of " + container;
  }
  return {};
}

std::string AddEntry(HCERTSTORE store, const std::filesystem::path& data, const StoreEntry& entry) {
  std::vector<BYTE> der = ReadBytes(data / (entry.name + ".cert.der"));
  if (der.empty()) return "no " + entry.name + ".cert.der in " + data.string();
  CertificateContext added;
  if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, added.out())) {
    return "the store refused " + entry.name;
  }
  if (!entry.with_key) return {};
  std::vector<BYTE> blob = ReadBytes(data / (entry.name + ".key.msblob"));
  if (blob.empty()) return "no " + entry.name + ".key.msblob in " + data.string();
  const std::string container = ContainerName(entry.name);
  if (std::string failure = ImportKey(container, blob); !failure.empty()) return failure;
  std::wstring wide_container = Wide(container);
  CRYPT_KEY_PROV_INFO where{};
  where.pwszContainerName = wide_container.data();
  where.dwProvType = PROV_RSA_FULL;
  where.dwKeySpec = AT_KEYEXCHANGE;
  if (!CertSetCertificateContextProperty(added.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &where)) {
    return "cannot name the key container of " + entry.name;
  }
  return {};
}

}  // namespace

std::vector<StoreEntry> StandardStoreEntries() {
  return {{"rsa1024"}, {"rsa2048"}, {"rsa2048b"}, {"rsa4096"}, {"serial2a", false}};
}

std::filesystem::path DefaultDataFolder() {
  return platform::OwnFolder().parent_path() / "testdata";
}

bool ResetStore() {
  return DeleteTree(L"Software\\Microsoft\\SystemCertificates\\My") &&
         DeleteTree(L"Software\\Wine\\Crypto\\RSA");
}

std::string FillStore(const std::filesystem::path& data, const std::vector<StoreEntry>& entries) {
  StoreHandle store(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
  if (!store) return "cannot open the MY store";
  for (const StoreEntry& entry : entries) {
    if (std::string failure = AddEntry(store.get(), data, entry); !failure.empty()) {
      return failure;
    }
  }
  return {};
}

std::string ContainerName(const std::string& name) { return "Tarvona Test " + name; }

}  // namespace tarvona::testing
