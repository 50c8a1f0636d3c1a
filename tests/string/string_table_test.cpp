// StringTable: owned copies whose character pointers stay valid, deep copies and moves.
#include <vesk/string.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using vesk::StringTable;

TEST(StringTable, EveryAdditionIsANewCopy) {
  StringTable table;
  const char* e1 = table.addString("");
  const char* e2 = table.addString("");
  EXPECT_EQ(e1[0], '\0');
  EXPECT_NE(e1, e2);
  const char* a1 = table.addString("same");
  const char* a2 = table.addString("same");
  EXPECT_NE(a1, a2);
  EXPECT_STREQ(a1, a2);
}

TEST(StringTable, EarlierPointersSurviveLaterAdditions) {
  StringTable table;
  const std::string text = "first text, longer than any short-string buffer";
  const char* first = table.addString(text);
  for (int i = 0; i < 5000; ++i)
    table.addString(std::to_string(i));
  EXPECT_EQ(first, text);
}

TEST(StringTable, StoresEmbeddedNulsWhole) {
  StringTable table;
  const char* p = table.addString(std::string("a\0b", 3));
  EXPECT_STREQ(p, "a");
  EXPECT_EQ(std::memcmp(p, "a\0b\0", 4), 0);
}

// Under the address sanitizer a shallow copy shows up as a use after free or double free.
TEST(StringTable, CopiesAreDeepAndIndependent) {
  StringTable source;
  const char* kept = source.addString("kept by the source, beyond the short-string size");
  {
    StringTable assigned;
    assigned.addString("replaced");
    assigned = source;
    StringTable constructed(source);
    EXPECT_STREQ(assigned.addString("x"), "x");
    EXPECT_STREQ(constructed.addString("y"), "y");
  }
  StringTable& same = source;  // through a reference, as self-assignment usually comes about
  source = same;
  EXPECT_STREQ(kept, "kept by the source, beyond the short-string size");
}

// A vector of stores that reallocates moves them; a copy would free the texts handed out.
TEST(StringTable, MovesKeepEveryPointerHandedOut) {
  static_assert(std::is_nothrow_move_constructible_v<StringTable>);
  const std::string text = "handed out before the moves, beyond the short-string size";
  std::vector<StringTable> tables(1);
  const char* kept = tables[0].addString(text);
  for (int i = 0; i < 100; ++i)
    tables.emplace_back();
  StringTable taken(std::move(tables[0]));
  StringTable assigned;
  assigned.addString("released by the assignment");
  assigned = std::move(taken);
  StringTable& same = assigned;
  assigned = std::move(same);
  EXPECT_EQ(kept, text);
  EXPECT_STREQ(tables[0].addString("usable after a move"), "usable after a move");
  StringTable copy(taken);
  EXPECT_STREQ(copy.addString("z"), "z");
}

}  // namespace
