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

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

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
// `each` runs on every entry before the walk goes on.
std::string walk_against(const std::string& top, const std::map<std::string, Seen>& expected,
                         const std::function<void(const std::string&)>& each = nullptr) {
  std::map<std::string, Seen> seen;
  std::string report;
  for (vesk::TreeWalker walker(top); walker.available(); walker.advance()) {
    if (!seen.emplace(walker.path(), Seen{walker.type(), walker.error()}).second)
      report += "twice: " + walker.path() + "\n";
    if (each)
      each(walker.path());
  }
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
  ScratchDir dir(vesk::testing::shared_scratch_parent());
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

  // The path to open an entry by, from the directory as given: separators at its end
  // dropped, nothing after a NUL, the root's own separator kept.
  const std::pair<std::string, std::string> spellings[] = {
      {dir.path() + "\\", dir.path() + "/"},
      {dir.path() + std::string("\0junk", 5), dir.path() + "/"},
      {"/", "/"}};
  for (const auto& [top, prefix] : spellings) {
    vesk::TreeWalker spelled(top);
    ASSERT_TRUE(spelled.available()) << top;
    EXPECT_EQ(spelled.fullPath(), prefix + spelled.path()) << top;
  }

  // A directory that is not there, and the empty name, which is no directory to walk (nor is
  // one that starts with a NUL).
  for (const auto& [top, error] : {std::pair{dir / "nothing here", ENOENT},
                                   {"", EINVAL},
                                   {std::string("\0junk", 5), EINVAL}}) {
    vesk::TreeWalker missing(top);
    EXPECT_FALSE(missing.open()) << top;
    EXPECT_FALSE(missing.available()) << top;
    EXPECT_EQ(missing.error(), error) << top;
  }
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

// A chain of `levels` directories "d/d/...", a file "f" beside each subdirectory, built through
// descriptors so that no path grows with it; the entries a walk reports, by path.
std::map<std::string, Seen> build_chain(const std::string& top, int levels) {
  std::map<std::string, Seen> expected;
  std::string path;
  int level = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < levels && level >= 0; ++i) {
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
    std::abort();
  close(level);
  return expected;
}

// The path of level `k` of a chain: "d", "d/d", ...
std::string chain_level(int k) {
  std::string path = "d";
  for (int i = 1; i < k; ++i)
    path += "/d";
  return path;
}

// Deep chains walked with few descriptors to spare: all found, and never more than 17
// descriptors held (the walk's bound, which the spare ones alone would not show).
TEST(TreeWalker, DepthIsBoundedByNeitherPathLengthNorDescriptors) {
  struct Row {
    int levels;
    rlim_t spare;  // descriptors free to the walk; 3 forces a shedding at every level
    int branch;    // a second chain of `levels` beside level `branch` of the first; 0: none
  };
  // A chain of 80 with a second chain of 80 beside its level 40: the second is walked after
  // coming back up through levels opened again, and must shed them as the first did.
  for (const Row row : {Row{300, 64, 0}, Row{40, 64, 0}, Row{40, 3, 0}, Row{80, 64, 40}}) {
    ScratchDir dir;
    const std::string report = vesk::testing::in_child([&]() -> std::string {
      std::map<std::string, Seen> expected = build_chain(dir.path(), row.levels);
      if (row.branch != 0) {
        const std::string fork = chain_level(row.branch) + "/e";
        if (mkdir((dir / fork).c_str(), 0755) != 0)
          return "mkdir failed";
        expected[fork] = {EntryType::directory, 0};
        for (const auto& [path, what] : build_chain(dir / fork, row.levels))
          expected[fork + "/" + path] = what;
      }
      std::vector<int> taken;
      if (!vesk::testing::limit_descriptors(vesk::testing::fill_descriptors_below_highest(taken) +
                                            row.spare))
        return "setrlimit failed";
      const std::size_t before = vesk::testing::open_descriptors();
      // Counting needs a descriptor of its own, which the row of 3 has not to spare.
      std::size_t most = 0;
      const std::string found = walk_against(dir.path(), expected, [&](const std::string&) {
        if (row.spare > 3)
          most = std::max(most, vesk::testing::open_descriptors() - before);
      });
      return found + (most > 17 ? "held " + std::to_string(most) + " descriptors\n" : "");
    });
    EXPECT_EQ(report, "") << row.levels << " levels, " << row.spare << " spare, branch "
                          << row.branch;
  }
}

// Deep in a 40-level chain, with every level above the 15 deepest closed, the walk loses its
// way back: an ancestor moved out of the tree, one whose permissions went, or no descriptor
// free at each step back up. Each directory it can no longer reach is reported again with the
// error, the walk goes on in the top (kept open) and ends; nothing from outside the tree is
// reported and no descriptor is kept.
TEST(TreeWalker, ADirectoryItCannotComeBackToIsReportedAndTheWalkGoesOnInTheTop) {
  constexpr int kLevels = 40;
  struct Row {
    const char* how;
    int lost;  // the deepest level reported again
    int error;
  };
  const Row rows[] = {{"moved", 4, ENOENT}, {"locked", 4, EACCES}, {"no descriptor", 25, EMFILE}};
  for (const Row& row : rows) {
    ScratchDir outside(vesk::testing::shared_scratch_parent());  // where dir is, for rename
    for (int i = 0; i < 50; ++i)
      write_file(outside / ("secret" + std::to_string(i)));
    ScratchDir dir(vesk::testing::shared_scratch_parent());
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // for the walk as nobody
    std::map<std::string, Seen> expected = build_chain(dir.path(), kLevels);
    for (int i = 0; i < 20; ++i) {
      write_file(dir / ("t" + std::to_string(i)));
      expected["t" + std::to_string(i)] = {EntryType::regular, 0};
    }
    const bool locked = std::string(row.how) == "locked";
    for (int k = 0; locked && geteuid() == 0 && k <= kLevels; ++k) {
      ASSERT_EQ(lchown((k == 0 ? dir.path() : dir / chain_level(k)).c_str(), 65534, 65534), 0);
    }
    const auto walk = [&]() -> std::string {
      bool deep = false;
      const std::size_t before = vesk::testing::open_descriptors();
      // The walk's descriptors take numbers from `first` on; a limit of `first` then leaves
      // none free, whatever the walk closes.
      std::vector<int> taken;
      const int first = vesk::testing::fill_descriptors_below_highest(taken);
      if (!vesk::testing::limit_descriptors(first + 64))
        return "setrlimit failed";
      std::map<std::string, int> again;
      std::string report;
      {
        std::set<std::string> seen;
        for (vesk::TreeWalker walker(dir.path()); walker.available(); walker.advance()) {
          const std::string& path = walker.path();
          if (path.find("secret") != std::string::npos)
            report += "outside the tree: " + path + "\n";
          if (!seen.insert(path).second)
            again[path] = walker.error();
          if (path == chain_level(kLevels) && !deep) {
            deep = true;
            if (locked && chmod((dir / chain_level(row.lost)).c_str(), 0) != 0)
              return "chmod failed";
            if (std::string(row.how) == "moved" &&
                rename((dir / chain_level(row.lost + 1)).c_str(), (outside / "moved").c_str()) != 0)
              return "rename failed";
            if (std::string(row.how) == "no descriptor" && !vesk::testing::limit_descriptors(first))
              return "setrlimit failed";
          }
        }
        vesk::testing::limit_descriptors(first + 64);
        for (const int fd : taken)
          close(fd);
        // All but what lay below the lost levels; the top's files above all.
        for (const auto& [path, what] : expected) {
          if (seen.count(path) == 0 && path.rfind(chain_level(row.lost + 1), 0) != 0)
            report += "missed " + path + "\n";
        }
      }
      std::map<std::string, int> lost;
      for (int k = 1; k <= row.lost; ++k)
        lost[chain_level(k)] = row.error;
      if (again != lost)
        report += "reported again: " + std::to_string(again.size()) + " paths\n";
      if (vesk::testing::open_descriptors() != before)
        report += "descriptors kept\n";
      if (locked)
        chmod((dir / chain_level(row.lost)).c_str(), 0755);
      return report;
    };
    const std::string report = locked && geteuid() == 0 ? vesk::testing::as_nobody("/", walk)
                                                        : vesk::testing::in_child(walk);
    EXPECT_EQ(report, "") << row.how;
  }
}

}  // namespace
