// Tests of leaf, basename, extension and dirname.
#include <vesk/file.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct PathRow {
  std::string path;
  std::string leaf;
  std::string basename;
  std::string extension;
  std::string dirname;
};

void expect_row(const PathRow& row) {
  SCOPED_TRACE("path \"" + row.path + "\"");
  EXPECT_EQ(vesk::leaf(row.path), row.leaf);
  EXPECT_EQ(vesk::basename(row.path), row.basename);
  EXPECT_EQ(vesk::extension(row.path), row.extension);
  EXPECT_EQ(vesk::dirname(row.path), row.dirname);
}

TEST(PathNames, SplitsByTheGrammar) {
  const PathRow rows[] = {
      {"", "", "", "", ""},
      {"a.txt", "a.txt", "a", ".txt", ""},
      {"dir/a.txt", "a.txt", "a", ".txt", "dir"},
      {"dir\\sub\\a.tar.gz", "a.tar.gz", "a.tar", ".gz", "dir/sub"},
      {"/a", "a", "a", "", "/"},
      {"/", "/", "/", "", ""},
      {"//", "//", "//", "", ""},
      {"///", "/", "/", "", ""},
      {"////", "/", "/", "", ""},
      {"a/", ".", "", ".", "a"},
      {"a//", ".", "", ".", "a"},
      {"/a/b/", ".", "", ".", "/a/b"},
      {"/a//b", "b", "b", "", "/a"},
      {"///a", "a", "a", "", "/"},
      {"d:", "d:", "d:", "", ""},
      {"d:/", "/", "/", "", "d:"},
      {"d:/a", "a", "a", "", "d:/"},
      {"d://a", "a", "a", "", "d:/"},
      {"d:a", "a", "a", "", "d:"},
      {"d:a/", ".", "", ".", "d:a"},
      {"d:\\a\\b.h", "b.h", "b", ".h", "d:/a"},
      {"a:b", "b", "b", "", "a:"},
      {"a:b:c", "c", "c", "", "a:b:"},
      {"//net", "//net", "//net", "", ""},
      {"//net/", "/", "/", "", "//net"},
      {"//net/a", "a", "a", "", "//net/"},
      {"//net///a", "a", "a", "", "//net/"},
      {"//net/a/", ".", "", ".", "//net/a"},
      {"\\\\net\\a", "a", "a", "", "//net/"},
      {".", ".", "", ".", ""},
      {"..", "..", ".", ".", ""},
      {"a/..", "..", ".", ".", "a"},
      {".profile", ".profile", "", ".profile", ""},
      {"a.b/x", "x", "x", "", "a.b"},
      {"a.b/", ".", "", ".", "a.b"},
  };
  for (const PathRow& row : rows)
    expect_row(row);
}

TEST(PathNames, CountsOnlyTheTextBeforeTheFirstNul) {
  expect_row({std::string("dir/a.txt\0/b.c", 14), "a.txt", "a", ".txt", "dir"});
  expect_row({std::string("\0/a", 3), "", "", "", ""});
}

TEST(PathNames, IgnoresALeadingDoubleSlashColon) {
  expect_row({"//:x/y.z", "y.z", "y", ".z", "x"});
  expect_row({"//:", "", "", "", ""});
  // Only literal '/' form the prefix, so backslashes make a network path of ":x"; its parent
  // "//:x/" is put into generic form in turn and loses the prefix.
  expect_row({"\\\\:x\\y", "y", "y", "", "x/"});
}

// A separator ends a network name only when the path begins with two separators: "a/b/" and
// "./build/" end in an ordinary trailing separator, like "ab/c/".
TEST(PathNames, TrailingSeparatorAfterAShortFirstElementIsNotARoot) {
  expect_row({"a/b/", ".", "", ".", "a/b"});
  expect_row({"a/bc/", ".", "", ".", "a/bc"});
  expect_row({"a\\bc\\", ".", "", ".", "a/bc"});
  expect_row({"ab/c/", ".", "", ".", "ab/c"});
  expect_row({"./build/", ".", "", ".", "./build"});
}

TEST(PathNames, ResultsNeverHoldABackslash) {
  const std::string paths[] = {"\\", "\\\\", "a\\", "\\a\\b\\", "c:\\", "\\\\net\\\\\\x\\y.z",
                               "x\\\\y", "\\.\\..\\"};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    for (const std::string& result :
         {vesk::leaf(path), vesk::basename(path), vesk::extension(path), vesk::dirname(path)})
      EXPECT_EQ(result.find('\\'), std::string::npos) << result;
  }
}

// Reads a field of the peer table: \t, \n, \\ and \0 stand for tab, newline, backslash, NUL.
std::string unescape(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    switch (field[++i]) {
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case '0': out += '\0'; break;
      default: out += field[i]; break;
    }
  }
  return out;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', begin);
    fields.push_back(line.substr(begin, tab - begin));
    if (tab == std::string::npos)
      return fields;
    begin = tab + 1;
  }
}

// Expectations of an independent, older path test suite with the same grammar.
TEST(PathNames, AgreesWithThePeerSuite) {
  std::ifstream in(VESK_PEER_PATH_CASES);
  ASSERT_TRUE(in) << VESK_PEER_PATH_CASES;
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    const std::vector<std::string> fields = split_tabs(line);
    ASSERT_GE(fields.size(), 3u) << line;
    const std::string& function = fields[0];
    const std::string path = unescape(fields[1]);
    const std::string expected = unescape(fields[2]);
    std::string actual;
    if (function == "leaf")
      actual = vesk::leaf(path);
    else if (function == "basename")
      actual = vesk::basename(path);
    else if (function == "extension")
      actual = vesk::extension(path);
    else if (function == "dirname")
      actual = vesk::dirname(path);
    else
      FAIL() << "unknown function in: " << line;
    EXPECT_EQ(actual, expected) << function << "(\"" << path << "\") from " << fields[3];
    ++checked;
  }
  EXPECT_GT(checked, 70);
}

}  // namespace
