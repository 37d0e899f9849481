// Certificate input of the store road: random bytes as PEM text (source 2)
// and as DER (source 3), through the same conversions the methods make.
// Whatever they hold, the answer is a result code, never a fault.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "capi/csp_crypto.h"
#include "capi/nss/nss_platform.h"
#include "common/result_code.h"
#include "encoding/hex.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tarvona::fuzzing::UseOwnHome();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tarvona::fuzzing::NoOne picker;
  static tarvona::CCspCrypto csp(tarvona::capi::nss::UserCryptoPlatform(), picker);
  const std::vector<uint8_t> signature(256, 0x5A);
  const std::vector<uint8_t> message = {'a', 'b', 'c'};

  // PEM text reaches the operation with its terminating NUL.
  std::vector<uint8_t> text(data, data + size);
  text.push_back(0);
  int32_t pem = csp.VerifyWithCertificate(tarvona::kSourcePem, std::span<const uint8_t>(text), 0,
                                          message, signature);
  int32_t der = csp.VerifyWithCertificate(tarvona::kSourceDer, std::span<const uint8_t>(data, size),
                                          0, message, signature);
  for (int32_t rc : {pem, der}) {
    if (rc == tarvona::kOk) std::abort();  // a random signature never verifies
  }
  return 0;
}
