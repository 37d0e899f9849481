// Memory device contexts and DIB sections. The runtime owns both kinds of
// handle: each is looked up in its table before use, so a stale or foreign
// handle fails as in GDI instead of being followed. Pixels are Windows'
// DIB bytes, blue, green, red and a zero fourth, whatever COLORREF's order.
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include <wingdi.h>

struct HBITMAP__ {
  LONG width = 1;
  LONG height = 1;
  bool top_down = true;
  std::vector<BYTE> bits;  // empty for the stock bitmap, which takes no paint
  HDC selected_in = nullptr;

  BYTE* At(LONG x, LONG y) {
    if (bits.empty()) return nullptr;
    const LONG row = top_down ? y : height - 1 - y;
    return bits.data() + (static_cast<size_t>(row) * static_cast<size_t>(width) + x) * 4;
  }
};

namespace {

// What a memory context has selected before anything else, shared by all.
HBITMAP__ stock_bitmap;

class MemoryDC final : public HDC__ {
 public:
  LONG Width() const override { return selected->width; }
  LONG Height() const override { return selected->height; }
  void Paint(LONG x, LONG y, COLORREF color) override {
    if (BYTE* pixel = selected->At(x, y)) {
      pixel[0] = GetBValue(color);
      pixel[1] = GetGValue(color);
      pixel[2] = GetRValue(color);
      pixel[3] = 0;
    }
  }

  HBITMAP__* selected = &stock_bitmap;
};

struct Handles {
  std::mutex lock;
  std::unordered_map<HDC, std::unique_ptr<MemoryDC>> dcs;
  std::unordered_map<HBITMAP, std::unique_ptr<HBITMAP__>> bitmaps;

  MemoryDC* Dc(HDC dc) {
    const auto found = dcs.find(dc);
    return found == dcs.end() ? nullptr : found->second.get();
  }
  HBITMAP__* Bitmap(HGDIOBJ object) {
    const auto handle = static_cast<HBITMAP>(object);
    if (handle == &stock_bitmap) return &stock_bitmap;
    const auto found = bitmaps.find(handle);
    return found == bitmaps.end() ? nullptr : found->second.get();
  }
};

Handles& handles() {
  static Handles all;
  return all;
}

// Room for the largest bitmap a 32-bit GDI makes.
constexpr size_t kMaxBytes = 0x7FFFFFFF;

}  // namespace

extern "C" HDC CreateCompatibleDC(HDC) {
  Handles& all = handles();
  const std::lock_guard hold(all.lock);
  try {
    auto dc = std::make_unique<MemoryDC>();
    HDC handle = dc.get();
    all.dcs.emplace(handle, std::move(dc));
    return handle;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

extern "C" BOOL DeleteDC(HDC dc) {
  Handles& all = handles();
  const std::lock_guard hold(all.lock);
  MemoryDC* memory = all.Dc(dc);
  if (memory == nullptr) return FALSE;
  if (memory->selected != &stock_bitmap) memory->selected->selected_in = nullptr;
  all.dcs.erase(dc);
  return TRUE;
}

extern "C" HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits,
                                    HANDLE section, DWORD) {
  if (bits != nullptr) *bits = nullptr;
  if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr) return nullptr;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
      header.biHeight == INT32_MIN || header.biPlanes != 1 || header.biBitCount != 32 ||
      header.biCompression != BI_RGB) {
    return nullptr;
  }
  const auto width = static_cast<size_t>(header.biWidth);
  const auto height = static_cast<size_t>(std::labs(header.biHeight));
  if (width > kMaxBytes / 4 / height) return nullptr;
  Handles& all = handles();
  const std::lock_guard hold(all.lock);
  try {
    auto bitmap = std::make_unique<HBITMAP__>();
    bitmap->width = header.biWidth;
    bitmap->height = static_cast<LONG>(height);
    bitmap->top_down = header.biHeight < 0;
    bitmap->bits.resize(width * height * 4);
    HBITMAP handle = bitmap.get();
    if (bits != nullptr) *bits = bitmap->bits.data();
    all.bitmaps.emplace(handle, std::move(bitmap));
    return handle;
  } catch (const std::bad_alloc&) {
    if (bits != nullptr) *bits = nullptr;
    return nullptr;
  }
}

extern "C" HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  Handles& all = handles();
  const std::lock_guard hold(all.lock);
  MemoryDC* memory = all.Dc(dc);
  HBITMAP__* bitmap = all.Bitmap(object);
  if (memory == nullptr || bitmap == nullptr) return nullptr;
  HBITMAP__* previous = memory->selected;
  if (bitmap == previous) return previous;
  if (bitmap != &stock_bitmap) {
    if (bitmap->selected_in != nullptr) return nullptr;
    bitmap->selected_in = dc;
  }
  if (previous != &stock_bitmap) previous->selected_in = nullptr;
  memory->selected = bitmap;
  return previous;
}

extern "C" BOOL DeleteObject(HGDIOBJ object) {
  Handles& all = handles();
  const std::lock_guard hold(all.lock);
  HBITMAP__* bitmap = all.Bitmap(object);
  if (bitmap == nullptr || bitmap->selected_in != nullptr) return FALSE;
  if (bitmap != &stock_bitmap) all.bitmaps.erase(bitmap);
  return TRUE;
}

extern "C" BOOL SetPixelV(HDC target, int x, int y, COLORREF color) {
  if (target == nullptr || x < 0 || y < 0 || x >= target->Width() || y >= target->Height()) {
    return FALSE;
  }
  target->Paint(x, y, color);
  return TRUE;
}

extern "C" COLORREF GetPixel(HDC source, int x, int y) {
  Handles& all = handles();
  const std::lock_guard hold(all.lock);
  MemoryDC* memory = all.Dc(source);
  if (memory == nullptr || x < 0 || y < 0 || x >= memory->Width() || y >= memory->Height()) {
    return CLR_INVALID;
  }
  const BYTE* pixel = memory->selected->At(x, y);
  return pixel == nullptr ? RGB(0, 0, 0) : RGB(pixel[2], pixel[1], pixel[0]);
}
