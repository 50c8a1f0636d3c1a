// Hashing against its peers: vesk_md5_bytes and MD5Hasher against OpenSSL's MD5, and
// CrcHasher against one call of the host hash over the same bytes.
// OpenSSL 3 marks its low-level MD5 functions deprecated; they are the peer named here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <vesk/hash.hpp>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr long kLarge = 16L << 20;
constexpr long kSmall = 16;

std::vector<unsigned char> random_bytes(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  std::mt19937_64 generator(42);
  for (auto& byte : bytes)
    byte = static_cast<unsigned char>(generator());
  return bytes;
}

void BM_VeskMd5Bytes(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  unsigned int digest[4];
  for (auto _ : state) {
    vesk_md5_bytes(bytes.data(), bytes.data() + bytes.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSslMd5(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[MD5_DIGEST_LENGTH];
  for (auto _ : state) {
    MD5(bytes.data(), bytes.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSslEvpDigest(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  const EVP_MD* md5 = EVP_md5();
  for (auto _ : state) {
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, md5, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_VeskMd5Bytes)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_OpenSslMd5)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_OpenSslEvpDigest)->Arg(kSmall)->Arg(kLarge);

}  // namespace

BENCHMARK_MAIN();
