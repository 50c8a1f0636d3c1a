// Hashing against its peers: vesk_md5_bytes (1 byte to 1 GiB) and MD5Hasher against OpenSSL's
// MD5, and CrcHasher against the host hash over the same bytes, in one call and chained over
// the 1024-byte blocks the hasher hands it.
// OpenSSL 3 marks its low-level MD5 functions deprecated; they are the peer named here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "bench_support.hpp"
#include "report_context.hpp"

#include <vesk/hash.hpp>
#include <vesk/host/host_util.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr long kLarge = 16L << 20;
constexpr long kSmall = 16;
// 32 KiB lie in the first-level cache, kLarge beyond the second.
constexpr long kInCache = 32L << 10;

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

// The digest as 32 hex digits: the digest of BM_VeskMd5Bytes and its text form.
void BM_Md5HexOf(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string_view bytes(
      reinterpret_cast<const char*>(vesk::bench::shared_random_bytes(size)), size);
  for (auto _ : state)
    benchmark::DoNotOptimize(vesk::md5_hex_of(bytes));
}

BENCHMARK(BM_VeskMd5Bytes)->Apply(md5_curve);
BENCHMARK(BM_Md5HexOf)->Arg(kSmall);
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

// The host hash chained over the 1024-byte blocks of `bytes`, each call starting from the
// value of the call before: the calls CrcHasher::addBytes makes, with nothing around them.
unsigned int chained_host_hash(const std::vector<unsigned char>& bytes) {
  constexpr std::size_t kBlock = 1024;
  unsigned int crc = 0;
  for (std::size_t at = 0; at + kBlock <= bytes.size(); at += kBlock)
    crc = host_hash_n_bytes(crc, kBlock, bytes.data() + at);
  return crc;
}

// The floor of addBytes. Against one call over the whole range it shows what the host pays per
// call, which the time of the memory hides when the range comes from beyond the caches.
void BM_HostHashChained(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(chained_host_hash(bytes));
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

// addBytes in turns with its floor, the chained host calls over the same bytes (see in_turns):
// the two differ by a few hundredths, less than the swings of the machine's memory speed
// between separate runs.
void BM_CrcHasherAddBytesInTurns(benchmark::State& state) {
  const auto bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
  vesk::CrcHasher hasher;
  vesk::bench::in_turns(
      state,
      [&] {
        hasher.addBytes(bytes.data(), bytes.data() + bytes.size());
        benchmark::DoNotOptimize(hasher.getHash());
      },
      [&] { benchmark::DoNotOptimize(chained_host_hash(bytes)); });
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

BENCHMARK(BM_HostHashOneCall)->Arg(kInCache)->Arg(kLarge);
BENCHMARK(BM_HostHashChained)->Arg(kInCache)->Arg(kLarge);
BENCHMARK(BM_CrcHasherAddBytes)->Arg(kLarge);
BENCHMARK(BM_CrcHasherAddBytesInTurns)->Arg(kLarge)->UseManualTime();
BENCHMARK(BM_CrcHasherAddDataReal)->Arg(kDoubles)->UseManualTime();
BENCHMARK(BM_CrcHasherAddValueInt)->Arg(1 << 16);

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  report::table("MD5 against OpenSSL", "Random bytes, one digest per iteration.");
  for (const auto& [size, words] : {std::pair{kSmall, "16 B"}, std::pair{kLarge, "16 MiB"}}) {
    const std::string ours = std::string("`vesk_md5_bytes`, ") + words;
    const std::string arg = "/" + std::to_string(size);
    report::compare({ours, "BM_VeskMd5Bytes" + arg},
                    {std::string("OpenSSL `MD5()`, ") + words, "BM_OpenSslMd5" + arg},
                    {"OpenSSL `MD5()`"});
    report::compare(
        {ours, "BM_VeskMd5Bytes" + arg},
        {std::string("OpenSSL `EVP_Digest` (MD5), ") + words, "BM_OpenSslEvpDigest" + arg});
  }
  report::compare({"`md5_hex_of`, 16 B (digest and its hex digits)", "BM_Md5HexOf/16"},
                  {"`vesk_md5_bytes`, 16 B (the digest alone)", "BM_VeskMd5Bytes/16"});
  report::compare({"`MD5Hasher::addBytes` + `hashValue`, 16 MiB", "BM_Md5HasherAddBytes/16777216"},
                  {"OpenSSL `MD5()`, 16 MiB", "BM_OpenSslMd5/16777216"});

  // addData(REAL) and the host call over 8 MiB take turns within each iteration: each finds
  // its array evicted by the other's, as an array of gigabytes would be.
  report::table(
      "CrcHasher against the host hash",
      "The hasher calls the host once per 1024-byte block of the stream, each call starting from "
      "the value of the one before: those chained calls alone are the floor of `addBytes`, "
      "measured in alternation with it. Over 16 MiB, which lie beyond the second-level cache, "
      "the time is mostly the memory's; over 32 KiB in the first-level cache the chain's cost "
      "per call shows against one call. `addData(REAL)` is at its floor: for each block an "
      "encoding pass reorders the bytes of each double into a block in the first-level cache and "
      "a CRC pass reads that block, each pass about as fast as the host CRC; the processor "
      "overlaps the two in part, so that the whole takes between one and two host calls over as "
      "many bytes.");
  const std::string add_bytes = "`CrcHasher::addBytes`, 16 MiB";
  const std::string one_call = "`host_hash_n_bytes`, one call, ";
  const std::string chained = "`host_hash_n_bytes` chained over 1024-byte blocks, ";
  report::compare_in_turns(
      add_bytes, "BM_CrcHasherAddBytesInTurns/16777216", chained + "16 MiB, in alternation",
      {"`host_hash_n_bytes` chained over its 1024-byte blocks, in alternation"});
  report::compare({add_bytes, "BM_CrcHasherAddBytes/16777216"},
                  {one_call + "16 MiB", "BM_HostHashOneCall/16777216"});
  for (const auto& [size, words] : {std::pair{kLarge, "16 MiB"}, std::pair{kInCache, "32 KiB"}}) {
    const std::string arg = "/" + std::to_string(size);
    report::compare({chained + words, "BM_HostHashChained" + arg},
                    {one_call + words, "BM_HostHashOneCall" + arg});
  }
  report::compare_in_turns("`CrcHasher::addData(REAL)`, 1 Mi doubles",
                           "BM_CrcHasherAddDataReal/1048576", one_call + "8 MiB, in alternation",
                           {"`host_hash_n_bytes`, one call, in alternation"});

  report::curve(
      "MD5, 1 B to 1 GiB",
      "Random bytes, one digest per iteration, CPU time; the ratios are of speeds "
      "(above 1 the library is faster).",
      "md5.png",
      {{"MD5",
        "bytes per digest",
        "bytes per second",
        "rate",
        true,
        {{"vesk_md5_bytes", "BM_VeskMd5Bytes"}, {"OpenSSL MD5()", "BM_OpenSslMd5", "", true}}}});
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
