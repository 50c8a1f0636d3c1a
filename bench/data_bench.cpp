// convert_data on 4 Mi elements against memcpy of the larger array, the same for 10^3 to 10^8
// elements as a curve, and SubsRef::assign on 1 Mi random indices against a hand-written
// gather loop.
#include "bench_support.hpp"
#include "report_context.hpp"

#include <vesk/data.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr unsigned int kElements = 4u << 20;
constexpr unsigned int kGathered = 1u << 20;

// Values that exercise every branch of the rules: ordinary numbers, values past the
// 32-bit ranges, NaNs and infinities.
std::vector<unsigned char> source_for(vesk::DataTypeId::Type type, unsigned int count) {
  std::vector<unsigned char> bytes(std::size_t{count} * vesk::get_type_size(type));
  std::mt19937_64 generator(7);
  if (type == vesk::DataTypeId::REAL) {
    std::uniform_real_distribution<double> values(-6e9, 6e9);
    for (unsigned int i = 0; i < count; ++i) {
      const double value = (i % 64 == 0) ? std::numeric_limits<double>::quiet_NaN() : values(generator);
      std::memcpy(&bytes[std::size_t{i} * 8], &value, 8);
    }
  } else {
    for (auto& byte : bytes)
      byte = static_cast<unsigned char>(generator());
  }
  return bytes;
}

// The source of each type for the 4 Mi-element benchmarks, made once rather than in every
// repetition of every pair.
const std::vector<unsigned char>& fixed_source(vesk::DataTypeId::Type type) {
  static std::vector<unsigned char> sources[5];
  std::vector<unsigned char>& bytes = sources[type];
  if (bytes.empty())
    bytes = source_for(type, kElements);
  return bytes;
}

// convert_data in turns with its peer, memcpy of as many bytes as the larger of the two
// arrays (see in_turns): the counter per_peer is their ratio.
void BM_ConvertData(benchmark::State& state) {
  const auto from = static_cast<vesk::DataTypeId::Type>(state.range(0));
  const auto to = static_cast<vesk::DataTypeId::Type>(state.range(1));
  const std::vector<unsigned char>& src = fixed_source(from);
  std::vector<unsigned char> dst(std::size_t{kElements} * vesk::get_type_size(to), 1);
  const std::size_t copied =
      std::size_t{kElements} * std::max(vesk::get_type_size(from), vesk::get_type_size(to));
  std::vector<unsigned char> copy_src(copied, 2), copy_dst(copied, 1);
  vesk::bench::in_turns(
      state,
      [&] {
        vesk::convert_data(kElements, from, src.data(), to, dst.data());
        benchmark::ClobberMemory();
      },
      [&] {
        std::memcpy(copy_dst.data(), copy_src.data(), copied);
        benchmark::ClobberMemory();
      });
  state.SetLabel(std::string(vesk::get_type_name(from)) + "->" + vesk::get_type_name(to));
}

// ----- the curve: 10^3 to 10^8 elements, from cache-resident to memory-bound ------------------

unsigned int curve_largest() { return vesk::bench::quick_run() ? 1000000 : 100000000; }

// Sources and destination made once at the largest size and shared by every point of the
// curve; the REAL source is also the source of the memcpy.
const unsigned char* curve_source(vesk::DataTypeId::Type type) {
  static std::vector<unsigned char> sources[5];
  std::vector<unsigned char>& bytes = sources[type];
  if (bytes.empty())
    bytes = source_for(type, curve_largest());
  return bytes.data();
}

unsigned char* curve_destination() {
  static std::vector<unsigned char> bytes(std::size_t{curve_largest()} * 8, 1);
  return bytes.data();
}

void BM_ConvertCurve(benchmark::State& state) {
  const auto from = static_cast<vesk::DataTypeId::Type>(state.range(0));
  const auto to = static_cast<vesk::DataTypeId::Type>(state.range(1));
  const auto count = static_cast<unsigned int>(state.range(2));
  const unsigned char* src = curve_source(from);
  unsigned char* dst = curve_destination();
  for (auto _ : state) {
    vesk::convert_data(count, from, src, to, dst);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

// The peer: memcpy of as many 8-byte elements.
void BM_MemcpyCurve(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * 8;
  const unsigned char* src = curve_source(vesk::DataTypeId::REAL);
  unsigned char* dst = curve_destination();
  for (auto _ : state) {
    std::memcpy(dst, src, bytes);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// REAL into INTEGER and UINTEGER (narrowing, with the range rules) and INTEGER into REAL
// (widening), each against memcpy of the larger array.
void curve_pairs(benchmark::internal::Benchmark* b) {
  for (const std::int64_t count : vesk::bench::decades(1000, curve_largest(), curve_largest()))
    for (const auto& pair : {std::pair<int, int>{1, 2}, {1, 3}, {2, 1}})
      b->Args({pair.first, pair.second, count});
  b->MinTime(vesk::bench::kCurveMinTime);
}

void curve_counts(benchmark::internal::Benchmark* b) {
  for (const std::int64_t count : vesk::bench::decades(1000, curve_largest(), curve_largest()))
    b->Arg(count);
  b->MinTime(vesk::bench::kCurveMinTime);
}

std::vector<unsigned int> random_index(unsigned int count, unsigned int range) {
  std::vector<unsigned int> index(count);
  std::mt19937 generator(11);
  std::uniform_int_distribution<unsigned int> positions(0, range - 1);
  for (auto& i : index)
    i = positions(generator);
  return index;
}

template <class Element>
void BM_SubsRefAssign(benchmark::State& state) {
  const auto type = static_cast<vesk::DataTypeId::Type>(state.range(0));
  const std::vector<Element> src(kElements, Element{3});
  std::vector<Element> dst(kGathered);
  const vesk::SubsRef ref(vesk::Dimension(kGathered, 1), random_index(kGathered, kElements));
  for (auto _ : state) {
    ref.assign(type, dst.data(), src.data());
    benchmark::ClobberMemory();
  }
}

// The peer: the loop a caller would write for the same gather.
template <class Element>
void BM_HandGather(benchmark::State& state) {
  const std::vector<Element> src(kElements, Element{3});
  std::vector<Element> dst(kGathered);
  const std::vector<unsigned int> index = random_index(kGathered, kElements);
  for (auto _ : state) {
    const unsigned int* positions = index.data();
    Element* out = dst.data();
    for (std::size_t i = 0; i < index.size(); ++i)
      out[i] = src[positions[i]];
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}

void all_pairs(benchmark::internal::Benchmark* b) {
  for (int from = 0; from < 5; ++from)
    for (int to = 0; to < 5; ++to)
      b->Args({from, to});
}

// The machine is shared, so the fastest repetition is reported beside the median.
double fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  const char* const types[] = {"LOGICAL", "REAL", "INTEGER", "UINTEGER", "STRING"};
  report::table("`convert_data` against `memcpy`",
                "4 Mi elements (values that reach every rule: NaNs, values past the 32-bit "
                "ranges); the peer copies as many bytes as the larger of the two arrays, in "
                "alternation with the conversion.",
                "`convert_data`, 25 type pairs", "`memcpy`");
  for (int from = 0; from < 5; ++from)
    for (int to = 0; to < 5; ++to) {
      const auto width = std::max(vesk::get_type_size(static_cast<vesk::DataTypeId::Type>(from)),
                                  vesk::get_type_size(static_cast<vesk::DataTypeId::Type>(to)));
      report::compare_in_turns(std::string(types[from]) + " → " + types[to],
                               "BM_ConvertData/" + std::to_string(from) + "/" + std::to_string(to),
                               "memcpy of " + std::to_string(width) + "-byte elements");
    }

  report::table("`SubsRef::assign` against a hand-written gather",
                "1 Mi random positions in an array of 4 Mi elements.");
  for (const auto& [element, type] : {std::pair{"std::uint8_t", vesk::DataTypeId::LOGICAL},
                                      std::pair{"std::int32_t", vesk::DataTypeId::INTEGER},
                                      std::pair{"double", vesk::DataTypeId::REAL}}) {
    const std::string name = std::string("<") + element + ">";
    report::compare({std::string("`SubsRef::assign`, ") + element,
                     "BM_SubsRefAssign" + name + "/" + std::to_string(type)},
                    {std::string("hand-written gather loop, ") + element, "BM_HandGather" + name});
  }

  report::curve("`convert_data`, 10^3 to 10^8 elements",
                "The same values as the table above, CPU time per element; the peer copies as "
                "many 8-byte elements, so from cache-resident arrays to memory-bound ones.",
                "convert_data.png",
                {{"Converting an array",
                  "elements",
                  "CPU time per element",
                  "time_per_x",
                  true,
                  {{"convert_data REAL → INTEGER", "BM_ConvertCurve/1/2"},
                   {"convert_data REAL → UINTEGER", "BM_ConvertCurve/1/3"},
                   {"convert_data INTEGER → REAL", "BM_ConvertCurve/2/1"},
                   {"memcpy of 8-byte elements", "BM_MemcpyCurve", "", true}}}});
}

}  // namespace

BENCHMARK(BM_ConvertData)
    ->Apply(all_pairs)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_MemcpyCurve)->Apply(curve_counts)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertCurve)->Apply(curve_pairs)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_SubsRefAssign, std::uint8_t)->Arg(vesk::DataTypeId::LOGICAL)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_HandGather, std::uint8_t)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_SubsRefAssign, std::int32_t)->Arg(vesk::DataTypeId::INTEGER)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_HandGather, std::int32_t)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_SubsRefAssign, double)->Arg(vesk::DataTypeId::REAL)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_HandGather, double)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
