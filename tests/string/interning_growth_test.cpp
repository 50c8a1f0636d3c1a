// The interning table in a fresh process: its first report, the growth trigger (7 vs 8
// records in the bucket of a new text), the bucket sequence 2089, 3139, 5229, growth that
// reuses stored hashes, and none for a text whose record or grown buckets cannot be made.
// The host hash is steered: a text "#<n>#..." hashes to n.
#include <vesk/string.hpp>

#include "support/child_process.hpp"
#include "support/host_fake.hpp"
#include "support/system_memory.hpp"
#include "support/table_report.hpp"
#include "util/string/interning_table.hpp"

#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vesk::testing::table_report;

std::string expected_report(unsigned int buckets, unsigned int largest, unsigned int smallest,
                            unsigned int used, unsigned int rehashes) {
  return "Table Stats:\n"
         "  # of buckets                      : " + std::to_string(buckets) + "\n" +
         "  Largest Bucket                    : " + std::to_string(largest) + "\n" +
         "  Smallest Bucket                   : " + std::to_string(smallest) + "\n" +
         "  # Buckets with at least one entry : " + std::to_string(used) + "\n" +
         "  # of rehashes                     : " + std::to_string(rehashes) + "\n";
}

std::string steered(unsigned int hash, const std::string& tag) {
  return "#" + std::to_string(hash) + "#" + tag;
}

}  // namespace

namespace {

using vesk::TableString;
using vesk::testing::blocks_of;
using vesk::testing::hash_calls;

// A text "#<n>#..." hashes to n; every other text as the host hashes it.
unsigned int steered_hash(unsigned int previous, unsigned int count, const void* bytes) {
  const auto* text = static_cast<const char*>(bytes);
  if (count < 2 || text[0] != '#')
    return vesk::testing::host_hash_of(previous, count, bytes);
  unsigned int value = 0;
  for (unsigned int i = 1; i < count && text[i] != '#'; ++i)
    value = value * 10 + static_cast<unsigned int>(text[i] - '0');
  return value;
}

// Every test of this program sees the steered hash.
[[maybe_unused]] const bool gSteered = (vesk::testing::steer_host_hash(steered_hash), true);

// One ordered scenario: the table is process-wide, so each step starts where the last ended.
TEST(InterningTable, GrowsOnlyWhenTheBucketOfANewTextHoldsEight) {
  EXPECT_EQ(table_report(), expected_report(2089, 0, 0, 0, 0));

  // The first text costs one host block (the first of the blocks that records are cut from)
  // and one host hash; finding it again costs neither.
  vesk::testing::clear_host_calls();
  const TableString empty;
  EXPECT_EQ(blocks_of("calloc").size(), 1u);
  vesk::testing::clear_host_calls();
  EXPECT_EQ(TableString(""), empty);
  EXPECT_EQ(blocks_of("calloc").size(), 0u);
  EXPECT_EQ(hash_calls().size(), 0u);

  // Nine texts for bucket 5 of 2089; their hashes differ, so 3139 buckets separate them.
  std::vector<std::string> texts;
  // The ninth is longer than a record cut from a shared block may be: it needs a host block
  // of its own, and gets none below.
  for (unsigned int k = 0; k < 9; ++k)
    texts.push_back(steered(5 + k * 2089, k < 8 ? std::to_string(k) : std::string(5000, 'x')));
  std::vector<TableString> handles;
  for (unsigned int k = 0; k < 8; ++k)
    handles.emplace_back(texts[k]);
  EXPECT_EQ(table_report(), expected_report(2089, 8, 0, 2, 0)) << "7 in the bucket takes an 8th";

  vesk::testing::clear_host_calls();
  EXPECT_EQ(TableString(texts[3]), handles[3]);
  EXPECT_EQ(blocks_of("calloc").size(), 0u);
  EXPECT_EQ(table_report(), expected_report(2089, 8, 0, 2, 0)) << "a lookup never grows";

  // The text that would grow the table, with no memory for its record: nothing changes.
  vesk::testing::fail_every_host_allocation();
  EXPECT_THROW(TableString{texts[8]}, std::bad_alloc);
  vesk::testing::fail_no_host_allocation();
  EXPECT_EQ(table_report(), expected_report(2089, 8, 0, 2, 0)) << "a failed text grows nothing";

  // Texts that would grow it, with a record made and no memory for the grown buckets: each
  // record is given back, a short one zeroed again for whatever is cut there next.
  vesk::testing::system_allocation_fails = [](const char*) { return true; };
  EXPECT_THROW(TableString{steered(5 + 9 * 2089, std::string(40, 'z'))}, std::bad_alloc);
  EXPECT_THROW(TableString{texts[8]}, std::bad_alloc);
  vesk::testing::system_allocation_fails = nullptr;
  EXPECT_EQ(table_report(), expected_report(2089, 8, 0, 2, 0)) << "no grown buckets, no growth";

  vesk::testing::clear_host_calls();
  handles.emplace_back(texts[8]);
  EXPECT_EQ(hash_calls().size(), 1u) << "growth reuses the stored hashes";
  EXPECT_EQ(blocks_of("calloc").size(), 1u) << "growth copies no record";
  EXPECT_EQ(table_report(), expected_report(3139, 1, 0, 10, 1));
  for (unsigned int k = 0; k < 9; ++k) {
    EXPECT_STREQ(handles[k].text(), texts[k].c_str()) << k;
    EXPECT_EQ(TableString(texts[k]), handles[k]) << k;
  }
  EXPECT_EQ(TableString(), empty);

  // Eight texts for bucket 7 of 3139, then a ninth: the next term of the sequence. The first
  // is cut where the 40-byte text was given back, and still ends in its NUL.
  for (unsigned int k = 0; k < 8; ++k) {
    const std::string text = steered(7 + k * 3139, "b" + std::to_string(k));
    handles.emplace_back(text);
    EXPECT_STREQ(handles.back().text(), text.c_str());
  }
  EXPECT_EQ(table_report(), expected_report(3139, 8, 0, 11, 1));
  handles.emplace_back(steered(7 + 8 * 3139, "b8"));
  // Every record counted again, the one in a block of its own too.
  EXPECT_EQ(table_report(), expected_report(5229, 1, 0, 19, 2));
}

TEST(InterningTable, TextsDifferingOnlyAfterANulAreDifferentRecords) {
  // Same hash (9), same size, same bytes up to the NUL.
  const std::string first("#9#\0a", 5);
  const std::string second("#9#\0b", 5);
  const TableString a(first);
  const TableString b(second);
  EXPECT_NE(a, b);
  EXPECT_EQ(std::string(b.begin(), b.end()), second);
  EXPECT_EQ(TableString(first), a);
  EXPECT_EQ(TableString(second), b);
}

TEST(InterningTable, ReportUsesTheStreamsNumberFormat) {
  std::ostringstream out;
  out << std::hex;
  TableString::stats(out);
  EXPECT_NE(out.str().find("  # of buckets                      : 146d\n"), std::string::npos)
      << out.str();
}

// Same hash and size, one differing byte, at every place the comparison reads: short texts,
// the 8-to-16-byte texts compared as two overlapping words, and longer ones. Each pair has a
// hash of its own, so no bucket fills up and the table does not grow.
TEST(InterningTable, TextsOfOneHashAndSizeDifferingInOneByteAreDifferentRecords) {
  unsigned int hash = 100;
  for (std::size_t size = 6; size <= 24; ++size) {
    for (std::size_t place = 5; place < size; ++place, ++hash) {
      const std::string base = steered(hash, std::string(size - 5, 'x'));
      std::string other = base;
      other[place] = 'y';
      const TableString original(base);
      const TableString changed(other);
      EXPECT_NE(changed, original) << "size " << size << " place " << place;
      EXPECT_EQ(std::string(changed.begin(), changed.end()), other);
      EXPECT_EQ(TableString(other), changed);
      EXPECT_EQ(TableString(base), original);
    }
  }
}

// Texts until the block that records are cut from is full, with the host out of memory: the
// text that needs a new block is refused, and taken once memory is back.
TEST(InterningTable, ATextWhoseBlockCannotBeAllocatedIsRefused) {
  std::vector<TableString> handles;
  vesk::testing::fail_every_host_allocation();
  for (unsigned int i = 0;; ++i) {
    ASSERT_LT(i, 2000u) << "no new block was needed";
    const std::string text = "block/" + std::to_string(i);
    try {
      handles.emplace_back(text);
    } catch (const std::bad_alloc&) {
      vesk::testing::fail_no_host_allocation();
      for (unsigned int k = 0; k < i; ++k)
        ASSERT_EQ(TableString("block/" + std::to_string(k)), handles[k]) << k;
      EXPECT_EQ(TableString(text).text(), text);
      break;
    }
  }
  vesk::testing::fail_no_host_allocation();
}

// A text of more than 4 KiB, whose record gets a host block of its own, given back when the
// table cannot grow for it: no later walk of the records visits it, though its block was the
// table's only one of its kind.
TEST(InterningTable, ALongTextGivenBackIsNotWalked) {
  // Records outlive their table: it stays reachable, as the process-wide one does.
  static auto* const table = new vesk::table_string::Table;
  const auto intern = [](const std::string& text) {
    return table->intern(text.data(), static_cast<unsigned int>(text.size()));
  };
  std::vector<std::string> texts;
  for (unsigned int k = 0; k < 8; ++k) {
    texts.push_back(steered(11 + k * 2089, "w" + std::to_string(k)));
    intern(texts.back());
  }
  vesk::testing::system_allocation_fails = [](const char*) { return true; };
  EXPECT_THROW(intern(steered(11 + 8 * 2089, std::string(5000, 'x'))), std::bad_alloc);
  vesk::testing::system_allocation_fails = nullptr;
  std::vector<std::string> walked;
  table->forEachRecord([&](const vesk::table_string::Entry* record) {
    walked.emplace_back(record->text(), record->size());
  });
  EXPECT_EQ(walked, texts);
}

// A host allocator may itself intern, as a host naming what it allocates would: new texts
// whose records need new host blocks, shared ones and blocks of their own, are interned while
// each allocation interns a text too. In a child, which is ended if it waits for ever.
TEST(InterningTable, AHostAllocatorMayIntern) {
  const std::string report = vesk::testing::in_child(
      [] {
        static bool allocating = false;
        static unsigned int made = 0;
        vesk::testing::call_at_host_allocation([] {
          if (!allocating) {
            allocating = true;
            TableString("made by the host allocator " + std::to_string(made++));
            allocating = false;
          }
        });
        std::vector<std::string> texts;
        std::vector<TableString> handles;
        // More than the largest shared block (1 MiB) holds, and 10 texts of more than 4 KiB.
        for (unsigned int i = 0; i < 30000; ++i) {
          texts.push_back("host/" + std::to_string(i) + std::string(i % 3000 == 0 ? 5000 : 0, 'x'));
          handles.emplace_back(texts.back());
        }
        vesk::testing::call_at_host_allocation(nullptr);
        for (unsigned int i = 0; i < texts.size(); ++i)
          if (TableString(texts[i]) != handles[i] || handles[i].text() != texts[i])
            return "text " + std::to_string(i) + " lost";
        return made > 10 ? std::string() : std::to_string(made) + " allocations";
      },
      std::chrono::seconds(30));
  EXPECT_EQ(report, "");
}

}  // namespace
