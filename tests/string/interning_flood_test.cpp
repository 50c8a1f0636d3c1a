// The interning table in a fresh process, fed texts that share one hash as an input can make
// them: the bucket count stays bounded by the records, every text keeps a record of its own,
// and memory running out while the index grows leaves the table as it was.
#include <vesk/host/host_util.h>
#include <vesk/string.hpp>

#include "support/system_memory.hpp"
#include "support/table_report.hpp"
#include "testing/crc32_forge.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

// Texts of one size, each of CRC-32 `crc`.
std::string flood_text(unsigned int i, unsigned int crc) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "flood/%06u/", i);
  return vesk::testing::with_crc32(prefix, crc);
}

}  // namespace

namespace {

using vesk::TableString;
using vesk::testing::table_figures;

// The system has no pages to map while this is set.
void fail_mappings(bool fail) {
  if (fail)
    vesk::testing::system_allocation_fails = [](const char* call) {
      return std::strcmp(call, "mmap") == 0;
    };
  else
    vesk::testing::system_allocation_fails = nullptr;
}

// One ordered scenario: the table is process-wide, so each step starts where the last ended.
TEST(InterningFlood, TextsOfOneHashGetARecordEachWithinTheBucketBound) {
  constexpr unsigned int kCrc = 0x5EED1234u;
  constexpr unsigned int kFlood = 10000;
  std::vector<std::string> texts;
  std::vector<TableString> handles;
  for (unsigned int i = 0; i < kFlood; ++i) {
    texts.push_back(flood_text(i, kCrc));
    ASSERT_EQ(host_hash_n_bytes(0, static_cast<unsigned int>(texts[i].size()), texts[i].data()),
              kCrc)
        << i;
    handles.emplace_back(texts[i]);
  }
  std::set<const char*> records;
  for (unsigned int i = 0; i < kFlood; ++i) {
    records.insert(handles[i].text());
    ASSERT_EQ(TableString(texts[i]), handles[i]) << i;
    ASSERT_EQ(std::string(handles[i].begin(), handles[i].end()), texts[i]) << i;
  }
  EXPECT_EQ(records.size(), kFlood);
  // Growth follows the written rule up to 93109 buckets, then waits for a record per 4.
  EXPECT_EQ(table_figures(), (std::vector<unsigned long>{93109, kFlood, 0, 1, 8}));

  // At 93109 buckets a growth needs 23278 records: with one fewer a full bucket takes its
  // text without growing, with that many it grows.
  std::vector<TableString> plain;
  for (unsigned int i = 0; kFlood + plain.size() < 23277; ++i)
    plain.emplace_back("plain/" + std::to_string(i));
  handles.emplace_back(flood_text(kFlood, kCrc));
  EXPECT_EQ(table_figures()[0], 93109u);
  handles.emplace_back(flood_text(kFlood + 1, kCrc));
  const std::vector<unsigned long> grown = table_figures();
  EXPECT_EQ(grown[0], 150649u);
  EXPECT_EQ(grown[4], 9u);
  EXPECT_LE(grown[0], 6.5 * 23279);
  // More texts of the one hash, to 61,000 records: growths at 37663 and 60940 records, and
  // the index doubling on the way.
  const auto flooded = static_cast<unsigned int>(61000 - plain.size());
  for (unsigned int i = kFlood + 2; i < flooded; ++i)
    handles.emplace_back(flood_text(i, kCrc));
  EXPECT_EQ(table_figures()[0], 394409u);
  for (unsigned int i = 0; i < flooded; i += 97)
    EXPECT_EQ(TableString(flood_text(i, kCrc)), handles[i]) << i;
}

// Texts on top of the flood until one needs a larger index (or bucket count) and the system
// has no pages for it: that text is refused, the table keeps its shape and every text, and
// takes the text once memory is back.
TEST(InterningFlood, AnIndexThatCannotGrowLeavesTheTableUnchanged) {
  const std::vector<unsigned long> start = table_figures();
  std::vector<TableString> handles;
  for (unsigned int i = 0;; ++i) {
    ASSERT_LT(i, 200000u) << "no growth needed pages of their own";
    const std::string text = "more/" + std::to_string(i);
    fail_mappings(true);
    try {
      handles.emplace_back(text);
    } catch (const std::bad_alloc&) {
      fail_mappings(false);
      const std::vector<unsigned long> after = table_figures();
      EXPECT_EQ(after[0], start[0]);
      EXPECT_EQ(after[4], start[4]);
      for (unsigned int k = 0; k < i; k += 7)
        ASSERT_EQ(TableString("more/" + std::to_string(k)), handles[k]) << k;
      handles.emplace_back(text);
      EXPECT_EQ(TableString(text), handles.back());
      EXPECT_EQ(handles.back().text(), std::string(text));
      break;
    }
    fail_mappings(false);
  }
}

// The 255th text of one bucket, whose size then moves aside, when the standard allocator has no
// room for it: refused, and the table as it was; taken once memory is back.
TEST(InterningFlood, TheTextThatMovesABucketsSizeAsideLeavesTheTableUnchangedWhenRefused) {
#ifdef VESK_TEST_OPERATOR_NEW_REPLACED
  GTEST_SKIP() << "the emulator's operator new stands in for the program's, which fails";
#endif
  constexpr unsigned int kCrc = 0x0DDBA11u;
  std::vector<TableString> handles;
  for (unsigned int i = 0; i < 254; ++i)
    handles.emplace_back(flood_text(i, kCrc));
  const std::vector<unsigned long> start = table_figures();
  const std::size_t records = TableString::count();
  const std::string text = flood_text(254, kCrc);
  vesk::testing::standard_allocation_fails = true;
  EXPECT_THROW(TableString{text}, std::bad_alloc);
  vesk::testing::standard_allocation_fails = false;
  EXPECT_EQ(table_figures(), start);
  EXPECT_EQ(TableString::count(), records);
  handles.emplace_back(text);
  EXPECT_EQ(TableString(text), handles.back());
  EXPECT_EQ(TableString::count(), records + 1);
  EXPECT_EQ(table_figures()[1], std::max<unsigned long>(start[1], 255));
}

}  // namespace
