#include "encoding/pem.h"

#include "encoding/base64.h"

namespace tarvona {
namespace {

constexpr size_t kLineLength = 64;
constexpr std::string_view kLineBreak = "\r\n";
// A dash run in a header or footer is five long; the reader jumps over it.
constexpr size_t kDashRun = 5;

}  // namespace

std::string PemWrap(std::span<const uint8_t> bytes, std::string_view header,
                    std::string_view footer) {
  if (bytes.empty()) return {};
  const std::string body = Base64Encode(bytes);
  const size_t lines = (body.size() + kLineLength - 1) / kLineLength;
  size_t size = body.size() + lines * kLineBreak.size();
  if (!header.empty()) size += header.size() + kLineBreak.size();
  if (!footer.empty()) size += footer.size() + kLineBreak.size();

  std::string text;
  text.reserve(size);
  if (!header.empty()) {
    text += header;
    text += kLineBreak;
  }
  for (size_t pos = 0; pos < body.size(); pos += kLineLength) {
    text += std::string_view(body).substr(pos, kLineLength);
    text += kLineBreak;
  }
  if (!footer.empty()) {
    text += footer;
    text += kLineBreak;
  }
  return text;
}

std::optional<std::vector<uint8_t>> PemUnwrap(std::string_view text) {
  std::string_view body = text;
  if (const size_t header = text.find('-'); header != std::string_view::npos) {
    // Skip the header's leading dashes and label up to its closing dashes;
    // the body starts right after those. find() gives npos for a start past
    // the end, so short or cut-off armour needs no separate bounds check.
    const size_t closing = text.find('-', header + kDashRun);
    if (closing == std::string_view::npos) return std::nullopt;
    const size_t begin = closing + kDashRun;
    const size_t end = text.find('-', begin);
    if (end == std::string_view::npos) return std::nullopt;
    body = text.substr(begin, end - begin);
  }

  std::string base64(body.size(), '\0');
  size_t kept = 0;
  for (char c : body) {
    base64[kept] = c;
    kept += IsBase64Char(c) ? 1 : 0;
  }
  base64.resize(kept);
  return Base64Decode(base64);
}

}  // namespace tarvona
