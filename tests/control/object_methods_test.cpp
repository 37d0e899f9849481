#include <string>

#include "encoding/pem.h"
#include "testing/token_road_fixture.h"
#include "token/object_numbers.h"

namespace tarvona {
namespace {

class ObjectMethodsTest : public testing::TokenRoadTest {
 protected:
  // Handles of the certificates other than rsa2048's (CKA_ID 01), in the
  // module's order.
  std::vector<int32_t> OtherCertificates() {
    std::vector<int32_t> found;
    for (int32_t i = 0;; ++i) {
      int32_t cert = control_->EnumCertificate(handle_, i);
      if (cert == kObjectNotFound) return found;
      if (control_->GetAttribute(handle_, cert, 2) != "01") found.push_back(cert);
    }
  }
};

TEST_F(ObjectMethodsTest, EnumeratesByPositionWithAFreshSearchEachTime) {
  tokens_.ImportKeyPair("alpha", "serial2a", {0x02});
  Connect();
  int32_t first = control_->EnumCertificate(handle_, 0);
  int32_t second = control_->EnumCertificate(handle_, 1);
  EXPECT_NE(first, second);
  EXPECT_NE(first, kObjectNotFound);
  EXPECT_EQ(control_->EnumCertificate(handle_, 2), kObjectNotFound);
  EXPECT_EQ(control_->EnumCertificate(handle_, -1), kObjectNotFound);
  EXPECT_NE(control_->EnumPublicKey(handle_, 1), kObjectNotFound);

  tarvona_trace_clear();
  control_->EnumCertificate(handle_, 1);
  EXPECT_EQ(TracedCalls(), (std::vector<std::string>{"C_FindObjectsInit", "C_FindObjects",
                                                     "C_FindObjects", "C_FindObjectsFinal"}));
  for (const auto& find : TracedEntries("C_FindObjects")) EXPECT_EQ(find.count, 1u);
  auto init = TracedEntries("C_FindObjectsInit");
  EXPECT_EQ(init[0].count, 2u);
  EXPECT_EQ(init[0].attribute, CKA_CLASS);

  // A search that fails part way is still closed.
  tarvona_trace_clear();
  tarvona_fault_inject(0, "C_FindObjects", CKR_DEVICE_ERROR, 2, 0);
  EXPECT_EQ(control_->EnumCertificate(handle_, 1), kObjectNotFound);
  EXPECT_EQ(TracedCalls().back(), "C_FindObjectsFinal");
}

TEST_F(ObjectMethodsTest, PrivateKeysAppearOnlyAfterLogin) {
  EXPECT_EQ(control_->EnumPrivateKey(handle_, 0), kObjectNotFound);
  LogIn();
  EXPECT_NE(control_->EnumPrivateKey(handle_, 0), kObjectNotFound);
}

TEST_F(ObjectMethodsTest, GetAttributeGivesPemIdAndSerial) {
  int32_t cert = control_->EnumCertificate(handle_, 0);
  std::string pem = control_->GetAttribute(handle_, cert, 1);
  ASSERT_TRUE(pem.starts_with("-----BEGIN CERTIFICATE-----\r\n"));
  ASSERT_TRUE(pem.ends_with("\r\n-----END CERTIFICATE-----\r\n"));
  for (size_t start = 29, end; (end = pem.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    EXPECT_LE(end - start, 64u);
  }
  EXPECT_EQ(PemUnwrap(pem), testing::ReadFile(DataFile("rsa2048.cert.der")));
  EXPECT_EQ(control_->GetAttribute(handle_, cert, 2), "01");
  EXPECT_EQ(control_->GetAttribute(handle_, cert, 3), kRsa2048Serial);

  EXPECT_EQ(control_->GetAttribute(handle_, cert, 0), "");
  EXPECT_EQ(control_->GetAttribute(handle_, cert, 4), "");
  EXPECT_EQ(control_->GetAttribute(handle_, 0x7654321, 1), "");
  EXPECT_EQ(control_->GetAttribute(handle_ + 1, cert, 1), "");
  // A key has no serial number; a public key's value is not readable as one.
  EXPECT_EQ(control_->GetAttribute(handle_, control_->EnumPublicKey(handle_, 0), 3), "");
}

TEST_F(ObjectMethodsTest, GetAttributeHandlesShortLongAndOddValues) {
  tokens_.ImportKeyPair("alpha", "serial2a", {0x01, 0x02, 0x0F});
  tokens_.ImportKeyPair("alpha", "rsa4096", {});
  Connect();
  auto others = OtherCertificates();
  ASSERT_EQ(others.size(), 2u);
  for (int32_t cert : others) {
    std::string id = control_->GetAttribute(handle_, cert, 2);
    if (id == "01020F") {
      EXPECT_EQ(control_->GetAttribute(handle_, cert, 3), "2A");
    } else {
      EXPECT_EQ(id, "");  // an empty CKA_ID
      // The whole certificate comes back, however long its PEM text.
      std::string pem = control_->GetAttribute(handle_, cert, 1);
      auto der = testing::ReadFile(DataFile("rsa4096.cert.der"));
      EXPECT_GT(pem.size(), 2048u);
      EXPECT_EQ(PemUnwrap(pem), der);
    }
  }
}

TEST_F(ObjectMethodsTest, SerialAttributesThatCannotBeReadSafelyGiveNothing) {
  testing::ImportOptions options;
  options.serial_value = std::vector<uint8_t>{0x02};  // shorter than tag and length
  tokens_.ImportKeyPair("alpha", "serial2a", {0x02}, options);
  options.serial_value = std::vector<uint8_t>{0x02, 0x81, 0x01, 0x2A};  // long-form length
  tokens_.ImportKeyPair("alpha", "rsa1024", {0x03}, options);
  Connect();
  auto others = OtherCertificates();
  ASSERT_EQ(others.size(), 2u);
  for (int32_t cert : others) EXPECT_EQ(control_->GetAttribute(handle_, cert, 3), "");
  LogIn();
  // Neither certificate matches a serial, whatever bytes are asked for.
  EXPECT_EQ(control_->SignByCertSerial(handle_, "2A", 0, "00"), "");
  EXPECT_EQ(control_->VerifyByCertSerial(handle_, "812A", 0, "00", "00"), kObjectNotFound);
  // The readable certificate behind them is still found.
  EXPECT_NE(control_->SignByCertSerial(handle_, kRsa2048Serial, 0, "00"), "");
}

TEST_F(ObjectMethodsTest, AttributeLengthsAreBoundedBeforeAnyBufferIsSized) {
  LogIn();
  const int32_t cert = control_->EnumCertificate(handle_, 0);
  // The length a module reports for each attribute it is asked about.
  const std::pair<CK_ULONG, bool> lengths[] = {
      {64 * 1024, true},
      {64 * 1024 + 1, false},
      {CK_ULONG{1} << 40, false},
      {CK_UNAVAILABLE_INFORMATION, false},
  };
  for (const auto& [length, readable] : lengths) {
    SCOPED_TRACE(length);
    tarvona_fault_attribute_length(0, length);
    tarvona_trace_clear();
    const std::string pem = control_->GetAttribute(handle_, cert, 1);
    EXPECT_EQ(PemUnwrap(pem),
              readable ? testing::ReadFile(DataFile("rsa2048.cert.der")) : std::vector<uint8_t>{});
    // Refused: the value is never asked for.
    EXPECT_EQ(TracedEntries("C_GetAttributeValue").size(), readable ? 2u : 1u);
    EXPECT_EQ(control_->SignByCertSerial(handle_, kRsa2048Serial, 0, "00").empty(), !readable);
    EXPECT_EQ(control_->VerifyByCertSerial(handle_, kRsa2048Serial, 0, "00", "00"),
              readable ? kVerifyFailed : kObjectNotFound);
  }
}

TEST(ObjectHandleTest, HandlesThatFitKeepTheirPatternOthersGetStandIns) {
  ObjectNumbers numbers;
  EXPECT_EQ(numbers.ToScript(7), 7);
  EXPECT_EQ(numbers.ToScript(0xFFFFFFFFu), -1);
  EXPECT_EQ(numbers.FromScript(-1), 0xFFFFFFFFu);
  EXPECT_EQ(numbers.FromScript(*numbers.ToScript(0x80000001u)), 0x80000001u);
  EXPECT_EQ(numbers.size(), 0u);  // nothing kept for handles that fit

  constexpr int32_t kFirst = ObjectNumbers::kFirstStandIn;
  const CK_OBJECT_HANDLE wide = 0x55D6B3D27F10;
  EXPECT_EQ(numbers.ToScript(wide), kFirst);
  EXPECT_EQ(numbers.ToScript(wide), kFirst);  // the same object, the same number
  EXPECT_EQ(numbers.FromScript(kFirst), wide);
  // A handle inside the stand-in range is never passed through, so no real
  // handle can take a stand-in's number.
  EXPECT_EQ(numbers.ToScript(kFirst + 1u), kFirst + 1);
  EXPECT_EQ(numbers.FromScript(kFirst + 1), CK_OBJECT_HANDLE{kFirst + 1u});
  EXPECT_EQ(numbers.ToScript(kFirst), kFirst + 2);
  EXPECT_EQ(numbers.FromScript(kFirst + 2), CK_OBJECT_HANDLE{kFirst});
  // Stand-ins not handed out, and every number after Forget, name no object.
  EXPECT_EQ(numbers.FromScript(kFirst + 3), CK_INVALID_HANDLE);
  numbers.Forget();
  EXPECT_EQ(numbers.FromScript(kFirst), CK_INVALID_HANDLE);

  for (size_t i = 0; i < ObjectNumbers::kLimit; ++i) {
    auto number = numbers.ToScript(wide + i);
    ASSERT_TRUE(number.has_value());
    ASSERT_GE(*number, kFirst);  // far from every result code
  }
  EXPECT_EQ(numbers.ToScript(wide + ObjectNumbers::kLimit), std::nullopt);
  EXPECT_EQ(numbers.ToScript(wide + 5), kFirst + 5);  // the full table still answers
  EXPECT_EQ(numbers.ToScript(12), 12);
}

}  // namespace
}  // namespace tarvona
