#include <random>
#include <string>
#include <vector>

#include "encoding/base64.h"
#include "encoding/bytes.h"
#include "encoding/hex.h"
#include "encoding/pem.h"
#include "gtest/gtest.h"

namespace tarvona {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

TEST(HexTest, DecodeIsLenient) {
  const struct {
    std::string_view text;
    Bytes bytes;
  } cases[] = {{"0a1B", {0x0A, 0x1B}},
               {"00ff7F", {0x00, 0xFF, 0x7F}},
               {"ABC", {0xAB}},
               {"zz", {0x53}},
               {"G0", {0x00}},
               {"  ", {0x20}},
               {"", {}},
               {"\xff\x01", {0xF1}}};
  for (const auto& c : cases) EXPECT_EQ(HexDecode(c.text), c.bytes) << c.text;
  EXPECT_EQ(HexEncode(Bytes{0x00, 0x0A, 0x9B, 0xF0, 0xFF}), "000A9BF0FF");
}

TEST(Base64Test, DecodeStopsAtPadding) {
  const struct {
    std::string_view text;
    std::string_view bytes;
  } cases[] = {{"YWJj", "abc"},   {"YWI=", "ab"},    {"YQ==", "a"}, {"YWJjYQ==", "abca"},
               {"YQ==YWJj", "a"}, {"YWJjZA", "abc"}, {"YWJ", ""},   {"Y===", ""},
               {"====", ""},      {"YW=j", "a`"},    {"", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(Base64Decode(c.text), Bytes(c.bytes.begin(), c.bytes.end())) << c.text;
  }
}

TEST(PemTest, WrapsInLinesOf64) {
  const Bytes b48(48, 0), b49(49, 0);
  const std::string line(64, 'A');
  EXPECT_EQ(PemWrap(b48, kCertificateHeader, kCertificateFooter),
            std::string(kCertificateHeader) + "\r\n" + line + "\r\n" +
                std::string(kCertificateFooter) + "\r\n");
  EXPECT_EQ(PemWrap(b49, "H", "F"), "H\r\n" + line + "\r\nAA==\r\nF\r\n");
  EXPECT_EQ(PemWrap(b49, "", ""), line + "\r\nAA==\r\n");
  EXPECT_EQ(PemWrap({}, "H", "F"), "");
}

TEST(PemTest, UnwrapCases) {
  const Bytes abc = {0x41, 0x42, 0x43};
  const std::string crlf =
      "-----BEGIN CERTIFICATE-----\r\nQUJD\r\nRA==\r\n-----END CERTIFICATE-----\r\n";
  const Bytes abcd = {0x41, 0x42, 0x43, 0x44};
  EXPECT_EQ(PemUnwrap(""), Bytes{});
  EXPECT_EQ(PemUnwrap("QUJD"), abc);
  EXPECT_EQ(PemUnwrap("QUJDRA"), abc);
  EXPECT_EQ(PemUnwrap(" QU\nJDRA=="), abcd);
  EXPECT_EQ(PemUnwrap(crlf), abcd);
  EXPECT_EQ(PemUnwrap("junk " + crlf + "-----BEGIN X-----\nAAAA\n-----END X-----"), abcd);
  EXPECT_EQ(PemUnwrap("-----BEGIN CERTIFICATE-----\nQU JD\n  RA==\n-----END CERTIFICATE-----"),
            abcd);
  EXPECT_EQ(PemUnwrap("-----BEGIN CERTIFICATE-----\r\nQUJD\r\n"), std::nullopt);
  EXPECT_EQ(PemUnwrap("-----"), std::nullopt);
  EXPECT_EQ(PemUnwrap("QUJD-QUJD"), std::nullopt);
}

TEST(PemTest, TruncatedTextIsRejectedUntilFooterStarts) {
  std::mt19937 rng(3);
  const Bytes data = RandomBytes(rng, 100);
  const std::string pem = PemWrap(data, kCertificateHeader, kCertificateFooter);
  const size_t footer = pem.find(kCertificateFooter);
  for (size_t n = 1; n <= pem.size(); ++n) {
    // A heap copy lets ASan catch any read past the cut.
    const std::string prefix = pem.substr(0, n);
    if (n > footer) {
      EXPECT_EQ(PemUnwrap(prefix), data) << n;
    } else {
      EXPECT_EQ(PemUnwrap(prefix), std::nullopt) << n;
    }
    (void)PemUnwrap(pem.substr(n));
  }
}

TEST(PemTest, RandomTextNeverFailsBareBase64) {
  std::mt19937 rng(11);
  constexpr std::string_view kChars = "-AB=+/\r\n a";
  for (int round = 0; round < 5000; ++round) {
    std::string text(rng() % 80, ' ');
    for (char& c : text) c = kChars[rng() % kChars.size()];
    const auto result = PemUnwrap(text);
    if (text.find('-') == std::string::npos) {
      EXPECT_TRUE(result.has_value()) << text;
    }
  }
}

TEST(BytesTest, CompareAndReverse) {
  const Bytes abc = {1, 2, 3}, abcd = {1, 2, 3, 4}, abx = {1, 2, 4};
  EXPECT_EQ(CompareBytes({}, {}), 0);
  EXPECT_EQ(CompareBytes(abc, abc), 0);
  for (const Bytes& other : {abcd, abx, Bytes{}}) EXPECT_EQ(CompareBytes(abc, other), 1);

  Bytes out(4, 0xEE), small(3, 0xEE);
  EXPECT_EQ(ReverseBytes(out, abc), 3u);
  EXPECT_EQ(out, (Bytes{3, 2, 1, 0xEE}));
  EXPECT_EQ(ReverseBytes(small, abcd), 0u);  // too small: left untouched
  EXPECT_EQ(small, Bytes(3, 0xEE));
  EXPECT_EQ(ReverseBytes({}, {}), 0u);
}

}  // namespace
}  // namespace tarvona
