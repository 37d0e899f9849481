// The codecs against OpenSSL's on the same bytes, in alternation (one pair
// per iteration, bench/paired.h). Both sides hand back a fresh buffer per
// call, as the control needs one.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench/paired.h"
#include "encoding/base64.h"
#include "encoding/hex.h"
#include "encoding/pem.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t size) {
  std::mt19937 random(size);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(64)->Arg(1024)->Arg(1 << 20); }

// Ours and OpenSSL's, each called often enough per side of a pair (64 KiB
// of input) that a side takes tens of microseconds, not clock ticks.
template <typename Ours, typename Theirs>
void Compare(benchmark::State& state, Ours ours, Theirs theirs) {
  const auto size = static_cast<size_t>(state.range(0));
  const size_t calls = std::max<size_t>(1, (size_t{64} << 10) / size);
  tarvona::bench::RunPairs(
      state,
      [&] {
        for (size_t i = 0; i < calls; ++i) ours();
      },
      [&] {
        for (size_t i = 0; i < calls; ++i) theirs();
      });
  state.counters["bytes_per_run"] = static_cast<double>(calls * size);
}

void BM_HexEncode(benchmark::State& state) {
  auto bytes = RandomBytes(static_cast<size_t>(state.range(0)));
  Compare(
      state, [&] { benchmark::DoNotOptimize(tarvona::HexEncode(bytes)); },
      [&] {
        std::string out(bytes.size() * 2 + 1, '\0');
        size_t length = 0;
        OPENSSL_buf2hexstr_ex(out.data(), out.size(), &length, bytes.data(), bytes.size(), '\0');
        benchmark::DoNotOptimize(out.data());
      });
}

void BM_HexDecode(benchmark::State& state) {
  auto text = tarvona::HexEncode(RandomBytes(static_cast<size_t>(state.range(0))));
  Compare(
      state, [&] { benchmark::DoNotOptimize(tarvona::HexDecode(text)); },
      [&] {
        std::vector<uint8_t> out(text.size() / 2);
        size_t length = 0;
        OPENSSL_hexstr2buf_ex(out.data(), out.size(), &length, text.c_str(), '\0');
        benchmark::DoNotOptimize(out.data());
      });
}

void BM_Base64Encode(benchmark::State& state) {
  auto bytes = RandomBytes(static_cast<size_t>(state.range(0)));
  Compare(
      state, [&] { benchmark::DoNotOptimize(tarvona::Base64Encode(bytes)); },
      [&] {
        std::vector<unsigned char> out((bytes.size() + 2) / 3 * 4 + 1);
        EVP_EncodeBlock(out.data(), bytes.data(), static_cast<int>(bytes.size()));
        benchmark::DoNotOptimize(out.data());
      });
}

void BM_Base64Decode(benchmark::State& state) {
  auto text = tarvona::Base64Encode(RandomBytes(static_cast<size_t>(state.range(0))));
  Compare(
      state, [&] { benchmark::DoNotOptimize(tarvona::Base64Decode(text)); },
      [&] {
        std::vector<unsigned char> out(text.size() / 4 * 3);
        EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
        benchmark::DoNotOptimize(out.data());
      });
}

void BM_PemWrap(benchmark::State& state) {
  auto bytes = RandomBytes(static_cast<size_t>(state.range(0)));
  Compare(
      state,
      [&] {
        benchmark::DoNotOptimize(
            tarvona::PemWrap(bytes, tarvona::kCertificateHeader, tarvona::kCertificateFooter));
      },
      [&] {
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio(bio, "CERTIFICATE", "", bytes.data(), static_cast<long>(bytes.size()));
        BIO_free(bio);
      });
}

void BM_PemUnwrap(benchmark::State& state) {
  auto pem = tarvona::PemWrap(RandomBytes(static_cast<size_t>(state.range(0))),
                              tarvona::kCertificateHeader, tarvona::kCertificateFooter);
  Compare(
      state, [&] { benchmark::DoNotOptimize(tarvona::PemUnwrap(pem)); },
      [&] {
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        PEM_read_bio(bio, &name, &header, &data, &length);
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
        BIO_free(bio);
      });
}

void Paired(benchmark::internal::Benchmark* b) {
  Sizes(b);
  b->UseManualTime()->Repetitions(1);
}

BENCHMARK(BM_HexEncode)->Apply(Paired);
BENCHMARK(BM_HexDecode)->Apply(Paired);
BENCHMARK(BM_Base64Encode)->Apply(Paired);
BENCHMARK(BM_Base64Decode)->Apply(Paired);
BENCHMARK(BM_PemWrap)->Apply(Paired);
BENCHMARK(BM_PemUnwrap)->Apply(Paired);

}  // namespace

BENCHMARK_MAIN();
