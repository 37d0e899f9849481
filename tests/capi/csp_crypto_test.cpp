// CCspCrypto on a scripted platform: the working buffer limits and what a
// real store cannot provoke.
#include "capi/csp_crypto.h"

#include <array>
#include <memory>

#include "common/result_code.h"
#include "tests/capi/store_test.h"

namespace tarvona {
namespace {

using capi::HashAlgorithm;
using Bytes = std::vector<uint8_t>;

class FakeCertificate final : public capi::Certificate {
 public:
  explicit FakeCertificate(Bytes serial) : serial_(std::move(serial)) {}
  Bytes SerialNumber() const override { return serial_; }
  capi::CertificateSummary Summary() const override {
    return {"subject", "issuer", "2030-01-01", "2020-01-01", capi::Validity::kValid};
  }

 private:
  Bytes serial_;
};

// A key whose outputs are as long as the test says.
struct FakeKey final : capi::PrivateKeyProvider {
  explicit FakeKey(size_t output_size) : size(output_size) {}
  std::optional<Bytes> Hash(HashAlgorithm, std::span<const uint8_t>) override { return Bytes(20); }
  std::optional<Bytes> SignHash(HashAlgorithm, std::span<const uint8_t>) override {
    return signs ? std::optional(Bytes(size)) : std::nullopt;
  }
  Decrypted Decrypt(std::span<const uint8_t>, Bytes& plaintext) override {
    if (outcome == Decrypted::kPlaintext) plaintext.assign(size, 0);
    return outcome;
  }
  Bytes Modulus() override { return Bytes(modulus_size, 0xFF); }
  size_t size;
  Decrypted outcome = Decrypted::kPlaintext;
  bool signs = true;
  size_t modulus_size = 8;
};

struct FakePlatform final : capi::CryptoPlatform {
  std::optional<std::vector<std::unique_ptr<capi::Certificate>>> OpenPersonalStore() override {
    ++store_opens;
    std::vector<std::unique_ptr<capi::Certificate>> store;
    for (const Bytes& serial : serials) store.push_back(std::make_unique<FakeCertificate>(serial));
    return store;
  }
  int32_t ParseCertificate(std::span<const uint8_t> der,
                           std::unique_ptr<capi::Certificate>& certificate) override {
    parsed.emplace_back(der.begin(), der.end());
    certificate = std::make_unique<FakeCertificate>(Bytes{});
    return kOk;
  }
  std::unique_ptr<capi::PrivateKeyProvider> AcquirePrivateKey(const capi::Certificate&) override {
    auto key = std::make_unique<FakeKey>(output_size);
    key->outcome = decrypted;
    key->signs = key_signs;
    key->modulus_size = modulus_size;
    return key;
  }
  std::unique_ptr<capi::DefaultProvider> AcquireDefaultProvider() override { return nullptr; }

  std::vector<Bytes> serials;  // least significant byte first
  size_t output_size = 128;
  capi::PrivateKeyProvider::Decrypted decrypted = capi::PrivateKeyProvider::Decrypted::kPlaintext;
  bool key_signs = true;
  size_t modulus_size = 8;
  int store_opens = 0;
  std::vector<Bytes> parsed;
};

class CspCryptoTest : public ::testing::Test {
 protected:
  int32_t Choose(int32_t source, const Bytes& data) {
    return csp_.ChooseCertificate(source, data, chosen_);
  }
  static Bytes Text(const std::string& text) {
    return Bytes(text.c_str(), text.c_str() + text.size() + 1);
  }

  FakePlatform platform_;
  testing::ScriptedPicker picker_{platform_};
  CCspCrypto csp_{platform_, picker_};
  std::unique_ptr<capi::Certificate> chosen_;
  std::array<uint8_t, 1000> area_{};
  size_t length_ = 0;
};

TEST_F(CspCryptoTest, GivenCertificatesUpToTheirBuffers) {
  EXPECT_EQ(Choose(kSourcePem, Text(std::string(4095, 'A'))), kOk);
  EXPECT_EQ(Choose(kSourcePem, Text(std::string(4096, 'A'))), kInvalidArgument);
  EXPECT_EQ(Choose(kSourceDer, Bytes(4096)), kOk);
  EXPECT_EQ(Choose(kSourceDer, Bytes(4097)), kInvalidArgument);

  testing::NssDatabase folder;  // only for its temporary folder
  std::string path = folder.directory() + "/";
  path = folder.WriteFile(std::string(259 - path.size(), 'c'), Bytes(4096));
  EXPECT_EQ(Choose(kSourceFile, Text(path)), kOk);
  EXPECT_EQ(Choose(kSourceFile, Text(path + "c")), kInvalidArgument);
  EXPECT_EQ(Choose(kSourceFile, Text(folder.WriteFile("big", Bytes(4097)))), kInvalidArgument);
  EXPECT_EQ(Choose(kSourceFile, Text(testing::DataFile("rsa1024.cert.pem"))), kOk);
  ASSERT_EQ(platform_.parsed.size(), 4u);
  EXPECT_EQ(platform_.parsed[0].size(), 3069u);
  EXPECT_EQ(platform_.parsed[2].size(), 4096u);
  EXPECT_EQ(platform_.parsed[3], testing::Der("rsa1024"));
}

TEST_F(CspCryptoTest, StoreSerialNumbersLongerThanTheBufferMatchNothing) {
  platform_.serials = {Bytes(101, 0x01), Bytes(100, 0x02)};
  EXPECT_EQ(Choose(kSourceSerial, Bytes(101, 0x01)), kObjectNotFound);
  EXPECT_EQ(Choose(kSourceSerial, {}), kObjectNotFound);
  EXPECT_EQ(Choose(kSourceSerial, Bytes(100, 0x02)), kOk);
}

TEST_F(CspCryptoTest, OutputsNeverPassTheirArea) {
  platform_.serials = {{0x01}};
  const Bytes serial = {0x01};
  platform_.output_size = 1001;
  EXPECT_EQ(csp_.SignWithCertificate(kSourceSerial, serial, 0, {}, area_, length_), kDigestFailed);
  EXPECT_EQ(csp_.DecryptWithCertificate(kSourceSerial, serial, Bytes(8), area_, length_),
            kDecryptFailed);
  platform_.output_size = 1000;
  EXPECT_EQ(csp_.DecryptWithCertificate(kSourceSerial, serial, Bytes(8), area_, length_), kOk);
  EXPECT_EQ(length_, 1000u);
}

// A platform whose provider reports bad padding: the answer is a plaintext
// like any other, the same each time; never a failure of its own.
TEST_F(CspCryptoTest, BadPaddingIsNoAnswerOfItsOwn) {
  using Decrypted = capi::PrivateKeyProvider::Decrypted;
  platform_.serials = {{0x01}};
  platform_.modulus_size = 256;
  const Bytes serial = {0x01};
  const Bytes ciphertext(256, 0x42);
  struct Case {
    Decrypted decrypted;
    bool signs;
    int32_t expected;
  };
  for (const Case& c : {Case{Decrypted::kBadPadding, true, kOk},
                        Case{Decrypted::kBadPadding, false, kDecryptFailed},
                        Case{Decrypted::kFailed, true, kDecryptFailed},
                        Case{Decrypted::kPlaintext, false, kOk}}) {
    platform_.decrypted = c.decrypted;
    platform_.key_signs = c.signs;
    EXPECT_EQ(csp_.DecryptWithCertificate(kSourceSerial, serial, ciphertext, area_, length_),
              c.expected);
  }
  platform_.decrypted = Decrypted::kBadPadding;
  platform_.key_signs = true;
  std::array<uint8_t, 1000> again{};
  size_t again_length = 0;
  ASSERT_EQ(csp_.DecryptWithCertificate(kSourceSerial, serial, ciphertext, area_, length_), kOk);
  ASSERT_EQ(csp_.DecryptWithCertificate(kSourceSerial, serial, ciphertext, again, again_length),
            kOk);
  EXPECT_LE(length_, 245u);
  EXPECT_EQ(Bytes(area_.begin(), area_.begin() + static_cast<ptrdiff_t>(length_)),
            Bytes(again.begin(), again.begin() + static_cast<ptrdiff_t>(again_length)));
}

TEST_F(CspCryptoTest, TheDialogChoosesOnlyWhatItShowed) {
  platform_.serials = {{0x01}, {0x02}};
  picker_.answer = 1;
  ASSERT_EQ(Choose(kSourceDialog, {}), kOk);
  EXPECT_EQ(chosen_->SerialNumber(), Bytes{0x02});
  picker_.answer = 2;
  EXPECT_EQ(Choose(kSourceDialog, {}), kStoreUnavailable);
}

TEST_F(CspCryptoTest, SourcesAreCheckedBeforeTheStoreIsOpened) {
  const Bytes data = Text("anything");
  for (int32_t source : {kSourcePem, kSourceDer, kSourceFile, 5, -1}) {
    EXPECT_EQ(csp_.SignWithCertificate(source, data, 0, {}, area_, length_), kInvalidArgument);
    EXPECT_EQ(csp_.DecryptWithCertificate(source, data, {}, area_, length_), kInvalidArgument);
  }
  EXPECT_EQ(csp_.VerifyWithCertificate(5, data, 0, {}, {}), kInvalidArgument);
  EXPECT_EQ(csp_.EncryptToCertificate(-1, data, {}, area_, length_), kInvalidArgument);
  EXPECT_EQ(platform_.store_opens, 0);
  EXPECT_TRUE(platform_.parsed.empty());
}

}  // namespace
}  // namespace tarvona
