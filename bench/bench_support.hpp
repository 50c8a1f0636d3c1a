// Inputs shared by the benchmark programs.
#ifndef VESK_BENCH_BENCH_SUPPORT_HPP
#define VESK_BENCH_BENCH_SUPPORT_HPP

#include <cstddef>
#include <random>
#include <vector>

namespace vesk::bench {

/// `size` pseudo-random bytes, the same on every run.
inline std::vector<unsigned char> random_bytes(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  std::mt19937_64 generator(42);
  for (auto& byte : bytes)
    byte = static_cast<unsigned char>(generator());
  return bytes;
}

}  // namespace vesk::bench

#endif
