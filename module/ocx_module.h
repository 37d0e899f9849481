#pragma once

// What the parts of the in-process server share: the module's instance and
// live-object count, its identities as Windows GUIDs, and the conversions
// between the caller's wide text and the control's 8-bit text. The same
// source builds against Windows' headers and against the Linux COM runtime
// (linux/com); what differs is in ocx_platform.h.

#include <oleauto.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "module/ocx_platform.h"

#include "common/control_identity.h"

namespace tarvona::ocx {

inline constexpr GUID kControlClsid = identity::ToGuid<GUID>(identity::kControlClsid);
inline constexpr GUID kPageClsid = identity::ToGuid<GUID>(identity::kPageClsid);
inline constexpr GUID kLibId = identity::ToGuid<GUID>(identity::kLibId);
inline constexpr GUID kDispatchIid = identity::ToGuid<GUID>(identity::kDispatchIid);
inline constexpr GUID kEventsIid = identity::ToGuid<GUID>(identity::kEventsIid);

// The module file's instance (set when it is loaded).
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Objects the module has created and that are still alive, and locks taken
// through IClassFactory::LockServer: while either is non-zero the module
// must stay loaded.
void LockModule();
void UnlockModule();
bool ModuleInUse();

// Holds the module for as long as it lives.
struct ModuleLock {
  ModuleLock() { LockModule(); }
  ~ModuleLock() { UnlockModule(); }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
};

// The caller's wide text as the control's 8-bit text in the ANSI code
// page, and back. Characters the code page lacks become its default
// character. ToBstr gives null only when memory is exhausted.
std::string ToAnsi(const OLECHAR* text, size_t length);
BSTR ToBstr(std::string_view text);
OleString ToOleString(std::string_view text);

// A copy in task memory (CoTaskMemAlloc) with its NUL; null when memory is
// exhausted.
LPOLESTR TaskMemoryCopy(const OleString& text);

// Windows' own argument coercion (VariantChangeType) to a parameter's
// type: VT_I4, VT_I2 or VT_BSTR.
HRESULT CoerceArgument(const VARIANT& from, VARTYPE to, VARIANT& out);

}  // namespace tarvona::ocx
