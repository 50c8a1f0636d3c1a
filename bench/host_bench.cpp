// Host stand-ins against their peers: host_hash_n_bytes against zlib's crc32 (ISA-L and
// libdeflate alongside) from 1 byte to 1 GiB, host_strtod against glibc strtod.
#include "bench_support.hpp"
#include "report_context.hpp"

#include <vesk/host/host_util.h>

#include <benchmark/benchmark.h>
#include <isa-l/crc.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using vesk::bench::shared_random_bytes;

void BM_HostHash(benchmark::State& state) {
  const auto size = static_cast<unsigned int>(state.range(0));
  const unsigned char* bytes = shared_random_bytes(size);
  unsigned int crc = 0;
  for (auto _ : state) {
    crc = host_hash_n_bytes(crc, size, bytes);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const auto size = static_cast<uInt>(state.range(0));
  const unsigned char* bytes = shared_random_bytes(size);
  uLong crc = 0;
  for (auto _ : state) {
    crc = crc32(crc, bytes, size);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_IsalCrc32(benchmark::State& state) {
  const auto size = static_cast<std::uint64_t>(state.range(0));
  const unsigned char* bytes = shared_random_bytes(size);
  std::uint32_t crc = 0;
  for (auto _ : state) {
    crc = crc32_gzip_refl(crc, bytes, size);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_LibdeflateCrc32(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const unsigned char* bytes = shared_random_bytes(size);
  std::uint32_t crc = 0;
  for (auto _ : state) {
    crc = libdeflate_crc32(crc, bytes, size);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void crc_lengths(benchmark::internal::Benchmark* b) {
  for (long length : {1L, 2L, 3L, 4L, 6L, 8L, 9L, 10L, 11L, 12L, 13L, 14L, 15L, 16L, 24L, 32L, 64L, 128L, 256L, 1024L,
                      4096L, 65536L, 1L << 20, 16L << 20})
    b->Arg(length);
  // The curve's memory-bound end; one call of 1 GiB takes a good part of a second with zlib.
  if (!vesk::bench::quick_run())
    b->Arg(256L << 20)->Arg(1L << 30);
  // Four peers at 26 lengths: the curves' short minimum time keeps the whole run within its
  // budget.
  b->MinTime(vesk::bench::kCurveMinTime);
}

BENCHMARK(BM_HostHash)->Apply(crc_lengths);
BENCHMARK(BM_ZlibCrc32)->Apply(crc_lengths);
BENCHMARK(BM_IsalCrc32)->Apply(crc_lengths);
BENCHMARK(BM_LibdeflateCrc32)->Apply(crc_lengths);

// Doubles of every magnitude printed with %.17g, the form that round-trips.
const std::vector<std::string>& printed_doubles() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out;
    std::mt19937_64 generator(7);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-300, 300);
    char buffer[64];
    for (int i = 0; i < 4096; ++i) {
      const double value = std::ldexp(mantissa(generator), exponent(generator));
      std::snprintf(buffer, sizeof buffer, "%.17g", i % 2 == 0 ? value : -value);
      out.emplace_back(buffer);
    }
    return out;
  }();
  return texts;
}

void BM_HostStrtod(benchmark::State& state) {
  const auto& texts = printed_doubles();
  void* context = host_fpc_context();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(host_strtod(context, texts[i].c_str(), nullptr, 0));
    i = (i + 1) % texts.size();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_GlibcStrtod(benchmark::State& state) {
  const auto& texts = printed_doubles();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::strtod(texts[i].c_str(), nullptr));
    i = (i + 1) % texts.size();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

BENCHMARK(BM_HostStrtod);
BENCHMARK(BM_GlibcStrtod);

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  report::summarise({"`host_hash_n_bytes` (CRC-32), 64 B", "BM_HostHash/64"},
                    {"zlib `crc32`", "BM_ZlibCrc32/64"});
  report::summarise({"`host_hash_n_bytes` (CRC-32), 16 MiB", "BM_HostHash/16777216"},
                    {"zlib `crc32`", "BM_ZlibCrc32/16777216"});
  report::table("String to double against glibc `strtod`",
                "4096 doubles of every magnitude printed with %.17g; time per number.");
  report::compare({"`host_strtod` (behind `vesk_string_to_double`)", "BM_HostStrtod"},
                  {"glibc `strtod`", "BM_GlibcStrtod"}, {"glibc `strtod`"});
  report::curve("CRC-32, 1 B to 1 GiB",
                "Random bytes, one call per iteration, CPU time; the ratios are of speeds (above "
                "1 the library is faster).",
                "crc32.png",
                {{"CRC-32",
                  "bytes per call",
                  "bytes per second",
                  "rate",
                  true,
                  {{"host_hash_n_bytes", "BM_HostHash"},
                   {"zlib crc32", "BM_ZlibCrc32", "", true},
                   {"ISA-L crc32_gzip_refl", "BM_IsalCrc32", "", true},
                   {"libdeflate_crc32", "BM_LibdeflateCrc32", "", true}}}});
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
