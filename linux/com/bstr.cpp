// BSTRs and task memory. A BSTR's block holds a pad to keep the text
// 8-byte aligned, the text's byte count (32 bits) just before the text,
// the text, and a 16-bit NUL.
#include <cstdlib>
#include <cstring>

#include <objbase.h>
#include <oleauto.h>

namespace {

constexpr size_t kHeader = 8;  // pad + byte count

char* BlockOf(BSTR text) { return reinterpret_cast<char*>(text) - kHeader; }

}  // namespace

extern "C" LPVOID CoTaskMemAlloc(SIZE_T size) { return std::malloc(size == 0 ? 1 : size); }

extern "C" void CoTaskMemFree(LPVOID block) { std::free(block); }

extern "C" BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  const size_t bytes = size_t{length} * sizeof(OLECHAR);
  if (bytes > UINT32_MAX - kHeader - sizeof(OLECHAR)) return nullptr;
  char* block = static_cast<char*>(std::malloc(kHeader + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const uint32_t count = static_cast<uint32_t>(bytes);
  std::memcpy(block + kHeader - sizeof count, &count, sizeof count);
  BSTR result = reinterpret_cast<BSTR>(block + kHeader);
  if (text != nullptr) {
    std::memcpy(result, text, bytes);
  } else {
    std::memset(result, 0, bytes);  // Windows leaves it undefined; zero is kinder
  }
  result[length] = 0;
  return result;
}

extern "C" BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  UINT length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

extern "C" void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(BlockOf(text));
}

extern "C" UINT SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  uint32_t count = 0;
  std::memcpy(&count, BlockOf(text) + kHeader - sizeof count, sizeof count);
  return count;
}

extern "C" UINT SysStringLen(BSTR text) {
  return SysStringByteLen(text) / static_cast<UINT>(sizeof(OLECHAR));
}
