#include "host/png_writer.h"

#include <png.h>

#include <new>

namespace tarvona::host {
namespace {

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  try {
    out->insert(out->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");  // leaves through the error jump
  }
}

// libpng reports errors by jumping back here, so this frame holds nothing
// that needs destroying.
bool Encode(png_structp png, png_infop info, const com::MemorySurface& surface,
            std::vector<uint8_t>* out) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_write_fn(png, out, Append, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(surface.Width()),
               static_cast<png_uint_32>(surface.Height()), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t row = static_cast<size_t>(surface.Width()) * 3;
  for (int32_t y = 0; y < surface.Height(); ++y) {
    png_write_row(png, surface.rgb().data() + row * static_cast<size_t>(y));
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const com::MemorySurface& surface) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return out;
  png_infop info = png_create_info_struct(png);
  const bool encoded = info != nullptr && Encode(png, info, surface, &out);
  png_destroy_write_struct(&png, &info);
  if (!encoded) out.clear();
  return out;
}

}  // namespace tarvona::host
