// convert_data on 4 Mi elements against memcpy of the larger array, and SubsRef::assign on
// 1 Mi random indices against a hand-written gather loop.
#include <vesk/data.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <random>
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

void BM_ConvertData(benchmark::State& state) {
  const auto from = static_cast<vesk::DataTypeId::Type>(state.range(0));
  const auto to = static_cast<vesk::DataTypeId::Type>(state.range(1));
  const auto src = source_for(from, kElements);
  std::vector<unsigned char> dst(std::size_t{kElements} * vesk::get_type_size(to), 1);
  for (auto _ : state) {
    vesk::convert_data(kElements, from, src.data(), to, dst.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::string(vesk::get_type_name(from)) + "->" + vesk::get_type_name(to));
}

// The peer: memcpy of as many bytes as the larger of the two arrays of BM_ConvertData.
void BM_Memcpy(benchmark::State& state) {
  const std::size_t bytes = std::size_t{kElements} * static_cast<std::size_t>(state.range(0));
  std::vector<unsigned char> src(bytes, 2), dst(bytes, 1);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::to_string(state.range(0)) + "-byte elements");
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

}  // namespace

BENCHMARK(BM_Memcpy)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK(BM_ConvertData)->Apply(all_pairs)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_SubsRefAssign, std::uint8_t)->Arg(vesk::DataTypeId::LOGICAL)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_HandGather, std::uint8_t)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_SubsRefAssign, std::int32_t)->Arg(vesk::DataTypeId::INTEGER)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_HandGather, std::int32_t)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_SubsRefAssign, double)->Arg(vesk::DataTypeId::REAL)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_TEMPLATE(BM_HandGather, double)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);
BENCHMARK_MAIN();
