// The Linux half of the Windows token road (ctest windows_token_road): a
// SoftHSM2 folder with the tokens "alpha" (the rsa2048 pair, CKA_ID 01) and
// "beta" (empty), generation 4 shown only alpha and generation 5 only beta,
// what OpenSSL says the Windows side must get, the bridge in the Wine
// prefix's system32, and then the cross-built test under Wine. Everything
// reaches the Windows process through its environment: Wine hands the Linux
// one on, and the Linux adaptors inside that process read it too.
//   tarvona_wine_token_road TOKEN_ROAD_WINE_EXE WINE_PREFIX

#include <stdlib.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "encoding/hex.h"
#include "platform/child_process.h"
#include "testing/openssl_judge.h"
#include "testing/softhsm_tokens.h"

namespace {

using namespace tarvona;
using namespace tarvona::testing;

void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

// Runs a program, its output passed on; its exit code, or -1.
int Run(const std::string& program, const std::vector<std::string>& arguments) {
  auto outcome = platform::RunChild(program, arguments, "", 1 << 20);
  if (!outcome) {
    std::fprintf(stderr, "cannot run %s\n", program.c_str());
    return -1;
  }
  std::fwrite(outcome->output.data(), 1, outcome->output.size(), stdout);
  std::fflush(stdout);
  return outcome->exit_code;
}

int RunRoad(const std::string& exe, const std::string& prefix) {
  SoftHsmTokens tokens;
  const std::string alpha = tokens.AddToken("alpha");
  tokens.ImportKeyPair("alpha", "rsa2048", {0x01});
  const std::string beta = tokens.AddToken("beta");
  Set("TARVONAV4_TOKENS", "alpha");
  Set("TARVONAV5_TOKENS", "beta");
  // The fault build of the adaptors, so the Windows side can drive faults.
  Set("TARVONA_BRIDGE_ADAPTORS", FaultModulesDir());

  const std::string pki = TestDataDir() + "/rsa2048";
  const auto pem_bytes = ReadFile(pki + ".cert.pem");
  const std::string pem(pem_bytes.begin(), pem_bytes.end());
  const auto data = Bytes("pay 100 to Bob");
  const auto secret = Bytes("a secret");
  Set("TARVONA_ROAD_SERIALS", alpha + "," + beta);
  Set("TARVONA_ROAD_DATA", HexEncode(data));
  Set("TARVONA_ROAD_DIGEST", HexEncode(DigestOf(Digest::kSha1, data)));
  Set("TARVONA_ROAD_SIGNATURE", HexEncode(SignWith(pki + ".key.pem", Digest::kSha1, data)));
  Set("TARVONA_ROAD_CERTIFICATE", HexEncode(ReadFile(pki + ".cert.der")));
  Set("TARVONA_ROAD_PLAINTEXT", HexEncode(secret));
  Set("TARVONA_ROAD_CIPHERTEXT", HexEncode(EncryptTo(pem, secret)));

  const std::string scripts = std::string(TARVONA_SOURCE_DIR) + "/scripts";
  const std::string build = std::filesystem::path(FaultModulesDir()).parent_path().parent_path();
  Set("WINEPREFIX", prefix);
  if (Run(scripts + "/wine-bridge.sh", {prefix, build}) != 0) return 1;
  const int status = Run(scripts + "/wine-run.sh", {exe, "--gtest_brief=1"});
  // Wine's server and services outlive the program: end them with the test.
  Run("/bin/sh", {"-c", ". " + scripts + "/wine-env.sh; wineserver -k || true"});
  return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TOKEN_ROAD_WINE_EXE WINE_PREFIX\n", argv[0]);
    return 2;
  }
  if (!std::filesystem::exists(argv[1])) {
    std::fprintf(stderr,
                 "%s is missing: build the Windows side (scripts/test-windows.sh --build)\n",
                 argv[1]);
    return 1;
  }
  try {
    return RunRoad(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "windows_token_road: %s\n", e.what());
    return 1;
  }
}
