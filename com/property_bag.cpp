#include "com/ole_control.h"
#include "common/ascii.h"

namespace tarvona::com {
namespace {

bool SameName(const std::string& a, const char* b) { return EqualsIgnoringAsciiCase(a, b); }

}  // namespace

HRESULT MemoryPropertyBag::QueryInterface(const IID& iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IPropertyBag::kIid) return E_NOINTERFACE;
  *out = static_cast<IPropertyBag*>(this);
  return S_OK;
}

HRESULT MemoryPropertyBag::Read(const char* name, Variant* value) noexcept {
  if (name == nullptr || value == nullptr) return E_POINTER;
  return Guarded([&] {
    for (const auto& [stored_name, stored] : values_) {
      if (SameName(stored_name, name)) return ChangeType(stored, TypeOf(*value), value);
    }
    return E_INVALIDARG;
  });
}

HRESULT MemoryPropertyBag::Write(const char* name, const Variant* value) noexcept {
  if (name == nullptr || value == nullptr) return E_POINTER;
  return Guarded([&] {
    for (auto& [stored_name, stored] : values_) {
      if (SameName(stored_name, name)) {
        stored = *value;
        return S_OK;
      }
    }
    values_.emplace_back(name, *value);
    return S_OK;
  });
}

}  // namespace tarvona::com
