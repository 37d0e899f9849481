#include "com/drawing.h"

#include "com/byte_io.h"

namespace tarvona::com {
namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr int32_t kLargestSide = 4096;

size_t RowBytes(int32_t width) { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }

}  // namespace

Bitmap::Bitmap(int32_t width, int32_t height)
    : width_(width),
      height_(height),
      pixels_(static_cast<size_t>(width) * static_cast<size_t>(height), Rgb{0, 0, 0}) {}

std::vector<uint8_t> EncodeDib(const Bitmap& bitmap) {
  ByteWriter out;
  const size_t row = RowBytes(bitmap.width());
  out.Put32(kInfoHeaderSize);
  out.Put32(static_cast<uint32_t>(bitmap.width()));
  out.Put32(static_cast<uint32_t>(bitmap.height()));  // positive: bottom-up
  out.Put16(1);                                       // planes
  out.Put16(24);                                      // bits per pixel
  out.Put32(0);                                       // BI_RGB
  out.Put32(static_cast<uint32_t>(row * static_cast<size_t>(bitmap.height())));
  out.Put32(3780);  // 96 dpi, in pixels per metre
  out.Put32(3780);
  out.Put32(0);
  out.Put32(0);
  for (int32_t y = bitmap.height() - 1; y >= 0; --y) {
    for (int32_t x = 0; x < bitmap.width(); ++x) {
      Rgb c = bitmap.Pixel(x, y);
      out.Put8(c.b);
      out.Put8(c.g);
      out.Put8(c.r);
    }
    for (size_t pad = static_cast<size_t>(bitmap.width()) * 3; pad < row; ++pad) out.Put8(0);
  }
  return std::move(out.bytes());
}

std::optional<Bitmap> DecodeDib(std::span<const uint8_t> dib) {
  ByteReader in(dib);
  uint32_t header_size = 0, width = 0, height = 0, compression = 0;
  uint16_t planes = 0, bits = 0;
  if (!in.Get32(header_size) || header_size < kInfoHeaderSize || !in.Get32(width) ||
      !in.Get32(height) || !in.Get16(planes) || !in.Get16(bits) || !in.Get32(compression) ||
      planes != 1 || bits != 24 || compression != 0) {
    return std::nullopt;
  }
  const auto w = static_cast<int32_t>(width);
  const auto signed_height = static_cast<int32_t>(height);
  const bool top_down = signed_height < 0;
  const int32_t h = top_down ? -signed_height : signed_height;
  if (w <= 0 || w > kLargestSide || h <= 0 || h > kLargestSide) return std::nullopt;
  const size_t row = RowBytes(w);
  if (dib.size() < header_size || dib.size() - header_size < row * static_cast<size_t>(h)) {
    return std::nullopt;
  }
  Bitmap bitmap(w, h);
  for (int32_t r = 0; r < h; ++r) {
    const uint8_t* p = dib.data() + header_size + row * static_cast<size_t>(r);
    const int32_t y = top_down ? r : h - 1 - r;
    for (int32_t x = 0; x < w; ++x, p += 3) bitmap.SetPixel(x, y, {p[2], p[1], p[0]});
  }
  return bitmap;
}

std::optional<Bitmap> LoadBitmap(const ResourceSet& resources, uint32_t id) {
  auto dib = resources.Find(RT_BITMAP, id);
  if (dib.empty()) return std::nullopt;
  return DecodeDib(dib);
}

MemorySurface::MemorySurface(int32_t width, int32_t height, Rgb background)
    : width_(width), height_(height) {
  rgb_.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int32_t i = 0; i < width * height; ++i) {
    rgb_.insert(rgb_.end(), {background.r, background.g, background.b});
  }
}

void MemorySurface::SetPixel(int32_t x, int32_t y, Rgb color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3;
  rgb_[i] = color.r;
  rgb_[i + 1] = color.g;
  rgb_[i + 2] = color.b;
}

Rgb MemorySurface::Pixel(int32_t x, int32_t y) const {
  size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3;
  return {rgb_[i], rgb_[i + 1], rgb_[i + 2]};
}

void StretchBlt(DrawingSurface& target, int32_t x, int32_t y, int32_t width, int32_t height,
                const Bitmap& source, int32_t sx, int32_t sy, int32_t swidth, int32_t sheight) {
  if (width <= 0 || height <= 0 || swidth <= 0 || sheight <= 0) return;
  for (int32_t dy = 0; dy < height; ++dy) {
    if (y + dy < 0 || y + dy >= target.Height()) continue;
    // The source pixel under the centre of the target pixel.
    const int64_t py = sy + (int64_t{2} * dy + 1) * sheight / (int64_t{2} * height);
    for (int32_t dx = 0; dx < width; ++dx) {
      if (x + dx < 0 || x + dx >= target.Width()) continue;
      const int64_t px = sx + (int64_t{2} * dx + 1) * swidth / (int64_t{2} * width);
      if (px < 0 || py < 0 || px >= source.width() || py >= source.height()) continue;
      target.SetPixel(x + dx, y + dy,
                      source.Pixel(static_cast<int32_t>(px), static_cast<int32_t>(py)));
    }
  }
}

}  // namespace tarvona::com
