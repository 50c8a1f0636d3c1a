// The bucket counts of the interning table and the remainders by their number.
#include "util/string/bucket_counts.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using vesk::detail::BucketCounts;
using vesk::detail::Modulus;

TEST(Modulus, AgreesWithDivisionAtTheEdges) {
  const std::uint32_t divisors[] = {1, 2, 3, 1049, 2089, 3139, 65535, 65536, 65537, 1670749,
                                    2147483647u, 2147483648u, 4294967295u};
  const std::uint32_t values[] = {0, 1, 2, 65535, 65536, 1670748, 1670749, 2147483648u,
                                  4294901760u, 4294967294u, 4294967295u};
  for (std::uint32_t divisor : divisors) {
    const Modulus modulus(divisor);
    for (std::uint32_t value : values)
      EXPECT_EQ(modulus(value), value % divisor) << value << " % " << divisor;
    for (std::uint32_t value = 0x9E3779B9u, i = 0; i < 1000; ++i, value = value * 2654435761u + 1)
      EXPECT_EQ(modulus(value), value % divisor) << value << " % " << divisor;
  }
}

// Sizes past 254, where a bucket's size moves aside (a later bucket first), next to buckets
// that stay small.
TEST(BucketCounts, CountsPastTheByteAndSwap) {
  BucketCounts small(2);
  BucketCounts counts(11);
  for (unsigned int k = 0; k < 600; ++k) {
    const unsigned int index = k < 300 ? 7 : k < 560 ? 3 : 10;
    counts.reserveOneMore(index);
    counts.add(index);
  }
  counts.swap(small);
  EXPECT_EQ(small.count(), 11u);
  EXPECT_EQ(counts.count(), 2u);
  const unsigned int expected[] = {0, 0, 0, 260, 0, 0, 0, 300, 0, 0, 40};
  for (unsigned int b = 0; b < 11; ++b)
    EXPECT_EQ(small.size(b), expected[b]) << b;
  EXPECT_EQ(small.indexOf(25), 3u);
  EXPECT_EQ(counts.indexOf(25), 1u);
}

}  // namespace
