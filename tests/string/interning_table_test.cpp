// The interning table's private machinery: remainders without division, the bucket counts and
// the index of the records.
#include "util/string/interning_table.hpp"

#include <gtest/gtest.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {
// Byte `i` of what the system gives when it gives random bytes.
unsigned char random_byte(std::size_t i) { return static_cast<unsigned char>(i * 37 + 11); }
bool gSystemGivesBytes = false;
int gRandomCalls = 0;
std::size_t gRandomGiven = 0;
}  // namespace

// Unless told otherwise, the system gives no random bytes (the first request is interrupted,
// the second refused): the index keys its texts with the stand-in secret, and every lookup
// below must still find its record. Told to, it gives known bytes, 50 at a time.
extern "C" ssize_t getrandom(void* buffer, std::size_t size, unsigned int) {
  if (gSystemGivesBytes) {
    const std::size_t given = size < 50 ? size : 50;
    for (std::size_t i = 0; i < given; ++i)
      static_cast<unsigned char*>(buffer)[i] = random_byte(gRandomGiven++);
    return static_cast<ssize_t>(given);
  }
  errno = gRandomCalls++ == 0 ? EINTR : ENOSYS;
  return -1;
}

namespace {

using vesk::detail::BucketCounts;
using vesk::detail::Modulus;
using vesk::detail::RecordIndex;
using vesk::table_string::Entry;
using vesk::table_string::Table;

// The system's random bytes, when it gives them, are the whole secret that texts are keyed
// with, not the stand-in. In a child, which draws the secret afresh: this test comes first,
// before anything in this process draws it.
TEST(RecordIndex, KeysWithTheSecretTheSystemGives) {
  EXPECT_EXIT(
      {
        gSystemGivesBytes = true;
        const std::string text = "identifier";
        const std::uint64_t key = RecordIndex::keyOf(text.data(), text.size());
        unsigned char secret[XXH3_SECRET_DEFAULT_SIZE];
        for (std::size_t i = 0; i < sizeof secret; ++i)
          secret[i] = random_byte(i);
        const bool drawn_here = gRandomGiven == sizeof secret;
        std::_Exit(!drawn_here ? 2 : key != XXH3_64bits_withSecret(text.data(), text.size(),
                                                                   secret, sizeof secret));
      },
      ::testing::ExitedWithCode(0), "");
}

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

// Pairs of texts that agree in their first bytes or differ only in size, chosen so that their
// keys share the first group and the control byte of a new table: only comparing the texts
// can part them.
TEST(Table, NearlyMatchingTextsOfOneControlByteAreDifferentRecords) {
  // `size` identifier characters from `n`.
  const auto word = [](unsigned int n, std::size_t size) {
    std::string out(size, 'a');
    for (char& c : out) {
      c = static_cast<char>('a' + n % 26);
      n /= 26;
    }
    return out;
  };
  struct Row {
    const char* name;
    std::string first;
    std::string second;
  };
  const auto rows = [&](unsigned int n) {
    return std::vector<Row>{
        {"a NUL more", word(n, 6) + std::string(1, '\0'), word(n, 6)},
        {"a byte more", word(n, 8) + "x", word(n, 8)},
        {"16 bytes, one first word", word(n, 8) + "ABCDEFGH", word(n, 8) + "abcdefgh"},
        {"17 bytes, the last differing", word(n, 16) + "x", word(n, 16) + "y"},
        {"17 bytes, the ninth differing", word(n, 8) + "x" + word(n, 8), word(n, 8) + "y" + word(n, 8)},
    };
  };
  const auto key = [](const std::string& s) { return RecordIndex::keyOf(s.data(), s.size()); };
  for (std::size_t r = 0; r < rows(0).size(); ++r) {
    unsigned int n = 0;
    // Low 8 bits alike: the first group of any index of up to 256 groups.
    while (((key(rows(n)[r].first) ^ key(rows(n)[r].second)) & 0xFE000000000000FFu) != 0)
      ++n;
    const Row row = rows(n)[r];
    // Records outlive their table: the table stays reachable, as the process-wide one does.
    static auto* const tables = new std::vector<Table*>;
    Table& table = *tables->emplace_back(new Table);
    const auto intern = [&](const std::string& s) {
      return table.intern(s.data(), static_cast<unsigned int>(s.size()));
    };
    const Entry* first = intern(row.first);
    const Entry* second = intern(row.second);
    EXPECT_NE(first, second) << row.name;
    EXPECT_EQ(std::string(second->text(), second->size()), row.second) << row.name;
    EXPECT_EQ(intern(row.first), first) << row.name;
    EXPECT_EQ(intern(row.second), second) << row.name;
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
