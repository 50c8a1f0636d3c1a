// LineColumn, Location and Range: packing, order and their compact stream forms.
#include <vesk/string.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

namespace {

using vesk::LineColumn;
using vesk::Location;
using vesk::Range;
using vesk::TableString;

template <class T>
std::string printed(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

Location at(const char* file, unsigned int line, unsigned int column) {
  return Location(TableString(file), LineColumn(line, column));
}

TEST(LineColumn, KeepsTheLow20And12Bits) {
  struct Row {
    unsigned int line, column, readLine, readColumn;
  };
  const Row rows[] = {{0, 0, 0, 0},
                      {1048575, 4095, 1048575, 4095},
                      {1048576, 4096, 0, 0},
                      {1048577, 4097, 1, 1},
                      {0xFFFFFFFF, 0xFFFFFFFF, 1048575, 4095}};
  const std::hash<LineColumn> hash;
  for (const Row& row : rows) {
    const LineColumn p(row.line, row.column);
    EXPECT_EQ(p.line(), row.readLine) << row.line;
    EXPECT_EQ(p.column(), row.readColumn) << row.column;
    EXPECT_EQ(hash(p), hash(LineColumn(row.readLine, row.readColumn))) << row.line;
  }
  // Line and column are not interchangeable.
  EXPECT_NE(hash(LineColumn(1, 2)), hash(LineColumn(2, 1)));
  EXPECT_NE(hash(LineColumn(0, 1)), hash(LineColumn(1, 0)));
}

TEST(LineColumn, IsOneWordWithTheLineInTheLowBits) {
  static_assert(sizeof(LineColumn) == 4);
  static_assert(sizeof(Location) <= 2 * sizeof(void*));
  const LineColumn p(0x12345, 0xABC);
  std::uint32_t word = 0;
  std::memcpy(&word, &p, sizeof word);
  EXPECT_EQ(word, 0xABC12345u);
}

TEST(SourcePositions, Order) {
  struct Row {
    Location a, b;
    bool less;
  };
  const Row rows[] = {
      {at("a.txt", 100, 0), at("b.txt", 1, 0), true},
      {at("b.txt", 1, 0), at("a.txt", 100, 0), false},
      {at("a.txt", 1, 9), at("a.txt", 2, 0), true},
      {at("a.txt", 2, 3), at("a.txt", 2, 4), true},
      {at("a.txt", 2, 4), at("a.txt", 2, 3), false},
      {at("a.txt", 2, 4), at("a.txt", 2, 4), false},
      {Location(), at("a", 0, 0), true},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(rows[i].a < rows[i].b, rows[i].less) << i;
    EXPECT_EQ(rows[i].a.lineColumn() < rows[i].b.lineColumn(),
              rows[i].a.lineColumn().line() < rows[i].b.lineColumn().line() ||
                  (rows[i].a.lineColumn().line() == rows[i].b.lineColumn().line() &&
                   rows[i].a.lineColumn().column() < rows[i].b.lineColumn().column()))
        << i;
  }
}

TEST(SourcePositions, Equality) {
  EXPECT_EQ(at("a.txt", 3, 4), at("a.txt", 3, 4));
  EXPECT_NE(at("a.txt", 3, 4), at("a.txt", 3, 5));
  EXPECT_NE(at("a.txt", 3, 4), at("b.txt", 3, 4));
  EXPECT_EQ(Location(), at("", 0, 0));
  EXPECT_EQ(LineColumn(2, 3), LineColumn(2, 3));
  EXPECT_NE(LineColumn(2, 3), LineColumn(3, 2));
}

TEST(SourcePositions, StreamForms) {
  struct Row {
    std::string actual, expected;
  };
  const Row rows[] = {
      {printed(LineColumn()), "{0,0}"},
      {printed(LineColumn(12, 5)), "{12,5}"},
      {printed(at("a.txt", 3, 4)), "a.txt:3:4"},
      {printed(Location()), ":0:0"},
      {printed(Range()), ":0:0-0"},
      {printed(Range(at("a.txt", 3, 4), at("a.txt", 3, 9))), "a.txt:3:4-9"},
      {printed(Range(at("a.txt", 3, 4), at("a.txt", 5, 1))), "a.txt:3:4-5:1"},
      {printed(Range(at("a.txt", 3, 4), at("b.txt", 5, 1))), "a.txt:3:4-b.txt:5:1"},
      {printed(Range(at("a.txt", 3, 9), at("a.txt", 3, 4))), "a.txt:3:9-4"},
      {printed(Range(at("a.txt", 5, 1), at("a.txt", 3, 1))), "a.txt:5:1-3:1"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.actual, row.expected);
}

TEST(SourcePositions, NumbersFollowTheStreamsFormat) {
  std::ostringstream out;
  out << std::hex << LineColumn(255, 16) << ' ' << at("f", 26, 10);
  EXPECT_EQ(out.str(), "{ff,10} f:1a:a");
}

TEST(SourcePositions, Swap) {
  LineColumn p(1, 2), q(3, 4);
  swap(p, q);
  EXPECT_EQ(p, LineColumn(3, 4));
  EXPECT_EQ(q, LineColumn(1, 2));
  Location a = at("a.txt", 1, 2), b = at("b.txt", 3, 4);
  swap(a, b);
  EXPECT_EQ(a, at("b.txt", 3, 4));
  EXPECT_EQ(b, at("a.txt", 1, 2));
}

}  // namespace
