// Hashing against its peers: vesk_md5_bytes (1 byte to 1 GiB) and MD5Hasher against OpenSSL's
// MD5, and CrcHasher against one call of the host hash over the same bytes.
// OpenSSL 3 marks its low-level MD5 functions deprecated; they are the peer named here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "bench_support.hpp"

#include <vesk/hash.hpp>
#include <vesk/host/host_util.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr long kLarge = 16L << 20;
constexpr long kSmall = 16;

using vesk::bench::random_bytes;

void BM_VeskMd5Bytes(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const unsigned char* bytes = vesk::bench::shared_random_bytes(size);
  unsigned int digest[4];
  for (auto _ : state) {
    vesk_md5_bytes(bytes, bytes + size, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSslMd5(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const unsigned char* bytes = vesk::bench::shared_random_bytes(size);
  unsigned char digest[MD5_DIGEST_LENGTH];
  for (auto _ : state) {
    MD5(bytes, size, digest);
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

// The curve: 1 B to 256 MiB in steps of 16 (16 B and 16 MiB among them), then 1 GiB; the
// curves' short minimum time per size (one digest of 1 GiB takes over a second anyway).
void md5_curve(benchmark::internal::Benchmark* b) {
  const long largest = vesk::bench::quick_run() ? kLarge : 256L << 20;
  for (long size = 1; size <= largest; size *= 16)
    b->Arg(size);
  if (!vesk::bench::quick_run())
    b->Arg(1L << 30);
  b->MinTime(vesk::bench::kCurveMinTime);
}

BENCHMARK(BM_VeskMd5Bytes)->Apply(md5_curve);
BENCHMARK(BM_OpenSslMd5)->Apply(md5_curve);
BENCHMARK(BM_OpenSslEvpDigest)->Arg(kSmall)->Arg(kLarge);

// MD5Hasher fed the whole range through addBytes, against vesk_md5_bytes above.
void BM_Md5HasherAddBytes(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned int> digest;
  for (auto _ : state) {
    vesk::MD5Hasher hasher;
    hasher.addBytes(bytes.data(), bytes.data() + bytes.size());
    hasher.hashValue(digest);
    benchmark::DoNotOptimize(digest.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Md5HasherAddBytes)->Arg(kLarge);

// The host hash in one call: the peer of every CrcHasher figure.
void BM_HostHashOneCall(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    unsigned int crc = host_hash_n_bytes(0, static_cast<unsigned int>(bytes.size()), bytes.data());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_CrcHasherAddBytes(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  vesk::CrcHasher hasher;
  for (auto _ : state) {
    hasher.addBytes(bytes.data(), bytes.data() + bytes.size());
    benchmark::DoNotOptimize(hasher.getHash());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

constexpr long kDoubles = 1L << 20;

// addData of REAL elements (the bytes of each double are reordered on the way into the
// buffer), in turns with one host call over as many bytes: the counter per_peer is their ratio.
void BM_CrcHasherAddDataReal(benchmark::State& state) {
  std::vector<double> values(static_cast<std::size_t>(state.range(0)));
  std::mt19937_64 generator(3);
  std::uniform_real_distribution<double> distribution(-1e6, 1e6);
  for (double& v : values)
    v = distribution(generator);
  const auto bytes = random_bytes(values.size() * sizeof(double));
  vesk::CrcHasher hasher;
  vesk::bench::in_turns(
      state,
      [&] {
        hasher.addData(vesk::DataTypeId::REAL, static_cast<unsigned int>(values.size()),
                       values.data());
        benchmark::DoNotOptimize(hasher.getHash());
      },
      [&] {
        unsigned int crc =
            host_hash_n_bytes(0, static_cast<unsigned int>(bytes.size()), bytes.data());
        benchmark::DoNotOptimize(crc);
      });
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 8);
}

// addValue(int) one value at a time; the figure to read is the time per value.
void BM_CrcHasherAddValueInt(benchmark::State& state) {
  vesk::CrcHasher hasher;
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < count; ++i)
      hasher.addValue(i);
    benchmark::DoNotOptimize(hasher.getHash());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
  state.counters["ns_per_value"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * count,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_HostHashOneCall)->Arg(kLarge);
BENCHMARK(BM_CrcHasherAddBytes)->Arg(kLarge);
BENCHMARK(BM_CrcHasherAddDataReal)->Arg(kDoubles)->UseManualTime();
BENCHMARK(BM_CrcHasherAddValueInt)->Arg(1 << 16);

}  // namespace

BENCHMARK_MAIN();
