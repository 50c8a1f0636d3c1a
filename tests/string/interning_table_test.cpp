// The interning table's records: of texts that nearly match, and where they lie.
#include "util/string/interning_table.hpp"
#include "util/string/text_compare.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using vesk::detail::RecordIndex;
using vesk::table_string::Entry;
using vesk::table_string::Table;

// Each compare against a copy that differs in one byte, at every byte of every size it takes: a
// load left out, or a word compared with itself, leaves some byte that does not decide.
TEST(TextCompare, EveryByteOfEverySizeDecides) {
  struct Row {
    const char* name;
    unsigned int first;
    unsigned int last;
    bool (*same)(const char*, const char*, unsigned int);
  };
  const Row rows[] = {{"8 to 16", 8, 16, vesk::detail::same_8to16},
                      {"17 to 48", 17, 48, vesk::detail::same_17to48},
                      {"any size", 0, 64, vesk::detail::same_bytes}};
  for (const Row& row : rows) {
    for (unsigned int n = row.first; n <= row.last; ++n) {
      std::string a(n, '\0');
      for (unsigned int i = 0; i < n; ++i)
        a[i] = static_cast<char>('!' + i);
      const std::string copy = a;
      ASSERT_TRUE(row.same(a.data(), copy.data(), n)) << row.name << ", " << n << " bytes";
      for (unsigned int i = 0; i < n; ++i) {
        std::string b = a;
        b[i] = static_cast<char>(b[i] ^ 0x40);
        EXPECT_FALSE(row.same(a.data(), b.data(), n))
            << row.name << ", " << n << " bytes, differing at " << i;
      }
    }
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
        {"17 bytes, the ninth differing", word(n, 8) + "x" + word(n, 8),
         word(n, 8) + "y" + word(n, 8)},
        {"32 bytes, the 12th differing", word(n, 11) + "x" + word(n, 20),
         word(n, 11) + "y" + word(n, 20)},
        {"33 bytes, the 17th differing", word(n, 16) + "x" + word(n, 16),
         word(n, 16) + "y" + word(n, 16)},
        {"40 bytes, the 21st differing", word(n, 20) + "x" + word(n, 19),
         word(n, 20) + "y" + word(n, 19)},
        {"48 bytes, the 32nd differing", word(n, 31) + "x" + word(n, 16),
         word(n, 31) + "y" + word(n, 16)},
        {"49 bytes, the 33rd differing", word(n, 32) + "x" + word(n, 16),
         word(n, 32) + "y" + word(n, 16)},
    };
  };
  const auto key = [](const std::string& s) { return RecordIndex::keyOf(s.data(), s.size()); };
  // For each row the first n whose pair of keys have their low 8 bits alike (the first group of
  // any index of up to 256 groups) and their control byte: one search for all rows.
  std::vector<Row> found(rows(0).size());
  std::vector<bool> have(found.size(), false);
  for (unsigned int n = 0, left = static_cast<unsigned int>(found.size()); left > 0; ++n) {
    const std::vector<Row> candidates = rows(n);
    for (std::size_t r = 0; r < candidates.size(); ++r) {
      const Row& row = candidates[r];
      if (!have[r] && ((key(row.first) ^ key(row.second)) & 0xFE000000000000FFu) == 0) {
        found[r] = row;
        have[r] = true;
        --left;
      }
    }
  }
  for (const Row& row : found) {
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
    EXPECT_EQ(table.recordCount(), 2u) << row.name;  // two texts, each interned twice
  }
}

// A large table's records lie on memory offered huge pages, where the system offers them at
// all: most records of the blocks of 4 MiB lie in mappings that may take them.
TEST(Table, RecordsOfALargeTableLieWhereHugePagesMayGo) {
#ifdef VESK_TEST_UNDER_EMULATOR
  GTEST_SKIP() << "the emulator's allocator lays out the host's blocks its own way";
#endif
  std::string modes;
  std::getline(std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"), modes);
  if (modes.empty() || modes.find("[never]") != std::string::npos)
    GTEST_SKIP() << "the system offers no huge pages";
  static auto* const table = new Table;  // the records outlive their table
  std::vector<std::uintptr_t> records;  // every 1000th of the later texts (of 4 MiB blocks)
  for (unsigned int i = 0; i < 400000; ++i) {
    const std::string text = "huge/" + std::to_string(i) + std::string(16, 'x');
    const Entry* record = table->intern(text.data(), static_cast<unsigned int>(text.size()));
    if (i >= 200000 && i % 1000 == 0)
      records.push_back(reinterpret_cast<std::uintptr_t>(record));
  }
  // Each mapping's first line is its range; a later one says whether it may take huge pages.
  std::ifstream smaps("/proc/self/smaps");
  unsigned long from = 0, to = 0, first = 0, last = 0;
  std::size_t eligible = 0;
  for (std::string line; std::getline(smaps, line);) {
    if (std::sscanf(line.c_str(), "%lx-%lx", &first, &last) == 2) {
      from = first;
      to = last;
    } else if (line.rfind("THPeligible:", 0) == 0 && line.find('1') != std::string::npos) {
      for (const std::uintptr_t at : records)
        eligible += at >= from && at < to ? 1 : 0;
    }
  }
  EXPECT_GE(eligible, records.size() / 3) << "of " << records.size() << " records";
}

}  // namespace
