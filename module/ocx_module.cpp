#include "module/ocx_module.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace tarvona::ocx {
namespace {

HINSTANCE g_instance = nullptr;
std::atomic<long> g_in_use{0};

}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

void LockModule() { ++g_in_use; }
void UnlockModule() { --g_in_use; }
bool ModuleInUse() { return g_in_use.load() != 0; }

LPOLESTR TaskMemoryCopy(const OleString& text) {
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (copy != nullptr) std::copy(text.c_str(), text.c_str() + text.size() + 1, copy);
  return copy;
}

std::string ToAnsi(const OLECHAR* text, size_t length) {
  if (text == nullptr || length == 0) return {};
  const int wide = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string ansi(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wide, ansi.data(), size, nullptr, nullptr);
  return ansi;
}

OleString ToOleString(std::string_view text) {
  if (text.empty()) return {};
  const int narrow = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, nullptr, 0);
  if (size <= 0) return {};
  OleString wide(static_cast<size_t>(size), OLECHAR{0});
  MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, wide.data(), size);
  return wide;
}

BSTR ToBstr(std::string_view text) {
  try {
    const OleString wide = ToOleString(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HRESULT CoerceArgument(const VARIANT& from, VARTYPE to, VARIANT& out) {
  VariantInit(&out);
  // The conversion rules of the system's automation, user locale
  // included: "65536" becomes a long, 70000 does not fit a short.
  return VariantChangeType(&out, const_cast<VARIANT*>(&from), 0, to);
}

}  // namespace tarvona::ocx
