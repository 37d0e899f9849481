// The codecs judged against OpenSSL's Base64. Kept out of encoding_test.cpp,
// which needs nothing but the codecs and so also runs in the Windows build.
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "encoding/base64.h"
#include "encoding/hex.h"
#include "encoding/pem.h"
#include "gtest/gtest.h"

namespace tarvona {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(RoundTripTest, RandomBytesAgreeWithOpenSsl) {
  std::mt19937 rng(7);
  for (size_t n = 0; n <= 300; ++n) {
    Bytes data(n);
    for (auto& x : data) x = static_cast<uint8_t>(rng());
    std::string judged(4 * ((n + 2) / 3) + 1, '\0');
    const int len = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(judged.data()), data.data(),
                                    static_cast<int>(n));
    judged.resize(static_cast<size_t>(len));
    EXPECT_EQ(Base64Encode(data), judged) << n;
    EXPECT_EQ(Base64Decode(judged), data) << n;
    EXPECT_EQ(HexDecode(HexEncode(data)), data) << n;
    EXPECT_EQ(PemUnwrap(PemWrap(data, kCertificateHeader, kCertificateFooter)), data) << n;
    EXPECT_EQ(PemUnwrap(PemWrap(data, "", "")), data) << n;
  }
}

}  // namespace
}  // namespace tarvona
