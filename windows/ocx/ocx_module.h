#pragma once

// What the parts of the in-process server share: the module's instance and
// live-object count, its identities as Windows GUIDs, and the conversions
// between the caller's wide text and the control's 8-bit text.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "common/control_identity.h"

namespace tarvona::ocx {

constexpr GUID ToGuid(const identity::Guid& g) {
  return {g.data1, g.data2, g.data3,
          {g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
           g.data4[7]}};
}

inline constexpr GUID kControlClsid = ToGuid(identity::kControlClsid);
inline constexpr GUID kPageClsid = ToGuid(identity::kPageClsid);
inline constexpr GUID kLibId = ToGuid(identity::kLibId);
inline constexpr GUID kDispatchIid = ToGuid(identity::kDispatchIid);
inline constexpr GUID kEventsIid = ToGuid(identity::kEventsIid);

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

// The module file's full name (GetModuleFileName); empty on failure.
std::wstring ModuleFileName();

// A string resource of the module; empty when it is missing.
std::wstring LoadModuleString(UINT id);

// The caller's wide text as the control's 8-bit text in the ANSI code page,
// and back. Characters the code page lacks become its default character.
std::string ToAnsi(const wchar_t* text, size_t length);
// A new BSTR (null only when memory is exhausted).
BSTR ToBstr(std::string_view text);

// Windows' own argument coercion (VariantChangeType) to a parameter's
// type: VT_I4, VT_I2 or VT_BSTR.
HRESULT CoerceArgument(const VARIANT& from, VARTYPE to, VARIANT& out);

}  // namespace tarvona::ocx
