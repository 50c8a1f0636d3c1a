// TableString: identity of interned records, the empty forms, embedded NULs, order and output.
#include <vesk/host/host_util.h>
#include <vesk/string.hpp>

#include "support/repeated_bytes.hpp"
#include "support/table_report.hpp"
#include "testing/crc32_forge.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace {

using vesk::TableString;

// Exposes the protected record of a handle.
struct RecordOf : TableString {
  explicit RecordOf(const TableString& s) : TableString(s) {}
  using TableString::entry;
};

TEST(TableString, IsOnePlainPointer) {
  EXPECT_EQ(sizeof(TableString), sizeof(void*));
  EXPECT_TRUE(std::is_trivially_copyable_v<TableString>);
  EXPECT_TRUE(std::is_trivially_destructible_v<TableString>);
}

TEST(TableString, EveryEmptyFormSharesTheEmptyRecord) {
  const TableString forms[] = {TableString(),
                               TableString(""),
                               TableString(static_cast<const char*>(nullptr)),
                               TableString(std::string()),
                               TableString("abc", 0),
                               TableString(nullptr, 5),
                               TableString(std::string_view()),
                               TableString(std::string_view("abc", 0))};
  for (std::size_t i = 0; i < std::size(forms); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(forms[i], forms[0]);
    EXPECT_EQ(forms[i].text(), forms[0].text());
    EXPECT_EQ(forms[i].size(), 0u);
    EXPECT_EQ(forms[i].text()[0], '\0');
    EXPECT_EQ(forms[i].end(), forms[i].begin());
  }
}

TEST(TableString, SameBytesShareOneRecordWhateverTheConstructor) {
  const TableString abc("abc");
  const TableString forms[] = {TableString(std::string("abc")), TableString("abcdef", 3),
                               TableString(std::string("abcdef").substr(0, 3)),
                               TableString(std::string_view("abcdef", 3))};
  for (const TableString& form : forms) {
    EXPECT_EQ(form, abc);
    EXPECT_FALSE(form != abc);
    EXPECT_EQ(form.text(), abc.text());
  }
  EXPECT_NE(TableString("abd"), abc);
  EXPECT_NE(TableString("ab"), abc);
  EXPECT_EQ(abc.size(), 3u);
  EXPECT_STREQ(abc.text(), "abc");
}

TEST(TableString, EmbeddedNulBytesArePartOfTheText) {
  const TableString anb("a\0b", 3);
  const TableString a("a");
  EXPECT_EQ(anb.size(), 3u);
  EXPECT_EQ(anb.end() - anb.begin(), 3);
  EXPECT_EQ(std::memcmp(anb.text(), "a\0b\0", 4), 0);
  EXPECT_EQ(static_cast<std::string>(anb), "a");
  std::ostringstream out;
  out << anb;
  EXPECT_EQ(out.str(), "a");

  EXPECT_NE(anb, a);
  EXPECT_FALSE(anb < a);
  EXPECT_FALSE(a < anb);
  EXPECT_EQ(TableString(std::string("a\0b", 3)), anb);
  EXPECT_NE(TableString("a\0c", 3), anb);
  EXPECT_NE(TableString("a\0", 2), a);
}

TEST(TableString, OrderIsUnsignedByteOrderOfTheTexts) {
  struct Row {
    const char* a;
    const char* b;
    bool less;
  };
  const Row rows[] = {
      {"abc", "abd", true},   {"abd", "abc", false}, {"", "a", true},     {"a", "", false},
      {"ab", "abc", true},    {"abc", "ab", false},  {"B", "a", true},    {"a", "B", false},
      {"z", "\x80", true},    {"\xff", "z", false},  {"abc", "abc", false}, {"", "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.a) + " < " + row.b);
    EXPECT_EQ(TableString(row.a) < TableString(row.b), row.less);
  }
}

TEST(TableString, SwapExchangesTheRecords) {
  TableString a("left");
  TableString b("right");
  const char* left = a.text();
  swap(a, b);
  EXPECT_STREQ(a.text(), "right");
  EXPECT_EQ(b.text(), left);
  EXPECT_STREQ(TableString("left").text(), "left");
}

TEST(TableString, OutputAppliesWidthAndFill) {
  std::ostringstream out;
  out << std::setw(6) << std::setfill('*') << TableString("ab") << '|' << TableString();
  EXPECT_EQ(out.str(), "****ab|");
}

TEST(TableString, RecordHoldsTheTextItsSizeAndTheHostHash) {
  const RecordOf record(TableString("a\0bc", 4));
  EXPECT_EQ(record.entry().size(), 4u);
  EXPECT_EQ(record.entry().text(), record.text());
  EXPECT_EQ(record.entry().hash(), host_hash_n_bytes(0, 4, "a\0bc"));
}

TEST(TableString, RefusesASizeWithNoRoomForTheTerminator) {
  const char bytes[] = "short";
  EXPECT_THROW(TableString(bytes, 4294967295u), std::length_error);
  // A view is measured at full width: 2^32 bytes do not wrap to the empty text.
  for (const std::size_t size : {std::size_t{4294967295u}, std::size_t{1} << 32})
    EXPECT_THROW(TableString(std::string_view(bytes, size)), std::length_error) << size;
}

TEST(TableString, CountsDistinctTextsAndHashesByRecord) {
  const std::string text = "a text no other test interns: " + std::to_string(TableString::count());
  const std::size_t before = TableString::count();
  const TableString first(text);
  const TableString again{std::string_view(text)};
  EXPECT_EQ(TableString::count(), before + 1);
  const std::hash<TableString> hash;
  EXPECT_EQ(hash(first), hash(again));
  EXPECT_NE(hash(first), hash(TableString(text + "!")));
  std::unordered_map<TableString, int> seen;
  for (const TableString& s : {first, again, TableString(text.c_str())})
    ++seen[s];
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[first], 3);
}

// A C string of 2^32 bytes, not the empty text of its low 32 bits. Reading 4 GiB takes a
// minute under valgrind: the test table_string_test_long.
TEST(TableString, DISABLED_RefusesACStringOf4GiB) {
  const std::string block(std::size_t{1} << 20, 'x');
  const unsigned char* huge = vesk::testing::repeated_bytes(block, 4096);
  if (huge == nullptr)
    GTEST_SKIP() << "cannot map 4 GiB";
  EXPECT_THROW(TableString{reinterpret_cast<const char*>(huge)}, std::length_error);
  vesk::testing::release_repeated(huge, block.size(), 4096);
}

TEST(TableStringEntry, CopyOwnsANulTerminatedBuffer) {
  const char bytes[] = {'x', '\0', 'y', 'z'};
  const vesk::table_string::Entry key(bytes, 3);
  const vesk::table_string::Entry copy(key);
  EXPECT_EQ(key.text(), bytes);
  EXPECT_NE(copy.text(), bytes);
  EXPECT_EQ(std::memcmp(copy.text(), "x\0y\0", 4), 0);
  EXPECT_EQ(copy.size(), 3u);
  EXPECT_EQ(copy.hash(), key.hash());
  EXPECT_TRUE(copy == key);
  EXPECT_FALSE(copy == vesk::table_string::Entry("x\0z", 3));
  // The same hash and the same first bytes, one text longer: different texts.
  const vesk::table_string::Entry abc("abc", 3);
  const std::string longer = vesk::testing::with_crc32("abc", abc.hash());
  const vesk::table_string::Entry longer_key(longer.data(), 7);
  ASSERT_EQ(longer_key.hash(), abc.hash());
  EXPECT_FALSE(abc == longer_key);
  EXPECT_TRUE(vesk::table_string::Entry("B", 1) < vesk::table_string::Entry("a", 1));
}

// Interns enough texts to grow the table past 65536 buckets; every earlier handle and text
// pointer must stay as it was.
TEST(TableString, TextPointersSurviveGrowth) {
  std::vector<TableString> handles;
  std::vector<const char*> texts;
  for (int i = 0; i < 120000; ++i) {
    handles.emplace_back("grow-" + std::to_string(i));
    texts.push_back(handles.back().text());
  }
  for (int i = 0; i < 120000; i += 997) {
    const std::string expected = "grow-" + std::to_string(i);
    EXPECT_STREQ(texts[static_cast<std::size_t>(i)], expected.c_str());
    EXPECT_EQ(TableString(expected).text(), texts[static_cast<std::size_t>(i)]);
  }
  EXPECT_GT(vesk::testing::table_figures()[0], 65536u) << vesk::testing::table_report();
}

}  // namespace
