// Conversions between COM's UTF-16 and the 8-bit text of Linux programs.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include <stringapiset.h>

#include "linux/com/wide_text.h"

namespace {

// Copies `converted` out as Windows does: all of it, or 0 when it does
// not fit; a size of 0 only measures.
template <typename Unit>
int Deliver(const std::basic_string<Unit>& converted, Unit* out, int out_size) {
  const size_t size = converted.size();
  if (size > static_cast<size_t>(INT32_MAX)) return 0;
  if (out_size == 0) return static_cast<int>(size);
  if (out == nullptr || out_size < 0 || static_cast<size_t>(out_size) < size) return 0;
  std::copy(converted.begin(), converted.end(), out);
  return static_cast<int>(size);
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT code_page, DWORD, LPCSTR text, int length, LPWSTR out,
                                   int out_size) {
  if ((code_page != CP_ACP && code_page != CP_UTF8) || text == nullptr || length == 0 ||
      length < -1) {
    return 0;
  }
  const size_t count = length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  try {
    return Deliver(tarvona::linux_com::Utf8ToUtf16(std::string_view(text, count)), out, out_size);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

extern "C" int WideCharToMultiByte(UINT code_page, DWORD, LPCWSTR text, int length, LPSTR out,
                                   int out_size, LPCSTR, BOOL* used_default) {
  if ((code_page != CP_ACP && code_page != CP_UTF8) || text == nullptr || length == 0 ||
      length < -1) {
    return 0;
  }
  if (used_default != nullptr) *used_default = FALSE;
  const size_t count = length == -1 ? std::u16string_view(text).size() + 1 : static_cast<size_t>(length);
  try {
    return Deliver(tarvona::linux_com::Utf16ToUtf8(std::u16string_view(text, count)), out, out_size);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
