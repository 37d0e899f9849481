#pragma once

// What stands in for GDI: a 24-bit bitmap kept as a DIB resource, a surface
// the host provides for painting, and the stretching copy between them.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "com/module_resources.h"

namespace tarvona::com {

struct Rgb {
  uint8_t r, g, b;
  friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

struct RectL {
  int32_t left, top, right, bottom;
};

struct SizeL {
  int32_t cx, cy;
  friend constexpr bool operator==(const SizeL&, const SizeL&) = default;
};

// A picture in memory, rows top to bottom.
class Bitmap {
 public:
  Bitmap(int32_t width, int32_t height);
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  Rgb Pixel(int32_t x, int32_t y) const { return pixels_[Index(x, y)]; }
  void SetPixel(int32_t x, int32_t y, Rgb c) { pixels_[Index(x, y)] = c; }

 private:
  size_t Index(int32_t x, int32_t y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x);
  }
  int32_t width_, height_;
  std::vector<Rgb> pixels_;
};

// The form of a bitmap resource: a 40-byte BITMAPINFOHEADER, then the rows
// bottom-up, blue-green-red, each padded to four bytes. Decoding takes
// uncompressed 24-bit pictures of at most 4096 x 4096, either row order.
std::vector<uint8_t> EncodeDib(const Bitmap& bitmap);
std::optional<Bitmap> DecodeDib(std::span<const uint8_t> dib);

// LoadBitmap: resource BITMAP `id`, decoded; nullopt when absent or bad.
std::optional<Bitmap> LoadBitmap(const ResourceSet& resources, uint32_t id);

// Where a control paints; the host owns it. Writes outside are ignored.
class DrawingSurface {
 public:
  virtual ~DrawingSurface() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual void SetPixel(int32_t x, int32_t y, Rgb color) = 0;
};

class MemorySurface final : public DrawingSurface {
 public:
  MemorySurface(int32_t width, int32_t height, Rgb background);
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void SetPixel(int32_t x, int32_t y, Rgb color) override;
  Rgb Pixel(int32_t x, int32_t y) const;
  // Rows top to bottom, three bytes (red, green, blue) a pixel.
  const std::vector<uint8_t>& rgb() const { return rgb_; }

 private:
  int32_t width_, height_;
  std::vector<uint8_t> rgb_;
};

// StretchBlt with SRCCOPY: the source rectangle scaled onto the target
// rectangle, nearest neighbour, clipped to the surface.
void StretchBlt(DrawingSurface& target, int32_t x, int32_t y, int32_t width, int32_t height,
                const Bitmap& source, int32_t sx, int32_t sy, int32_t swidth, int32_t sheight);

}  // namespace tarvona::com
