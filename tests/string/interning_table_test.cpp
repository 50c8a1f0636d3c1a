// The interning table's private machinery: remainders without division, the bucket counts and
// the index of the records.
#include "util/string/interning_table.hpp"

#include <gtest/gtest.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

// The system gives no random bytes (the first request is interrupted, the second refused):
// the index keys its texts with the stand-in secret, and every lookup below must still find
// its record.
extern "C" ssize_t getrandom(void*, std::size_t, unsigned int) {
  static int calls = 0;
  errno = calls++ == 0 ? EINTR : ENOSYS;
  return -1;
}

namespace {

using vesk::detail::BucketCounts;
using vesk::detail::Modulus;
using vesk::detail::RecordIndex;
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

// Each record is looked up by its key and its text, and a text that is not there is not found:
// records of one key (one probe sequence through every group), of keys that share the first
// group but not the control byte, and of their own keys through several doublings.
TEST(RecordIndex, FindsEveryRecordAndNothingElse) {
  struct Case {
    const char* name;
    int count;
    std::uint64_t (*key)(const Entry&);
  };
  const Case cases[] = {
      {"one key", 49, [](const Entry&) { return std::uint64_t{0x5EED}; }},
      {"one group", 49, [](const Entry& e) { return (std::uint64_t{e.hash()} << 57) | 0x5EED; }},
      {"own keys", 5000, [](const Entry& e) { return RecordIndex::keyOf(e.text(), e.size()); }},
  };
  for (const Case& c : cases) {
    const auto entries = records(c.count);
    RecordIndex index;
    for (const auto& entry : entries) {
      index.reserveOneMore();
      index.insert(c.key(*entry), entry.get());
    }
    EXPECT_EQ(index.size(), entries.size()) << c.name;
    for (const auto& entry : entries) {
      const Entry* wanted = entry.get();
      EXPECT_EQ(index.find(c.key(*wanted), [&](const Entry* r) { return r == wanted; }), wanted)
          << c.name << " " << wanted->text();
    }
    const Entry absent("absent", 6);
    EXPECT_EQ(index.find(c.key(absent), [](const Entry*) { return false; }), nullptr) << c.name;
    std::size_t visited = 0;
    index.forEach([&](const Entry*) { ++visited; });
    EXPECT_EQ(visited, entries.size()) << c.name;
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
