#include <array>
#include <string_view>

#include "module/resource_sources.h"

namespace tarvona::module {

com::Bitmap ToolboxPicture() {
  // A smart card with a key over it.
  // clang-format off
  static constexpr std::array<std::string_view, 32> kRows = {
      "................................",
      "................................",
      "................................",
      "................................",
      "..OOOOOOOOOOOOOOOOOOOOOOOOOO....",
      ".OObbbbbbbbbbbbbbbbbbbbbbbbOO...",
      ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
      ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
      ".ObbdddddddbbbbbbbbbbbbbbbbbO...",
      ".ObbdccdccdbbblllllllllllbbbO...",
      ".ObbdddddddbbbbbbbbbbbbbbbbbO...",
      ".ObbdccdccdbbbllllllllbbbbbbO...",
      ".ObbdccdccdbbbbbbbbbbbbbbbbbO...",
      ".ObbdddddddbbbbbbbbbbbbbbbbbO...",
      ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
      ".OllllllllllllllllllllllllllO...",
      ".OllllllllllllllllllllllllllO...",
      ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
      ".ObbbbbbbbbbbbbbbbbbbbbbbbbbO...",
      ".ObbbbbKKKKKKbbbbbbbbbbbbbbbO...",
      ".ObbbbKhhkkkkKbbbbbbbbbbbbbbO...",
      ".ObbbKhkkKKkkkKbbbbbbbbbbbbbO...",
      ".OObKkkKKbbKKkkKbbbbbbbbbbbOO...",
      "..OOKkkKOOOOKkkKKKKKKKKKKKKKKKK.",
      "....KkK......KkhkkhkkhkkhkkhkkK.",
      "....KkK......KkkkkkkkkkkkkkkkkK.",
      "....KkkK....KkkKKKKKKKKKKKKKKKK.",
      "....KkkKK..KKkkK......KkK.KkK...",
      ".....KkkkKKkkkK.......KkK.KkK...",
      "......KkkkkkkK........KkK.KkK...",
      ".......KKKKKK.........KKK.KKK...",
      "................................",
  };
  // clang-format on
  struct Ink {
    char key;
    com::Rgb color;
  };
  static constexpr Ink kPalette[] = {
      {'.', {240, 243, 247}},  // background
      {'O', {28, 58, 110}},    // card edge
      {'b', {45, 98, 178}},    // card
      {'l', {96, 150, 222}},   // card stripe and print
      {'c', {232, 188, 72}},   // chip
      {'d', {168, 124, 30}},   // chip contacts
      {'K', {104, 66, 8}},     // key edge
      {'k', {242, 192, 46}},   // key
      {'h', {255, 232, 150}},  // key highlight
  };
  com::Bitmap picture(32, 32);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      for (const Ink& ink : kPalette) {
        if (ink.key == kRows[static_cast<size_t>(y)][static_cast<size_t>(x)]) {
          picture.SetPixel(x, y, ink.color);
        }
      }
    }
  }
  return picture;
}

}  // namespace tarvona::module
