// CrcHasher: chaining of the host hash from the seed, getHash checkpoints and hashValue resets.
#include "support/host_fake.hpp"

#include <vesk/hash.hpp>

#include <gtest/gtest.h>

#include <vector>

namespace {

using vesk::testing::clear_host_calls;
using vesk::testing::hash_calls;
using vesk::testing::host_hash_of;

TEST(CrcHasher, EmptyStreamMakesOneHostCallFromTheSeed) {
  for (unsigned int seed : {0u, 7u, 0xdeadbeefu}) {
    vesk::CrcHasher hasher(seed);
    clear_host_calls();
    const unsigned int value = hasher.getHash();
    ASSERT_EQ(hash_calls().size(), 1u) << "seed " << seed;
    EXPECT_EQ(hash_calls()[0].previous, seed);
    EXPECT_TRUE(hash_calls()[0].bytes.empty());
    EXPECT_EQ(value, host_hash_of(seed, 0, nullptr));
  }
}

TEST(CrcHasher, EachBlockChainsFromThePreviousResult) {
  vesk::CrcHasher hasher(3);
  clear_host_calls();
  for (int i = 0; i < 700; ++i)
    hasher.addValue(i);
  const unsigned int first = hasher.getHash();
  const unsigned int second = hasher.getHash();
  ASSERT_EQ(hash_calls().size(), 4u);  // 1024, 1024, 752, then 0 bytes
  unsigned int expected = 3;
  for (const auto& call : hash_calls()) {
    EXPECT_EQ(call.previous, expected);
    expected =
        host_hash_of(expected, static_cast<unsigned int>(call.bytes.size()), call.bytes.data());
    EXPECT_EQ(call.result, expected);
  }
  EXPECT_EQ(hash_calls()[2].result, first);
  EXPECT_EQ(hash_calls()[3].previous, first);
  EXPECT_TRUE(hash_calls()[3].bytes.empty());
  EXPECT_EQ(second, expected);
}

TEST(CrcHasher, GetHashAfterAFullBlockMakesTwoCalls) {
  vesk::CrcHasher hasher;
  const std::vector<unsigned char> block(1024, 9);
  clear_host_calls();
  hasher.addBytes(block.data(), block.data() + block.size());
  hasher.getHash();
  ASSERT_EQ(hash_calls().size(), 2u);
  EXPECT_EQ(hash_calls()[0].bytes.size(), 1024u);
  EXPECT_EQ(hash_calls()[1].bytes.size(), 0u);
}

TEST(CrcHasher, HashValueLeavesExactlyOneWord) {
  for (std::size_t size : {0u, 1u, 3u}) {
    vesk::CrcHasher hasher;
    hasher.addValue(42);
    std::vector<unsigned int> result(size, 0xffffffffu);
    hasher.hashValue(result);
    ASSERT_EQ(result.size(), 1u) << "size " << size;
    vesk::CrcHasher reference;
    reference.addValue(42);
    EXPECT_EQ(result[0], reference.getHash()) << "size " << size;
  }
}

TEST(CrcHasher, HashValueRestartsFromZeroNotFromTheSeed) {
  const auto feed = [](vesk::CrcHasher& h) {
    h.addValue("payload");
    h.addValue(2.5);
  };
  vesk::CrcHasher seeded(7);
  feed(seeded);
  std::vector<unsigned int> first;
  seeded.hashValue(first);
  feed(seeded);
  std::vector<unsigned int> second;
  seeded.hashValue(second);

  vesk::CrcHasher fresh;
  feed(fresh);
  std::vector<unsigned int> reference;
  fresh.hashValue(reference);
  EXPECT_EQ(second, reference);
  EXPECT_NE(first, reference);
}

TEST(CrcHasher, GetHashKeepsTheRunningValue) {
  vesk::CrcHasher hasher;
  hasher.addValue(1);
  const unsigned int checkpoint = hasher.getHash();
  hasher.addValue(2);
  clear_host_calls();
  hasher.getHash();
  ASSERT_EQ(hash_calls().size(), 1u);
  EXPECT_EQ(hash_calls()[0].previous, checkpoint);
}

}  // namespace
