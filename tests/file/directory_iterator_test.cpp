// Tests of DirectoryIterator: every walk is compared with what a plain readdir loop lists.
#include "vesk/file.hpp"

#include "support/scratch_dir.hpp"
#include "util/file/entry_type.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

namespace {

using vesk::DirectoryIterator;
using vesk::testing::os_listing;
using vesk::testing::ScratchDir;
using vesk::testing::write_file;

std::vector<std::string> walk(const std::string& directory) {
  std::vector<std::string> names;
  DirectoryIterator it(directory);
  while (it.available()) {
    names.push_back(it.current());
    it.advance();
  }
  return names;
}

TEST(DirectoryIterator, WalksEveryEntryInTheOperatingSystemsOrder) {
  ScratchDir dir;
  write_file(dir / "a");
  write_file(dir / "b");

  DirectoryIterator it(dir.path());
  EXPECT_TRUE(it.open());
  std::vector<std::string> names;
  while (it.available()) {
    names.push_back(it.current());
    errno = EBADF;  // whatever the caller left there is no reason of the walk's
    it.advance();
  }
  EXPECT_EQ(names, os_listing(dir.path()));
  EXPECT_EQ(names.size(), 4u);  // a, b, "." and ".."
  EXPECT_EQ(it.error(), 0);

  // Exhausted: still open, nothing current, and advancing changes nothing.
  EXPECT_TRUE(it.open());
  EXPECT_FALSE(it.available());
  EXPECT_EQ(it.current(), "");
  it.advance();
  EXPECT_TRUE(it.open());
  EXPECT_FALSE(it.available());
  EXPECT_EQ(it.current(), "");
}

TEST(DirectoryIterator, ListsEntriesOfEveryKindAsBareNames) {
  ScratchDir dir;
  for (int i = 0; i < 300; ++i)
    write_file(dir / ("file" + std::to_string(i)));
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
  write_file(dir / "sub/inner");  // never listed: the walk does not recurse
  ASSERT_EQ(symlink("sub", (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  write_file(dir / "name with spaces\\and backslash");

  std::vector<std::string> expected = os_listing(dir.path());
  ASSERT_EQ(expected.size(), 300u + 7u);
  EXPECT_EQ(walk(dir.path()), expected);
}

// Each kind as the listing gives it, and as the status query gives it where the listing does
// not: links are links, whatever they name.
TEST(DirectoryIterator, ReportsTheKindOfEachEntryWithoutFollowingLinks) {
  using vesk::EntryType;
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
  write_file(dir / "file");
  ASSERT_EQ(symlink("sub", (dir / "to_dir").c_str()), 0);
  ASSERT_EQ(symlink("file", (dir / "to_file").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::map<std::string, EntryType> expected = {
      {".", EntryType::directory},   {"..", EntryType::directory}, {"sub", EntryType::directory},
      {"file", EntryType::regular},  {"to_dir", EntryType::link},  {"to_file", EntryType::link},
      {"dangling", EntryType::link}, {"fifo", EntryType::other}};
  const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  std::size_t seen = 0;
  DirectoryIterator it(dir.path());
  for (; it.available(); it.advance(), ++seen) {
    const std::string name = it.current();
    ASSERT_EQ(expected.count(name), 1u) << name;
    EXPECT_EQ(it.type(), expected.at(name)) << name;
    EXPECT_EQ(vesk::detail::entry_type(fd, name.c_str(), DT_UNKNOWN), expected.at(name)) << name;
  }
  EXPECT_EQ(seen, expected.size());
  EXPECT_EQ(it.type(), EntryType::unknown);
  EXPECT_EQ(vesk::detail::entry_type(fd, "gone", DT_UNKNOWN), EntryType::unknown);
  close(fd);
}

TEST(DirectoryIterator, DirectoryThatCannotBeWalkedIsNotStarted) {
  ScratchDir dir;
  write_file(dir / "plain");
  // A directory removed while a descriptor still holds it opens, but lists not even "." and "..".
  ASSERT_EQ(mkdir((dir / "removed").c_str(), 0700), 0);
  const int removed = ::open((dir / "removed").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(removed, 0);
  ASSERT_EQ(rmdir((dir / "removed").c_str()), 0);
  const struct {
    std::string path;
    int error;  // why, as error() gives it
  } cases[] = {{dir / "missing", ENOENT},
               {dir / "plain", ENOTDIR},
               {dir / "missing/deeper", ENOENT},
               {dir / "plain/", ENOTDIR},
               {"/proc/self/fd/" + std::to_string(removed), ENOENT}};
  for (const auto& [path, error] : cases) {
    DirectoryIterator it(path);
    EXPECT_EQ(it.error(), error) << path;
    EXPECT_FALSE(it.open()) << path;
    EXPECT_FALSE(it.available()) << path;
    EXPECT_EQ(it.current(), "") << path;
    it.advance();
    EXPECT_FALSE(it.open()) << path;
    EXPECT_FALSE(it.available()) << path;
  }
  close(removed);
}

TEST(DirectoryIterator, SeparatorsOfEitherKindAndTrailingOnesNameTheSameDirectory) {
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
  write_file(dir / "sub/a");
  write_file(dir / "sub/b");
  const std::vector<std::string> expected = os_listing(dir / "sub");
  std::string backslashed = dir / "sub";
  for (char& c : backslashed)
    c = c == '/' ? '\\' : c;

  const std::string spellings[] = {dir / "sub",   dir / "sub/",   dir / "sub\\",
                                   dir / "sub//", dir / "sub/\\", backslashed,
                                   backslashed + "\\", dir.path() + "\\sub"};
  for (const std::string& spelling : spellings)
    EXPECT_EQ(walk(spelling), expected) << spelling;
}

TEST(DirectoryIterator, EmptyArgumentOrSeparatorsOnlyWalkTheRoot) {
  const std::vector<std::string> root = os_listing("/");
  ASSERT_FALSE(root.empty());
  for (const char* spelling : {"", "/", "\\", "///", "/\\/"}) {
    DirectoryIterator it(spelling);
    EXPECT_TRUE(it.open()) << '[' << spelling << ']';
    EXPECT_EQ(walk(spelling), root) << '[' << spelling << ']';
  }
}

TEST(DirectoryIterator, IteratorsOnOneDirectoryDoNotDisturbEachOther) {
  ScratchDir dir;
  for (const char* name : {"x", "y", "z"})
    write_file(dir / name);
  const std::vector<std::string> expected = os_listing(dir.path());

  DirectoryIterator first(dir.path());
  DirectoryIterator second(dir.path());
  std::vector<std::string> seen_first;
  std::vector<std::string> seen_second;
  while (first.available() || second.available()) {
    if (first.available()) {
      seen_first.push_back(first.current());
      first.advance();
    }
    // The second walk runs at half the pace of the first until the first ends.
    if (second.available() && (seen_first.size() % 2 == 0 || !first.available())) {
      seen_second.push_back(second.current());
      second.advance();
    }
  }
  EXPECT_EQ(seen_first, expected);
  EXPECT_EQ(seen_second, expected);
}

}  // namespace
