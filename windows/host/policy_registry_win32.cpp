// The machine's policy on Windows: the values of
// HKLM\Software\Policies\Tarvona, then of HKCU\Software\Policies\Tarvona
// (which only administrators can write, as Group Policy's user half
// does). Per setting the machine's value wins, Group Policy's own rule.
// Both are read in the 64-bit view, where Group Policy writes them, also
// by the 32-bit host.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "common/ascii.h"
#include "host/policy.h"
#include "host/system_message_win32.h"
#include "host/wide_text.h"

namespace tarvona::host {
namespace {

constexpr wchar_t kKey[] = L"Software\\Policies\\Tarvona";

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// A value in JSON's terms (see StoredSetting). `data` holds `size` bytes.
nlohmann::json ValueOf(DWORD type, const std::vector<BYTE>& data, DWORD size) {
  const auto* wide = reinterpret_cast<const wchar_t*>(data.data());
  const size_t chars = size / sizeof(wchar_t);
  switch (type) {
    case REG_DWORD: {
      DWORD number = 0;
      if (size != sizeof(number)) return nullptr;
      std::memcpy(&number, data.data(), sizeof(number));
      if (number <= 1) return number == 1;
      return number;
    }
    case REG_MULTI_SZ: {
      // NUL-terminated strings, the list ending with an empty one; empty
      // entries carry nothing and are passed over.
      nlohmann::json list = nlohmann::json::array();
      size_t start = 0;
      for (size_t i = 0; i <= chars; ++i) {
        if (i == chars || wide[i] == L'\0') {
          if (i > start) list.push_back(Utf8FromOle(wide + start, i - start));
          start = i + 1;
        }
      }
      return list;
    }
    case REG_SZ: {
      size_t length = chars;
      while (length > 0 && wide[length - 1] == L'\0') --length;
      return Utf8FromOle(wide, length);
    }
    default:
      return nullptr;
  }
}

// Registry value names are found whatever their case: a known one is
// given its own spelling.
std::string SettingName(std::string name) {
  for (std::string_view known : kPolicySettings) {
    if (EqualsIgnoringAsciiCase(name, known)) return std::string(known);
  }
  return name;
}

void ReadHive(HKEY root, const std::string& hive, StoredPolicy* stored) {
  const std::string where = hive + "\\Software\\Policies\\Tarvona";
  HKEY opened = nullptr;
  const LSTATUS status =
      RegOpenKeyExW(root, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened);
  if (status == ERROR_FILE_NOT_FOUND) return;
  if (status != ERROR_SUCCESS) {
    stored->problems.push_back(where + " cannot be read: " + SystemMessage(status));
    return;
  }
  UniqueKey key(opened);
  stored->read_from.push_back(where);
  DWORD longest_name = 0;
  DWORD largest_data = 0;
  LSTATUS queried = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, &longest_name, &largest_data, nullptr,
                                     nullptr);
  for (DWORD index = 0; queried == ERROR_SUCCESS; ++index) {
    std::wstring name(longest_name + 1, L'\0');
    std::vector<BYTE> data(largest_data + sizeof(wchar_t));
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD size = largest_data;
    DWORD type = 0;
    queried = RegEnumValueW(key.get(), index, name.data(), &name_length, nullptr, &type,
                            data.data(), &size);
    if (queried == ERROR_NO_MORE_ITEMS) return;
    if (queried == ERROR_MORE_DATA) {
      // Changed since it was measured: measure again and read it anew.
      queried = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, &longest_name, &largest_data, nullptr, nullptr);
      --index;
      continue;
    }
    if (queried != ERROR_SUCCESS) break;
    stored->settings.push_back(
        {SettingName(Utf8FromOle(name.data(), name_length)), ValueOf(type, data, size), where});
  }
  stored->problems.push_back(where + " cannot be read: " + SystemMessage(queried));
}

}  // namespace

StoredPolicy ReadStoredPolicy() {
  StoredPolicy stored;
  stored.list_form = "a REG_MULTI_SZ of origins";
  stored.switch_form = "a REG_DWORD of 0 or 1";
  ReadHive(HKEY_LOCAL_MACHINE, "HKLM", &stored);
  ReadHive(HKEY_CURRENT_USER, "HKCU", &stored);
  return stored;
}

}  // namespace tarvona::host
