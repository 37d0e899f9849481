#pragma once

#include <windows.h>
// wincrypt.h builds on windows.h.
#include <wincrypt.h>

#include <memory>
#include <utility>

// Owners for the CryptoAPI handles of the store road: each releases its
// handle exactly once, on whatever path the owner goes out of scope.
namespace tarvona::capi::cryptoapi {

// A handle of integer or pointer type whose "none" is zero.
template <typename Handle, BOOL (*Release)(Handle)>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, Handle{});
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }
  // For calls that hand a new handle back through a pointer.
  Handle* out() {
    reset();
    return &handle_;
  }
  void reset() {
    if (handle_ != Handle{}) Release(std::exchange(handle_, Handle{}));
  }

 private:
  Handle handle_{};
};

namespace detail {
inline BOOL CloseStore(HCERTSTORE store) { return CertCloseStore(store, 0); }
inline BOOL ReleaseProvider(HCRYPTPROV provider) { return CryptReleaseContext(provider, 0); }
inline BOOL DestroyKey(HCRYPTKEY key) { return CryptDestroyKey(key); }
inline BOOL DestroyHash(HCRYPTHASH hash) { return CryptDestroyHash(hash); }
inline BOOL FreeCertificate(PCCERT_CONTEXT certificate) {
  return CertFreeCertificateContext(certificate);
}
}  // namespace detail

using StoreHandle = UniqueHandle<HCERTSTORE, detail::CloseStore>;
using ProviderHandle = UniqueHandle<HCRYPTPROV, detail::ReleaseProvider>;
using KeyHandle = UniqueHandle<HCRYPTKEY, detail::DestroyKey>;
using HashHandle = UniqueHandle<HCRYPTHASH, detail::DestroyHash>;
using CertificateContext = UniqueHandle<PCCERT_CONTEXT, detail::FreeCertificate>;

}  // namespace tarvona::capi::cryptoapi
