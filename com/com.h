#pragma once

// The binary shape of COM that module and host share: interfaces are
// abstract classes whose virtual functions come in COM's order, every object
// counts its references, and interfaces are asked for by IID. Nothing of it
// throws. On Windows the real declarations take the place of this header.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/variant.h"

namespace tarvona::com {

using ULONG = uint32_t;
using DISPID = int32_t;
using LCID = uint32_t;

inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;
inline constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;

class IUnknown {
 public:
  static constexpr IID kIid = {
      0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT QueryInterface(const IID& iid, void** out) noexcept = 0;
  virtual ULONG AddRef() noexcept = 0;
  virtual ULONG Release() noexcept = 0;

 protected:
  ~IUnknown() = default;  // objects go away through Release only
};

class IClassFactory : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) noexcept = 0;
  virtual HRESULT LockServer(bool lock) noexcept = 0;

 protected:
  ~IClassFactory() = default;
};

class ITypeInfo;

inline constexpr uint16_t DISPATCH_METHOD = 0x1;
inline constexpr uint16_t DISPATCH_PROPERTYGET = 0x2;
inline constexpr uint16_t DISPATCH_PROPERTYPUT = 0x4;
inline constexpr DISPID DISPID_UNKNOWN = -1;

// Arguments of one call. Unlike a binary DISPPARAMS the positional
// arguments are in natural order (first parameter first), and so is the
// position reported through Invoke's arg_err.
struct DispParams {
  const Variant* args = nullptr;
  uint32_t count = 0;
  const DISPID* named_args = nullptr;
  uint32_t named_count = 0;
};

struct ExcepInfo {
  uint16_t code = 0;
  std::string source;
  std::string description;
  HRESULT scode = S_OK;
};

class IDispatch : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT GetTypeInfoCount(uint32_t* count) noexcept = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) noexcept = 0;
  // Names are UTF-8: the member first, then its parameters.
  virtual HRESULT GetIDsOfNames(const IID& iid, const char* const* names, uint32_t count, LCID lcid,
                                DISPID* ids) noexcept = 0;
  virtual HRESULT Invoke(DISPID member, const IID& iid, LCID lcid, uint16_t flags,
                         const DispParams* params, Variant* result, ExcepInfo* excep,
                         uint32_t* arg_err) noexcept = 0;

 protected:
  ~IDispatch() = default;
};

inline constexpr IID IID_IUnknown = IUnknown::kIid;
inline constexpr IID IID_IClassFactory = IClassFactory::kIid;
inline constexpr IID IID_IDispatch = IDispatch::kIid;

// Runs a method body that may allocate; what would escape as an exception
// becomes an HRESULT, as nothing may cross an interface boundary.
template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// Memory handed from one module to another; the receiver frees it.
inline void* CoTaskMemAlloc(size_t size) noexcept { return std::malloc(size); }
inline void CoTaskMemFree(void* p) noexcept { std::free(p); }

// A heap object with one interface (besides IUnknown): it counts its
// references and deletes itself when the last one goes.
template <typename Interface>
class ComObject : public Interface {
 public:
  HRESULT QueryInterface(const IID& iid, void** out) noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IUnknown::kIid && iid != Interface::kIid) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG AddRef() noexcept override { return ++references_; }
  ULONG Release() noexcept override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> references_{1};
};

// Owns one reference to an interface.
template <typename T>
class ComPtr {
 public:
  constexpr ComPtr() noexcept = default;
  constexpr ComPtr(std::nullptr_t) noexcept {}  // NOLINT: as a null pointer converts
  ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller owns.
  static ComPtr Adopt(T* p) noexcept {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  // Adds a reference of its own.
  static ComPtr Share(T* p) noexcept {
    if (p != nullptr) p->AddRef();
    return Adopt(p);
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For an out-parameter: releases what is held first.
  T** put() noexcept {
    Reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

  // Another interface of the same object, by its kIid.
  template <typename U>
  HRESULT As(ComPtr<U>* out) const noexcept {
    if (p_ == nullptr) return E_POINTER;
    return p_->QueryInterface(U::kIid, out->put_void());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace tarvona::com
