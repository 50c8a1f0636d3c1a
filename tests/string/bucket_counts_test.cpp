// The bucket counts of the interning table and the remainders by their number.
#include "util/string/bucket_counts.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {
// While set, every allocation of the program fails.
bool gAllocationFails = false;
}  // namespace

void* operator new(std::size_t size) {
  void* block = gAllocationFails ? nullptr : std::malloc(size != 0 ? size : 1);
  if (block == nullptr)
    throw std::bad_alloc();
  return block;
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

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
// that stay small. Once room is reserved, adding allocates nothing: the 255th record of a
// bucket too is counted after its insertion is committed, where nothing may fail.
TEST(BucketCounts, CountsPastTheByteAndSwap) {
  BucketCounts small(2);
  BucketCounts counts(11);
  for (unsigned int k = 0; k < 600; ++k) {
    const unsigned int index = k < 300 ? 7 : k < 560 ? 3 : 10;
    counts.reserveOneMore(index);
    bool allocated = false;
    gAllocationFails = true;
    try {
      counts.add(index);
    } catch (const std::bad_alloc&) {
      allocated = true;
    }
    gAllocationFails = false;
    ASSERT_FALSE(allocated) << "record " << k;
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

// Counts made apart, as the threads of a growth make them, added bucket by bucket: small
// sums, sums that reach 254 and 255 (where a size moves aside), sizes kept aside on either
// side, and runs of empty buckets longer and shorter than eight between them.
TEST(BucketCounts, AddsCountsMadeApart) {
  struct Row {
    unsigned int bucket;
    unsigned int into;
    unsigned int added;
  };
  // Buckets are added 64 at a time where no sum reaches 255: 64 to 127 are such a run but
  // for the one of 255, and 192 to 199 end the counts.
  const Row rows[] = {{0, 1, 2},    {9, 0, 7},      {10, 200, 54},  {11, 200, 55}, {12, 254, 1},
                      {13, 300, 5}, {14, 3, 300},   {30, 255, 255}, {31, 0, 0},    {40, 9, 0},
                      {64, 1, 2},   {100, 200, 55}, {127, 0, 9},    {199, 254, 0}};
  BucketCounts into(200);
  BucketCounts added(200);
  const auto fill = [](BucketCounts& counts, unsigned int bucket, unsigned int n) {
    for (unsigned int k = 0; k < n; ++k) {
      counts.reserveOneMore(bucket);
      counts.add(bucket);
    }
  };
  for (const Row& row : rows) {
    fill(into, row.bucket, row.into);
    fill(added, row.bucket, row.added);
  }
  into.addAll(added);
  for (const Row& row : rows)
    EXPECT_EQ(into.size(row.bucket), row.into + row.added) << "bucket " << row.bucket;
  for (unsigned int b = 1; b < 9; ++b)
    EXPECT_EQ(into.size(b), 0u) << "bucket " << b;
}

}  // namespace
