#pragma once

// An interface pointer held with a reference of its own, released when the
// holder goes: what the control module and the host keep of COM objects.
// Any type with AddRef and Release will do, so this needs no COM header.

namespace tarvona::platform {

template <typename T>
class Held {
 public:
  Held() = default;
  ~Held() { Reset(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  // Holds `p` (with a reference of its own), after releasing what was held.
  void Reset(T* p = nullptr) {
    if (p != nullptr) p->AddRef();
    if (ptr_ != nullptr) ptr_->Release();
    ptr_ = p;
  }
  // Hands a reference already taken (an out-parameter) to this holder.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

 private:
  T* ptr_ = nullptr;
};

}  // namespace tarvona::platform
