// The interning table in a fresh process, fed texts that share one hash as an input can make
// them: the bucket count stays bounded by the records, every text keeps a record of its own,
// and memory running out while a long bucket's index is made leaves the table as it was.
#include <vesk/host/host_util.h>
#include <vesk/string.hpp>

#include "support/crc32_forge.hpp"
#include "support/host_hook.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool gFailNextAllocation = false;

// The report's five figures: buckets, largest, smallest, used, rehashes.
std::vector<unsigned long> figures() {
  std::ostringstream out;
  vesk::TableString::stats(out);
  std::istringstream lines(out.str());
  std::vector<unsigned long> values;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("  ", 0) == 0)
      values.push_back(std::stoul(line.substr(line.find(':') + 1)));
  return values;
}

// Texts of one size, each of CRC-32 `crc`.
std::string flood_text(unsigned int i, unsigned int crc) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "flood/%06u/", i);
  return vesk::testing::with_crc32(prefix, crc);
}

}  // namespace

extern "C" void* host_calloc_checked(unsigned int a, unsigned int b) {
  if (gFailNextAllocation) {
    gFailNextAllocation = false;
    return nullptr;
  }
  static auto* const real =
      vesk::testing::next_definition<void*(unsigned int, unsigned int)>("host_calloc_checked");
  return real(a, b);
}

namespace {

using vesk::TableString;

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
  EXPECT_EQ(figures(), (std::vector<unsigned long>{93109, kFlood, 0, 1, 8}));

  // At 93109 buckets a growth needs 23278 records: with one fewer a full bucket takes its
  // text without growing, with that many it grows.
  std::vector<TableString> plain;
  for (unsigned int i = 0; kFlood + plain.size() < 23277; ++i)
    plain.emplace_back("plain/" + std::to_string(i));
  handles.emplace_back(flood_text(kFlood, kCrc));
  EXPECT_EQ(figures()[0], 93109u);
  handles.emplace_back(flood_text(kFlood + 1, kCrc));
  const std::vector<unsigned long> grown = figures();
  EXPECT_EQ(grown[0], 150649u);
  EXPECT_EQ(grown[4], 9u);
  EXPECT_LE(grown[0], 6.5 * 23279);
  // More texts of the one hash, to 61,000 records: the bucket's words move on through blocks
  // mapped on their own, and growths at 37663 and 60940 records take the bucket array past
  // 2 MiB, to pages aligned for huge pages.
  const auto flooded = static_cast<unsigned int>(61000 - plain.size());
  for (unsigned int i = kFlood + 2; i < flooded; ++i)
    handles.emplace_back(flood_text(i, kCrc));
  EXPECT_EQ(figures()[0], 394409u);
  for (unsigned int i = 0; i < flooded; i += 97)
    EXPECT_EQ(TableString(flood_text(i, kCrc)), handles[i]) << i;
}

// A second bucket of one hash: its index is made at the 17th record and enlarged at the 49th;
// when the host has no memory for it, the text is refused and the table stays as it was.
TEST(InterningFlood, AnIndexThatCannotBeAllocatedLeavesTheTableUnchanged) {
  constexpr unsigned int kCrc = 0x0BADF00Du;
  std::vector<TableString> handles;
  for (unsigned int i = 0; i < 49; ++i) {
    if (i == 16 || i == 48) {
      const std::vector<unsigned long> before = figures();
      gFailNextAllocation = true;
      EXPECT_THROW(TableString(flood_text(i, kCrc)), std::bad_alloc) << i;
      EXPECT_EQ(figures(), before) << i;
      for (unsigned int k = 0; k < i; ++k)
        ASSERT_EQ(TableString(flood_text(k, kCrc)), handles[k]) << i << " " << k;
    }
    handles.emplace_back(flood_text(i, kCrc));
  }
  for (unsigned int k = 0; k < handles.size(); ++k)
    EXPECT_EQ(TableString(flood_text(k, kCrc)), handles[k]) << k;
}

}  // namespace
