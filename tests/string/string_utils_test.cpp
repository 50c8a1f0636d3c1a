// Tests of lower, trim, tokenize and fill.
#include <vesk/string.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(Lower, MapsOnlyAsciiCapitalsAndKeepsTheLength) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"MiXeD 123", "mixed 123"},
      {"", ""},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"},
      {"@[`{", "@[`{"},
      {"\xC4\xD6\xFF\x80", "\xC4\xD6\xFF\x80"},
      {"A\0B"s, "a\0b"s},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vesk::lower(c.in), c.out) << c.in;
}

TEST(Trim, RemovesOnlySurroundingWhitespace) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"  a  b ", "a  b"},
      {" \t\n \r\v\f", ""},
      {"", ""},
      {"a\0 b"s, "a"},
      {" \0 a"s, ""},
      {"x", "x"},
      {"\xC4 \xC4", "\xC4 \xC4"},
      {"\t\tindented line\n", "indented line"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vesk::trim(c.in), c.out) << '"' << c.in << '"';
}

TEST(Tokenize, SplitsAtUnescapedDelimiters) {
  using Tokens = std::vector<std::string>;
  struct Case {
    char delimiter;
    std::string in;
    Tokens out;
  };
  const Case cases[] = {
      {',', "a,b", {"a", "b"}},
      {',', "a,,b", {"a", "", "b"}},
      {',', ",a,", {"", "a", ""}},
      {',', "", {""}},
      {',', ",", {"", ""}},
      {',', "a\\,b", {"a,b"}},
      {',', "a\\b", {"a\\b"}},
      {',', "a\\", {"a\\"}},
      {',', "a\\\\,b", {"a\\,b"}},
      {',', "\\,", {","}},
      {',', "a\\,,b", {"a,", "b"}},
      {'\\', "a\\b", {"a", "b"}},
      {'\\', "a\\\\b", {"a\\b"}},
      {'\\', "\\", {"", ""}},
      {' ', "one two  three", {"one", "two", "", "three"}},
      {'\0', "a\0b"s, {"a", "b"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vesk::tokenize(c.delimiter, c.in), c.out) << "'" << c.delimiter << "' " << c.in;
}

TEST(Fill, CopiesWithTerminatorAndReportsCuts) {
  struct Case {
    std::string in;
    unsigned int size;
    bool fits;
    std::string written;  // including the terminator
  };
  const Case cases[] = {
      {"xyz", 4, true, "xyz\0"s},  {"xyz", 3, false, "xy\0"s}, {"xyz", 1, false, "\0"s},
      {"", 1, true, "\0"s},        {"xyz", 10, true, "xyz\0"s}, {"a\0b"s, 4, true, "a\0b\0"s},
      {"a\0b"s, 3, false, "a\0\0"s},
  };
  for (const Case& c : cases) {
    char out[16];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(vesk::fill(c.in, out, c.size), c.fits) << c.in << " into " << c.size;
    EXPECT_EQ(std::string(out, c.written.size()), c.written) << c.in << " into " << c.size;
    EXPECT_EQ(out[c.written.size()], '#') << c.in << " into " << c.size;
  }
}

TEST(Fill, SizeZeroWritesNothing) {
  char out = '#';
  EXPECT_FALSE(vesk::fill("abc", &out, 0));
  EXPECT_FALSE(vesk::fill("", &out, 0));
  EXPECT_EQ(out, '#');
}

}  // namespace
