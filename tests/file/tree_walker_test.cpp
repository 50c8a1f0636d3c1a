// TreeWalker: every entry under a directory once, links reported and never followed, a
// directory it cannot open reported with the error, and bounded descriptors at any depth.
#include "vesk/file.hpp"

#include "support/child_process.hpp"
#include "support/scratch_dir.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>

namespace {

using vesk::EntryType;
using vesk::testing::ScratchDir;
using vesk::testing::write_file;

struct Seen {
  EntryType type;
  int error;
  bool operator==(const Seen& other) const { return type == other.type && error == other.error; }
};

// Every entry the walk reports, by path; "twice: <path>" when one comes again.
std::string walk_against(const std::string& top, const std::map<std::string, Seen>& expected) {
  std::map<std::string, Seen> seen;
  std::string report;
  for (vesk::TreeWalker walker(top); walker.available(); walker.advance())
    if (!seen.emplace(walker.path(), Seen{walker.type(), walker.error()}).second)
      report += "twice: " + walker.path() + "\n";
  for (const auto& [path, what] : expected)
    if (seen.count(path) == 0 || !(seen.at(path) == what))
      report += "not as expected: " + path + "\n";
  for (const auto& [path, what] : seen)
    if (expected.count(path) == 0)
      report += "unexpected: " + path + "\n";
  return report;
}

TEST(TreeWalker, ReportsEveryEntryOnceWithoutLeavingTheTree) {
  ScratchDir outside;
  write_file(outside / "secret");
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // for the walk as nobody
  for (const char* sub : {"a", "a/b", "locked"})
    ASSERT_EQ(mkdir((dir / sub).c_str(), 0755), 0);
  write_file(dir / "a/f");
  write_file(dir / "a/b/g");
  write_file(dir / "locked/hidden");
  ASSERT_EQ(chmod((dir / "locked").c_str(), 0), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), (dir / "out").c_str()), 0);
  ASSERT_EQ(symlink("..", (dir / "a/cycle").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  const std::map<std::string, Seen> expected = {
      {"a", {EntryType::directory, 0}},          {"a/f", {EntryType::regular, 0}},
      {"a/b", {EntryType::directory, 0}},        {"a/b/g", {EntryType::regular, 0}},
      {"a/cycle", {EntryType::link, 0}},         {"out", {EntryType::link, 0}},
      {"dangling", {EntryType::link, 0}},        {"fifo", {EntryType::other, 0}},
      {"locked", {EntryType::directory, EACCES}}};
  // Root opens any directory: the walk runs as nobody then, in a child.
  const std::string report =
      geteuid() == 0
          ? vesk::testing::as_nobody("/", [&] { return walk_against(dir.path(), expected); })
          : walk_against(dir.path(), expected);
  EXPECT_EQ(report, "");

  // A walk ended at its first directory, opened ahead, keeps none of its descriptors.
  const std::size_t before = vesk::testing::open_descriptors();
  {
    vesk::TreeWalker walker(dir.path());
    while (walker.available() && walker.type() != EntryType::directory)
      walker.advance();
    ASSERT_TRUE(walker.available());
  }
  EXPECT_EQ(vesk::testing::open_descriptors(), before);

  vesk::TreeWalker missing(dir / "nothing here");
  EXPECT_FALSE(missing.open());
  EXPECT_FALSE(missing.available());
  EXPECT_EQ(missing.error(), ENOENT);
}

// The walk lists a directory ahead of examining its entries: those changed in between are
// reported as what they are now (a link put in a directory's place is not followed), those
// gone are left out.
TEST(TreeWalker, AnEntryChangedAfterItWasListedIsReportedAsWhatItIsNow) {
  ScratchDir outside;
  write_file(outside / "secret");
  ScratchDir dir;
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(mkdir((dir / ("d" + std::to_string(i))).c_str(), 0755), 0);
  std::map<std::string, Seen> seen;
  std::map<std::string, Seen> expected;
  vesk::TreeWalker walker(dir.path());
  ASSERT_TRUE(walker.available());
  const std::string first = walker.path();
  expected[first] = {EntryType::directory, 0};
  for (int i = 0; i < 10; ++i) {
    const std::string name = "d" + std::to_string(i);
    if (name == first)
      continue;
    ASSERT_EQ(rmdir((dir / name).c_str()), 0);
    if (i % 2 == 0) {
      ASSERT_EQ(symlink(outside.path().c_str(), (dir / name).c_str()), 0);
      expected[name] = {EntryType::link, 0};
    }
  }
  for (; walker.available(); walker.advance())
    seen.emplace(walker.path(), Seen{walker.type(), walker.error()});
  EXPECT_EQ(seen, expected);
}

// 300 levels with a file beside each subdirectory, walked with 64 descriptors at most.
TEST(TreeWalker, DepthIsBoundedByNeitherPathLengthNorDescriptors) {
  ScratchDir dir;
  const std::string report = vesk::testing::in_child([&]() -> std::string {
    rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = 64;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
      return "setrlimit failed";
    std::map<std::string, Seen> expected;
    std::string path;
    int level = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 300 && level >= 0; ++i) {
      close(openat(level, "f", O_WRONLY | O_CREAT, 0644));
      const int next = mkdirat(level, "d", 0755) == 0 ? openat(level, "d", O_RDONLY) : -1;
      close(level);
      level = next;
      expected[path + "f"] = {EntryType::regular, 0};
      path += "d";
      expected[path] = {EntryType::directory, 0};
      path += "/";
    }
    if (level < 0)
      return "could not build the tree";
    close(level);
    return walk_against(dir.path(), expected);
  });
  EXPECT_EQ(report, "");
}

}  // namespace
