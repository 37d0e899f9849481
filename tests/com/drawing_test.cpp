#include "com/drawing.h"

#include <gtest/gtest.h>

namespace tarvona::com {
namespace {

Bitmap Gradient(int32_t width, int32_t height) {
  Bitmap bitmap(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y, {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7});
    }
  }
  return bitmap;
}

TEST(DibTest, RoundTripsBottomUpRowsWithPadding) {
  const Bitmap picture = Gradient(5, 3);  // 15 bytes a row, padded to 16
  const std::vector<uint8_t> dib = EncodeDib(picture);
  ASSERT_EQ(dib.size(), 40u + 16 * 3);
  // The first stored row is the bottom one, blue first.
  EXPECT_EQ(dib[40], 7);
  EXPECT_EQ(dib[41], 2);
  EXPECT_EQ(dib[42], 0);
  auto decoded = DecodeDib(dib);
  ASSERT_TRUE(decoded.has_value());
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(decoded->Pixel(x, y), picture.Pixel(x, y));
  }

  std::vector<uint8_t> top_down = dib;
  top_down[8] = 0xFD;  // height -3
  top_down[9] = top_down[10] = top_down[11] = 0xFF;
  ASSERT_TRUE(DecodeDib(top_down).has_value());
  EXPECT_EQ(DecodeDib(top_down)->Pixel(0, 0), picture.Pixel(0, 2));

  std::vector<uint8_t> short_dib(dib.begin(), dib.end() - 1);
  EXPECT_FALSE(DecodeDib(short_dib).has_value());
  std::vector<uint8_t> eight_bit = dib;
  eight_bit[14] = 8;
  EXPECT_FALSE(DecodeDib(eight_bit).has_value());
  std::vector<uint8_t> compressed = dib;
  compressed[16] = 1;
  EXPECT_FALSE(DecodeDib(compressed).has_value());
}

TEST(StretchBltTest, ScalesByNearestPixelAndClipsToTheSurface) {
  const Bitmap source = Gradient(32, 32);
  MemorySurface surface(40, 35, {255, 255, 255});
  StretchBlt(surface, 0, 0, 30, 30, source, 0, 0, 32, 32);
  // Target x samples the source under its centre: (2x+1)*32/60.
  EXPECT_EQ(surface.Pixel(0, 0), (Rgb{0, 0, 7}));
  EXPECT_EQ(surface.Pixel(15, 29), (Rgb{16, 31, 7}));
  EXPECT_EQ(surface.Pixel(29, 14), (Rgb{31, 15, 7}));
  EXPECT_EQ(surface.Pixel(30, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(surface.Pixel(0, 30), (Rgb{255, 255, 255}));

  MemorySurface small(10, 10, {1, 1, 1});
  StretchBlt(small, -5, -5, 30, 30, source, 0, 0, 32, 32);  // only the overlap is written
  EXPECT_EQ(small.Pixel(0, 0), source.Pixel(5, 5));
  EXPECT_EQ(small.rgb().size(), 300u);
}

}  // namespace
}  // namespace tarvona::com
