#include "ocx_module.h"

#include <atomic>

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

std::wstring ModuleFileName() {
  std::wstring name(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(g_instance, name.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  name.resize(length);
  return name;
}

std::wstring LoadModuleString(UINT id) {
  // Length 0 asks for a pointer into the resource itself.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(g_instance, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return std::wstring(text, static_cast<size_t>(length));
}

std::string ToAnsi(const wchar_t* text, size_t length) {
  if (text == nullptr || length == 0) return {};
  const int wide = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string ansi(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wide, ansi.data(), size, nullptr, nullptr);
  return ansi;
}

BSTR ToBstr(std::string_view text) {
  if (text.empty()) return SysAllocStringLen(L"", 0);
  const int narrow = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, nullptr, 0);
  if (size <= 0) return SysAllocStringLen(L"", 0);
  BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(size));
  if (wide == nullptr) return nullptr;
  MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, wide, size);
  return wide;
}

HRESULT CoerceArgument(const VARIANT& from, VARTYPE to, VARIANT& out) {
  VariantInit(&out);
  // The conversion rules of the system's automation, user locale
  // included: "65536" becomes a long, 70000 does not fit a short.
  return VariantChangeType(&out, const_cast<VARIANT*>(&from), 0, to);
}

}  // namespace tarvona::ocx
