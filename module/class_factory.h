#pragma once

#include <windows.h>

#include <vector>

#include "common/registration_record.h"
#include "module/ocx_platform.h"

namespace tarvona::ocx {

// DllGetClassObject and DllCanUnloadNow.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT CanUnloadNow();

// DllRegisterServer and DllUnregisterServer.
HRESULT RegisterServer();
HRESULT UnregisterServer();

// Writes the record's rows of one writer, the module file's names and
// `win` (the type library's platform key) in place of the placeholders;
// false at the first row that cannot be written.
bool WriteRecordRows(registration::Writer writer, const OleString& win);
// The keys that one writer's rows lie under: CLSID\{...}, TypeLib\{...},
// Interface\{...} or a ProgID.
std::vector<OleString> RecordRoots(registration::Writer writer);
// Deletes `key` under HKEY_CLASSES_ROOT with everything below it; true
// when it is gone, or was never there.
bool RemoveTree(const OleString& key);

}  // namespace tarvona::ocx
