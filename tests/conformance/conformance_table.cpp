#include "tests/conformance/conformance_table.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "encoding/hex.h"
#include "testing/openssl_handles.h"
#include "testing/openssl_judge.h"
#include "testing/softhsm_tokens.h"

namespace tarvona::conformance {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

bool IsResultCode(int64_t value) {
  return value == 0 || (value >= 1001 && value <= 1011) || (value >= 1301 && value <= 1305) ||
         (value >= 4001 && value <= 4008) || value == 5001;
}

bool IsUpperHex(const std::string& text) {
  return !text.empty() && text.size() % 2 == 0 && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
  });
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<uint8_t> DerOfPem(const std::string& pem) {
  testing::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  testing::X509Certificate certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate) return {};
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate.get(), &der);
  std::vector<uint8_t> bytes(der, der + (size > 0 ? size : 0));
  OPENSSL_free(der);
  return bytes;
}

testing::Digest DigestNamed(const std::string& name) {
  if (name == "sha1") return testing::Digest::kSha1;
  if (name == "md5") return testing::Digest::kMd5;
  if (name == "sha256") return testing::Digest::kSha256;
  throw std::runtime_error("no digest " + name);
}

}  // namespace

json LoadTable(const std::string& path) {
  const std::string text = ReadText(path);
  const size_t name = text.find("TARVONA_VECTORS");
  const size_t start = name == std::string::npos ? name : text.find('{', name);
  const size_t end = text.rfind('}');
  if (start == std::string::npos || end == std::string::npos || end < start) {
    throw std::runtime_error(path + " holds no TARVONA_VECTORS object");
  }
  return json::parse(text.substr(start, end - start + 1), nullptr, true, true);
}

std::map<std::string, json> FixtureValues(const json& table, const std::string& test_data_dir,
                                          PathStyle style) {
  auto path = [&](const std::string& file) {
    const std::string full = test_data_dir + "/" + file;
    return style == PathStyle::kWindows ? WindowsPath(full) : full;
  };
  std::vector<std::string> keys;
  for (const json& token : table["fixture"]["tokens"]) {
    for (const json& key : token["keys"]) keys.push_back(key["name"]);
  }
  for (const json& entry : table["fixture"]["store"]) keys.push_back(entry["name"]);
  const std::vector<uint8_t> plaintext =
      HexDecode(table["fixture"]["plaintext"].get<std::string>());
  std::map<std::string, json> values;
  for (const std::string& key : keys) {
    const std::string pem = ReadText(test_data_dir + "/" + key + ".cert.pem");
    const std::vector<uint8_t> der = testing::ReadFile(test_data_dir + "/" + key + ".cert.der");
    values["pem:" + key] = pem;
    values["der:" + key] = HexEncode(der);
    values["file:" + key + ".der"] = path(key + ".cert.der");
    values["file:" + key + ".pem"] = path(key + ".cert.pem");
    std::vector<uint8_t> ciphertext = testing::EncryptTo(pem, plaintext);
    values["encrypted:" + key] = HexEncode(ciphertext);
    std::reverse(ciphertext.begin(), ciphertext.end());
    values["encrypted-lsb:" + key] = HexEncode(ciphertext);
    std::vector<uint8_t> bad = testing::BadPaddingTo(pem);
    std::reverse(bad.begin(), bad.end());
    values["badpadding-lsb:" + key] = HexEncode(bad);
  }
  values["file:missing"] = path("missing.cert.der");
  return values;
}

json Variables::Evaluate(const json& expression) const {
  if (expression.is_string()) {
    const std::string& text = expression.get_ref<const std::string&>();
    if (text.empty() || text[0] != '$') return expression;
    auto found = values_.find(text.substr(1));
    if (found == values_.end()) throw std::runtime_error("no value " + text);
    return found->second;
  }
  if (expression.is_object() && expression.contains("text")) {
    json value = Evaluate(expression["text"]);
    return value.is_string() ? value : json(value.dump());
  }
  if (expression.is_object() && expression.contains("concat")) {
    std::string joined;
    for (const json& part : expression["concat"]) {
      json value = Evaluate(part);
      joined += value.is_string() ? value.get<std::string>() : value.dump();
    }
    return joined;
  }
  if (expression.is_array()) {
    json values = json::array();
    for (const json& item : expression) values.push_back(Evaluate(item));
    return values;
  }
  return expression;
}

std::string CheckStep(const json& step, const Outcome& outcome, Variables& variables) {
  const std::string call = step["call"];
  if (step.contains("error")) {
    if (outcome.error != step["error"]) {
      return call + ": expected the error " + step["error"].get<std::string>() + ", got " +
             (outcome.error.empty() ? "the result " + outcome.result.dump() : outcome.error);
    }
    return "";
  }
  if (!outcome.error.empty()) return call + ": failed with " + outcome.error;
  const json& result = outcome.result;
  auto fail = [&](const std::string& what) {
    return call + ": " + what + ", got " + result.dump();
  };
  if (step.contains("expect") && result != variables.Evaluate(step["expect"])) {
    return fail("expected " + variables.Evaluate(step["expect"]).dump());
  }
  if (step.contains("same") && result != variables.Evaluate(step["same"])) {
    return fail("expected the same as " + step["same"].get<std::string>());
  }
  if (step.contains("differs") && result == variables.Evaluate(step["differs"])) {
    return fail("expected other than " + step["differs"].get<std::string>());
  }
  if (step.contains("is")) {
    const std::string kind = step["is"];
    if (kind == "handle" && (!result.is_number_integer() || IsResultCode(result.get<int64_t>()))) {
      return fail("expected a handle");
    }
    if (kind == "hex" && (!result.is_string() || !IsUpperHex(result.get<std::string>()))) {
      return fail("expected upper-case hex text");
    }
    if (kind == "pem" &&
        (!result.is_string() ||
         result.get<std::string>().rfind("-----BEGIN CERTIFICATE-----\r\n", 0) != 0 ||
         !EndsWith(result.get<std::string>(), "-----END CERTIFICATE-----\r\n"))) {
      return fail("expected certificate PEM text");
    }
  }
  if (step.contains("length") &&
      (!result.is_string() || result.get<std::string>().size() != step["length"].get<size_t>())) {
    return fail("expected text of " + step["length"].dump() + " characters");
  }
  if (step.contains("save")) variables.Save(step["save"], result);
  return "";
}

std::string Judge(const json& judge, const std::string& text, const std::string& test_data_dir) {
  std::vector<uint8_t> bytes = HexDecode(text);
  if (judge.value("order", "") == "lsb") std::reverse(bytes.begin(), bytes.end());
  if (judge.contains("certificate")) {
    const std::string key = judge["certificate"];
    const std::vector<uint8_t> der = DerOfPem(text);
    if (der.empty()) return "not a PEM certificate";
    if (der != testing::ReadFile(test_data_dir + "/" + key + ".cert.der")) {
      return "not the certificate " + key;
    }
    return "";
  }
  const std::vector<uint8_t> data = HexDecode(judge["data"].get<std::string>());
  if (judge.contains("verifies")) {
    const std::string key = judge["verifies"];
    const std::string pem = ReadText(test_data_dir + "/" + key + ".cert.pem");
    if (!testing::VerifiesWith(pem, DigestNamed(judge["digest"]), data, bytes)) {
      return "OpenSSL does not verify it with " + key;
    }
    return "";
  }
  if (judge.contains("decrypts")) {
    const std::string key = judge["decrypts"];
    if (testing::DecryptWith(test_data_dir + "/" + key + ".key.pem", bytes) != data) {
      return "OpenSSL does not decrypt it with " + key + " to " + judge["data"].get<std::string>();
    }
    return "";
  }
  return "unknown judgement " + judge.dump();
}

std::vector<std::string> JudgedIds(const json& group) {
  std::vector<std::string> ids;
  for (const json& step : group["steps"]) {
    if (step.contains("judge")) ids.push_back(step["id"]);
  }
  return ids;
}

const json* FindJudgedStep(const json& table, const std::string& id) {
  for (const json& group : table["groups"]) {
    for (const json& step : group["steps"]) {
      if (step.contains("judge") && step["id"] == id) return &step;
    }
  }
  return nullptr;
}

}  // namespace tarvona::conformance
