// The texts that the interning benchmarks intern: identifiers, made the same on every run.
#ifndef VESK_BENCH_IDENTIFIERS_HPP
#define VESK_BENCH_IDENTIFIERS_HPP

#include <absl/container/flat_hash_set.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace vesk::bench {

/// The number of texts of a batch unless asked otherwise, and of the table the lookups use.
inline constexpr std::size_t kTexts = 1000000;

/// Batch `batch` of `count` distinct identifiers of `shortest` to `longest` characters; the
/// first two characters name the batch, so no two batches share a text and every insert batch
/// is new to the process-wide table.
inline std::vector<std::string> identifiers(unsigned int batch, std::size_t count = kTexts,
                                            int shortest = 8, int longest = 16) {
  static constexpr char kFirst[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
  static constexpr char kRest[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789";
  std::mt19937_64 generator(1000 + batch);
  std::uniform_int_distribution<int> length(shortest, longest);
  std::uniform_int_distribution<int> rest(0, sizeof kRest - 2);
  absl::flat_hash_set<std::string> seen;
  std::vector<std::string> out;
  out.reserve(count);
  while (out.size() < count) {
    std::string text(static_cast<std::size_t>(length(generator)), ' ');
    text[0] = kFirst[batch / (sizeof kRest - 1) % (sizeof kFirst - 1)];
    text[1] = kRest[batch % (sizeof kRest - 1)];
    for (std::size_t i = 2; i < text.size(); ++i)
      text[i] = kRest[rest(generator)];
    if (seen.insert(text).second)
      out.push_back(std::move(text));
  }
  return out;
}

}  // namespace vesk::bench

#endif
