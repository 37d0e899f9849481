// NSS as the personal store: what it holds, in which order, and its
// database and context.
#include <array>
#include <filesystem>
#include <initializer_list>

#include "capi/csp_crypto.h"
#include "common/result_code.h"
#include "testing/openssl_judge.h"
#include "tests/capi/store_test.h"

namespace tarvona {
namespace {

using testing::DataFile;
using Bytes = std::vector<uint8_t>;

class NssPlatformTest : public testing::StoreTest {
 protected:
  std::vector<std::string> Subjects() {
    std::vector<std::string> subjects;
    auto store = platform_.OpenPersonalStore();
    for (const auto& certificate : *store) {
      subjects.push_back(certificate->Summary().subject);
    }
    return subjects;
  }

  capi::CryptoPlatform& platform_ = capi::nss::UserCryptoPlatform();
  testing::ScriptedPicker picker_{platform_};
  CCspCrypto csp_{platform_, picker_};
};

TEST_F(NssPlatformTest, StoreOrderIsTheSameWhateverTheImportOrder) {
  // Subject, then serial number as a number (3 before 0x200), whatever NSS
  // lists first.
  std::string big = database_.MakeSelfSigned("big", "/CN=Tarvona Test same", "0x0200");
  std::string small = database_.MakeSelfSigned("small", "/CN=Tarvona Test same", "0x03");
  std::string twin = database_.MakeSelfSigned("twin", "/CN=Tarvona Test aaa", "0x1001");
  const std::vector<std::string> expected = {"Tarvona Test aaa", "Tarvona Test rsa1024",
                                             "Tarvona Test same", "Tarvona Test same",
                                             "Tarvona Test serial2a"};
  auto check = [&] {
    EXPECT_EQ(Subjects(), expected);
    EXPECT_EQ((*platform_.OpenPersonalStore())[2]->SerialNumber(), Bytes{0x03});
    // Of two equal serial numbers the first in store order is taken.
    std::unique_ptr<capi::Certificate> chosen;
    ASSERT_EQ(csp_.ChooseCertificate(kSourceSerial, Bytes{0x10, 0x01}, chosen), kOk);
    EXPECT_EQ(chosen->Summary().subject, "Tarvona Test aaa");
  };
  database_.AddCertificate(DataFile("serial2a.cert.der"), "serial2a");
  database_.AddCertificate(big, "big");
  database_.AddCertificate(small, "small");
  database_.AddCertificate(twin, "twin");
  database_.ImportKeyPair("rsa1024");
  check();

  testing::NssDatabase reversed;
  reversed.ImportKeyPair("rsa1024");
  reversed.AddCertificate(twin, "twin");
  reversed.AddCertificate(small, "small");
  reversed.AddCertificate(big, "big");
  reversed.AddCertificate(DataFile("serial2a.cert.der"), "serial2a");
  ASSERT_TRUE(capi::nss::Shutdown());
  capi::nss::SetDatabaseDirectory(reversed.directory());
  check();
}

TEST_F(NssPlatformTest, AuthoritiesStayOutUnlessTheUserHoldsTheirKey) {
  database_.AddCertificate(DataFile("rsa4096.cert.der"), "root", "C,,");
  database_.AddCertificate(DataFile("rsa2048b.cert.der"), "peer", ",,");
  database_.ImportKeyPair("rsa2048");
  testing::RunTool({"certutil", "-M", "-d", "sql:" + database_.directory(), "-n",
                    "Tarvona Test rsa2048", "-t", "CTu,Cu,Cu"});
  EXPECT_EQ(Subjects(),
            (std::vector<std::string>{"Tarvona Test rsa2048", "Tarvona Test rsa2048b"}));
  // CryptoAPI's order of the serial number bytes, DER sign byte included.
  EXPECT_EQ((*platform_.OpenPersonalStore())[0]->SerialNumber(),
            (Bytes{0x01, 0xEE, 0xFF, 0xC0, 0x00}));
}

TEST_F(NssPlatformTest, OnlyTheProvidersMakeAMissingDatabase) {
  const std::string folder = database_.directory() + "/home/.pki/nssdb";
  capi::nss::SetDatabaseDirectory(folder);
  EXPECT_EQ(csp_.VerifyWithCertificate(kSourceSerial, Bytes{0x2A}, 0, {}, {}), kStoreUnavailable);
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_NE(platform_.AcquireDefaultProvider(), nullptr);
  EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
  EXPECT_TRUE(platform_.OpenPersonalStore()->empty());
}

TEST_F(NssPlatformTest, DecryptionTakesOnlyBlocksOfTheKeySizeBelowItsModulus) {
  database_.ImportKeyPair("rsa2048");
  const Bytes serial = {0x00, 0xC0, 0xFF, 0xEE, 0x01};
  // Ciphertexts cross least significant byte first.
  const Bytes modulus = testing::Reversed(testing::ModulusOf(testing::Pem("rsa2048")));
  const Bytes block = testing::Reversed(testing::EncryptTo(testing::Pem("rsa2048"),
                                                           testing::Bytes("Hello")));
  auto with = [](Bytes bytes, std::initializer_list<uint8_t> more, bool at_end) {
    bytes.insert(at_end ? bytes.end() : bytes.begin(), more);
    return bytes;
  };
  Bytes below_modulus = modulus;
  --below_modulus[0];  // a modulus is odd
  const struct {
    const char* name;
    Bytes ciphertext;
    int32_t rc;  // kOk: decrypts, to noise unless the block is sound
  } cases[] = {
      {"sound block", block, kOk},
      {"all FF", Bytes(256, 0xFF), kDecryptFailed},
      {"the modulus", modulus, kDecryptFailed},
      {"the modulus less one", below_modulus, kOk},
      {"FF bytes under a 00 top byte", with(Bytes(255, 0xFF), {0x00}, true), kOk},
      {"a 00 low byte under FF bytes", with(Bytes(255, 0xFF), {0x00}, false), kDecryptFailed},
      {"one byte short", Bytes(block.begin(), block.end() - 1), kDecryptFailed},
      {"a 00 top byte more", with(block, {0x00}, true), kDecryptFailed},
      {"a 1024-bit block",
       testing::Reversed(testing::EncryptTo(testing::Pem("rsa1024"), testing::Bytes("Hello"))),
       kDecryptFailed},
      {"empty", {}, kDecryptFailed},
  };
  for (const auto& c : cases) {
    std::array<uint8_t, 1000> plaintext{};
    size_t length = 0;
    EXPECT_EQ(csp_.DecryptWithCertificate(kSourceSerial, serial, c.ciphertext, plaintext, length),
              c.rc)
        << c.name;
    EXPECT_EQ(Bytes(plaintext.begin(), plaintext.begin() + length) == testing::Bytes("Hello"),
              c.ciphertext == block)
        << c.name;
  }
}

TEST_F(NssPlatformTest, ShutdownIsRefusedWhileACertificateIsHeld) {
  database_.ImportKeyPair("rsa1024");
  // In a child, as a refused shutdown leaves NSS unusable for the process.
  EXPECT_EXIT(
      {
        auto store = platform_.OpenPersonalStore();
        std::_Exit(store && !store->empty() && !capi::nss::Shutdown() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tarvona
