// The interning table in a fresh process, fed texts that share one hash as an input can make
// them: the bucket count stays bounded by the records, every text keeps a record of its own,
// and memory running out while the index grows leaves the table as it was.
#include <vesk/host/host_util.h>
#include <vesk/string.hpp>

#include "support/crc32_forge.hpp"
#include "support/host_hook.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool gFailMappings = false;

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

// ThreadSanitizer's runtime maps memory through mmap before a definition here could reach
// the next one; under it the failing mapping is not simulated and its test is skipped.
#if defined(__SANITIZE_THREAD__)
#define VESK_FAILS_MAPPINGS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESK_FAILS_MAPPINGS 0
#endif
#endif
#ifndef VESK_FAILS_MAPPINGS
#define VESK_FAILS_MAPPINGS 1

extern "C" void* mmap(void* address, std::size_t length, int protection, int flags, int fd,
                      off_t offset) {
  if (gFailMappings) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  static auto* const real =
      vesk::testing::next_definition<void*(void*, std::size_t, int, int, int, off_t)>("mmap");
  return real(address, length, protection, flags, fd, offset);
}
#endif

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
  // More texts of the one hash, to 61,000 records: growths at 37663 and 60940 records, and
  // the index doubling on the way.
  const auto flooded = static_cast<unsigned int>(61000 - plain.size());
  for (unsigned int i = kFlood + 2; i < flooded; ++i)
    handles.emplace_back(flood_text(i, kCrc));
  EXPECT_EQ(figures()[0], 394409u);
  for (unsigned int i = 0; i < flooded; i += 97)
    EXPECT_EQ(TableString(flood_text(i, kCrc)), handles[i]) << i;
}

// Texts on top of the flood until one needs a larger index (or bucket count) and the system
// has no pages for it: that text is refused, the table keeps its shape and every text, and
// takes the text once memory is back.
TEST(InterningFlood, AnIndexThatCannotGrowLeavesTheTableUnchanged) {
  if (!VESK_FAILS_MAPPINGS)
    GTEST_SKIP() << "mappings cannot be made to fail under ThreadSanitizer";
  const std::vector<unsigned long> start = figures();
  std::vector<TableString> handles;
  for (unsigned int i = 0;; ++i) {
    ASSERT_LT(i, 200000u) << "no growth needed pages of their own";
    const std::string text = "more/" + std::to_string(i);
    gFailMappings = true;
    try {
      handles.emplace_back(text);
    } catch (const std::bad_alloc&) {
      gFailMappings = false;
      const std::vector<unsigned long> after = figures();
      EXPECT_EQ(after[0], start[0]);
      EXPECT_EQ(after[4], start[4]);
      for (unsigned int k = 0; k < i; k += 7)
        ASSERT_EQ(TableString("more/" + std::to_string(k)), handles[k]) << k;
      handles.emplace_back(text);
      EXPECT_EQ(TableString(text), handles.back());
      EXPECT_EQ(handles.back().text(), std::string(text));
      break;
    }
    gFailMappings = false;
  }
}

}  // namespace
