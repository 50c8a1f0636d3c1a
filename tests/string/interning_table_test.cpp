// The interning table's records of texts that nearly match.
#include "util/string/interning_table.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using vesk::detail::RecordIndex;
using vesk::table_string::Entry;
using vesk::table_string::Table;

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
    EXPECT_EQ(table.recordCount(), 2u) << row.name;  // two texts, each interned twice
  }
}

}  // namespace
