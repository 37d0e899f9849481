// Codec fuzz targets: any input must decode without a fault, within the
// sizes the decoders promise, and what the encoders write must read back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "encoding/base64.h"
#include "encoding/hex.h"
#include "encoding/pem.h"

namespace {

std::string_view Text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = Text(data, size);
#if defined(TARVONA_FUZZ_HEX)
  auto bytes = tarvona::HexDecode(text);
  Require(bytes.size() == size / 2);
  Require(tarvona::HexDecode(tarvona::HexEncode(bytes)) == bytes);
#elif defined(TARVONA_FUZZ_BASE64)
  auto bytes = tarvona::Base64Decode(text);
  Require(bytes.size() <= size / 4 * 3);
  Require(tarvona::Base64Decode(tarvona::Base64Encode({data, size})) ==
          std::vector<uint8_t>(data, data + size));
#elif defined(TARVONA_FUZZ_PEM)
  auto bytes = tarvona::PemUnwrap(text);
  if (bytes) Require(bytes->size() <= size / 4 * 3);
  auto wrapped = tarvona::PemWrap({data, size}, tarvona::kCertificateHeader,
                                  tarvona::kCertificateFooter);
  Require(tarvona::PemUnwrap(wrapped) == std::vector<uint8_t>(data, data + size));
#endif
  return 0;
}
