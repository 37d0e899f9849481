// The registry calls over HKEY_CLASSES_ROOT as the Linux hosts see it: the
// user's classes file over the machine's (com::ClassesRoot), found anew at
// each call. An open key is its path below the root.
#include <cstring>
#include <new>
#include <string>

#include <winreg.h>

#include "linux/com/classes_root.h"
#include "linux/com/wide_text.h"

struct HKEY__ {
  std::string path;  // UTF-8, components separated by '\'
};

namespace {

namespace com = tarvona::linux_com;

std::string Utf8(LPCWSTR text) {
  if (text == nullptr) return {};
  return com::Utf16ToUtf8(std::u16string_view(text));
}

// The full path of `subkey` below `key`; false for a key that is no key.
bool PathOf(HKEY key, LPCWSTR subkey, std::string& path) {
  if (key == nullptr) return false;
  path = key == HKEY_CLASSES_ROOT ? std::string() : key->path;
  const std::string below = Utf8(subkey);
  if (!below.empty()) path += path.empty() ? below : "\\" + below;
  return true;
}

LSTATUS Open(const std::string& path, PHKEY result) {
  *result = new (std::nothrow) HKEY__{path};
  return *result == nullptr ? ERROR_OUTOFMEMORY : ERROR_SUCCESS;
}

}  // namespace

extern "C" LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD, LPWSTR, DWORD, REGSAM,
                                   const SECURITY_ATTRIBUTES*, PHKEY result, DWORD* disposition) {
  std::string path;
  if (result == nullptr || !PathOf(key, subkey, path)) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  try {
    com::ClassesRoot root;
    const bool existed = root.KeyExists(path) == ERROR_SUCCESS;
    if (!existed) {
      const LSTATUS status = root.CreateKey(path);
      if (status != ERROR_SUCCESS) return status;
    }
    if (disposition != nullptr) {
      *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    return Open(path, result);
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

extern "C" LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD, REGSAM, PHKEY result) {
  std::string path;
  if (result == nullptr || !PathOf(key, subkey, path)) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  try {
    const LSTATUS status = com::ClassesRoot().KeyExists(path);
    return status == ERROR_SUCCESS ? Open(path, result) : status;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

extern "C" LSTATUS RegCloseKey(HKEY key) {
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (key != HKEY_CLASSES_ROOT) delete key;
  return ERROR_SUCCESS;
}

extern "C" LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                                  DWORD size) {
  std::string path;
  if (!PathOf(key, nullptr, path) || type != REG_SZ || size % sizeof(WCHAR) != 0 ||
      (data == nullptr && size != 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  try {
    std::u16string text(size / sizeof(WCHAR), u'\0');
    if (size != 0) std::memcpy(text.data(), data, size);
    // The count takes the NUL in; the text ends at it.
    text.resize(std::u16string_view(text.c_str()).size());
    return com::ClassesRoot().SetValue(path, Utf8(name), com::Utf16ToUtf8(text));
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

extern "C" LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data,
                                    DWORD* size) {
  std::string path;
  if (!PathOf(key, nullptr, path) || (data != nullptr && size == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  try {
    std::string value;
    const LSTATUS status = com::ClassesRoot().QueryValue(path, Utf8(name), &value);
    if (status != ERROR_SUCCESS) return status;
    const std::u16string text = com::Utf8ToUtf16(value);
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    if (type != nullptr) *type = REG_SZ;
    if (size == nullptr) return ERROR_SUCCESS;
    const DWORD room = *size;
    *size = needed;
    if (data == nullptr) return ERROR_SUCCESS;
    if (room < needed) return ERROR_MORE_DATA;
    std::memcpy(data, text.c_str(), needed);
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

extern "C" LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subkey) {
  std::string path;
  if (!PathOf(key, subkey, path) || path.empty()) return ERROR_INVALID_PARAMETER;
  try {
    com::ClassesRoot root;
    const LSTATUS status = root.DeleteTree(path);
    // Without a subkey the key itself stays, emptied.
    if (status == ERROR_SUCCESS && subkey == nullptr) return root.CreateKey(path);
    return status;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}
