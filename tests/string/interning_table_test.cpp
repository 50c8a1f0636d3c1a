// The interning table's private machinery: remainders without division, and the bucket array
// with its one-word buckets, spills and hash tags.
#include "util/string/interning_table.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using vesk::detail::BucketArray;
using vesk::detail::Modulus;
using vesk::table_string::Entry;

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

// Records that hash as their texts do, for filling buckets by hand.
std::vector<std::unique_ptr<Entry>> records(int count) {
  std::vector<std::unique_ptr<Entry>> out;
  for (int i = 0; i < count; ++i) {
    const std::string text = "record-" + std::to_string(i);
    const Entry key(text.data(), static_cast<unsigned int>(text.size()));
    out.emplace_back(new Entry(key));
  }
  return out;
}

TEST(BucketArray, BucketsKeepInsertionOrderThroughEverySpillSize) {
  const auto entries = records(40);
  BucketArray buckets(7);
  for (const auto& entry : entries) {
    buckets.reserveOneMore(3);
    buckets.append(3, BucketArray::recordWord(entry.get()));
  }
  buckets.reserveOneMore(5);
  buckets.append(5, BucketArray::recordWord(entries[0].get()));

  const BucketArray::View three = buckets.bucket(3);
  ASSERT_EQ(three.size, 40u);
  for (unsigned int i = 0; i < three.size; ++i) {
    EXPECT_EQ(BucketArray::record(three.first[i]), entries[i].get()) << i;
    EXPECT_TRUE(BucketArray::mayHash(three.first[i], entries[i]->hash())) << i;
    // Past 16 records the bucket is searched through its index, which must find them all.
    EXPECT_EQ(buckets.findLong(3, entries[i]->text(), entries[i]->size(), entries[i]->hash()),
              entries[i].get())
        << i;
  }
  EXPECT_EQ(buckets.findLong(3, "record-40", 9, entries[0]->hash()), nullptr);
  EXPECT_EQ(buckets.bucket(5).size, 1u);
  EXPECT_EQ(BucketArray::record(buckets.bucket(5).first[0]), entries[0].get());
  EXPECT_EQ(buckets.bucket(0).size, 0u);
  EXPECT_EQ(buckets.bucket(6).size, 0u);
}

TEST(BucketArray, TagsPassOverOtherHashesAndRecoverTheTop16Bits) {
  const auto entries = records(1);
  const BucketArray::Word word = BucketArray::recordWord(entries[0].get());
  const unsigned int hash = entries[0]->hash();
  EXPECT_EQ(BucketArray::record(word), entries[0].get());
  EXPECT_TRUE(BucketArray::mayHash(word, hash));
  if (BucketArray::hasTag(word)) {
    EXPECT_EQ(BucketArray::tag(word), hash >> 16);
    EXPECT_FALSE(BucketArray::mayHash(word, hash ^ 0x10000u));
  }
  EXPECT_TRUE(BucketArray::mayHash(word, hash ^ 1u)) << "only the top 16 bits are kept";
}

TEST(BucketArray, SwapExchangesBucketsAndCounts) {
  const auto entries = records(3);
  BucketArray small(2);
  BucketArray large(11);
  for (const auto& entry : entries) {
    large.reserveOneMore(10);
    large.append(10, BucketArray::recordWord(entry.get()));
  }
  small.swap(large);
  EXPECT_EQ(small.count(), 11u);
  EXPECT_EQ(large.count(), 2u);
  EXPECT_EQ(small.bucket(10).size, 3u);
  EXPECT_EQ(small.indexOf(25), 3u);
  EXPECT_EQ(large.indexOf(25), 1u);
}

}  // namespace
