// Tests of the file and directory operations: truth tables per kind of entry, ancestors,
// deep removal that never leaves the tree, and the filesystem errors that reach the caller.
#include "vesk/file.hpp"

#include "file/scratch_dir.hpp"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vesk::testing::kind_at;
using vesk::testing::ScratchDir;
using vesk::testing::write_file;

// Every kind of entry the operations meet, side by side in one directory: "file", "dir" (with
// "dir/inner"), links to both, a dangling link, a FIFO and a socket node.
void populate(const ScratchDir& dir) {
  write_file(dir / "file");
  ASSERT_EQ(mkdir((dir / "dir").c_str(), 0755), 0);
  write_file(dir / "dir/inner");
  ASSERT_EQ(symlink("file", (dir / "link_file").c_str()), 0);
  ASSERT_EQ(symlink("dir", (dir / "link_dir").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(mknod((dir / "socket").c_str(), S_IFSOCK | 0600, 0), 0);
}

std::string backslashed(std::string path) {
  for (char& c : path)
    c = c == '/' ? '\\' : c;
  return path;
}

TEST(FileOps, ExistenceTestsFollowLinksAndTreatMissingAsAbsent) {
  ScratchDir dir;
  populate(dir);
  struct Row {
    std::string path;
    bool directory;
    bool file;
  };
  const Row rows[] = {
      {dir / "file", false, true},
      {dir / "dir", true, false},
      {dir / "dir/", true, false},
      {dir / "dir\\", true, false},
      {backslashed(dir / "dir/inner"), false, true},
      {dir / "link_file", false, true},
      {dir / "link_dir", true, false},
      {dir / "dangling", false, false},
      {dir / "fifo", false, false},
      {dir / "socket", false, false},
      {dir / "missing", false, false},
      {dir / "missing/deeper", false, false},
      {dir / "file/under", false, false},
      {"//:" + dir / "dir", true, false},
      {dir / "file" + std::string("\0/ignored", 9), false, true},
      {"", false, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vesk::directory_exists(row.path), row.directory) << row.path;
    EXPECT_EQ(vesk::file_exists(row.path), row.file) << row.path;
  }
}

// What one removal leaves, per kind of entry: the result, the kind still at the path (0 for
// nothing), and whether the link targets "file" and "dir/inner" survived.
struct RemovalRow {
  const char* name;
  bool result;
  mode_t left;
};

void check_removals(const std::function<bool(const std::string&)>& remove,
                    const RemovalRow* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const RemovalRow& row = rows[i];
    ScratchDir dir;
    populate(dir);
    EXPECT_EQ(remove(dir / row.name), row.result) << row.name;
    EXPECT_EQ(kind_at(dir / row.name), row.left) << row.name;
    // The entry named, without the trailing separators some rows add.
    const std::string entry = std::string(row.name).substr(0, std::strcspn(row.name, "/\\"));
    if (entry != "file") {
      EXPECT_EQ(kind_at(dir / "file"), S_IFREG) << row.name;
    }
    if (entry != "dir") {
      EXPECT_EQ(kind_at(dir / "dir/inner"), S_IFREG) << row.name;
    }
  }
}

TEST(FileOps, RemoveFileRemovesRegularFilesAndLinksToThemOnly) {
  const RemovalRow rows[] = {
      {"file", true, 0},          {"dir", false, S_IFDIR},     {"link_file", true, 0},
      {"link_dir", false, S_IFLNK}, {"dangling", true, S_IFLNK}, {"fifo", true, S_IFIFO},
      {"socket", true, S_IFSOCK}, {"missing", true, 0},
  };
  check_removals(vesk::remove_file, rows, std::size(rows));
}

TEST(FileOps, RemoveDirectoryRemovesDirectoriesAndLinksToThemAsLinks) {
  const RemovalRow rows[] = {
      {"file", false, S_IFREG},      {"dir", true, 0},            {"link_file", false, S_IFLNK},
      {"link_dir", true, 0},         {"dangling", true, S_IFLNK}, {"fifo", true, S_IFIFO},
      {"socket", true, S_IFSOCK},    {"missing", true, 0},        {"link_dir/", true, 0},
      {"link_dir\\", true, 0},      {"dir//", true, 0},          {"file/", true, 0},
  };
  check_removals(vesk::remove_directory, rows, std::size(rows));
}

TEST(FileOps, RemoveDirectoryRemovesEveryKindOfEntryButNothingOutsideTheTree) {
  ScratchDir dir;
  // Outside the tree: a file and a directory that links inside the tree point to.
  write_file(dir / "outside_file", "keep");
  ASSERT_EQ(mkdir((dir / "outside_dir").c_str(), 0755), 0);
  write_file(dir / "outside_dir/content", "keep");

  const std::string tree = dir / "tree";
  ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
  std::string sub = tree;
  for (int depth = 0; depth < 40; ++depth) {
    sub += "/level" + std::to_string(depth);
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    for (int i = 0; i < 5; ++i)
      write_file(sub + "/f" + std::to_string(i));
  }
  const std::string mid = tree + "/level0/level1";
  ASSERT_EQ(mkdir((tree + "/empty").c_str(), 0755), 0);
  write_file(tree + "/.hidden");
  write_file(mid + "/back\\slash");
  ASSERT_EQ(mkdir((mid + "/dir\\name").c_str(), 0755), 0);
  write_file(mid + "/dir\\name/inner");
  ASSERT_EQ(symlink((dir / "outside_file").c_str(), (mid + "/abs_to_file").c_str()), 0);
  ASSERT_EQ(symlink("../../../outside_dir", (mid + "/rel_to_dir").c_str()), 0);
  ASSERT_EQ(symlink("..", (mid + "/to_parent").c_str()), 0);
  ASSERT_EQ(symlink("loop", (mid + "/loop").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (mid + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((mid + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(mknod((mid + "/socket").c_str(), S_IFSOCK | 0600, 0), 0);
  // A device node needs the privilege to make one; where the sandbox refuses, the rest stands.
  mknod((mid + "/null_device").c_str(), S_IFCHR | 0600, makedev(1, 3));
  ASSERT_EQ(kind_at(mid + "/rel_to_dir/content"), S_IFREG);

  // Written with backslashes and a trailing separator, which name the same tree.
  EXPECT_TRUE(vesk::remove_directory(backslashed(tree) + "\\"));
  EXPECT_EQ(kind_at(tree), 0u);
  EXPECT_EQ(kind_at(dir / "outside_file"), S_IFREG);
  EXPECT_EQ(kind_at(dir / "outside_dir/content"), S_IFREG);
  EXPECT_EQ(vesk::testing::os_listing(dir.path()).size(), 4u);  // ".", "..", both outside
}

TEST(FileOps, CreateDirectoryCreatesMissingAncestors) {
  ScratchDir dir;
  populate(dir);
  struct Row {
    std::string argument;
    std::vector<std::string> directories;  // relative to the scratch directory
  };
  std::string deep = dir.path();
  std::vector<std::string> deep_levels;
  for (int i = 0; i < 30; ++i) {
    deep += "/d" + std::to_string(i);
    deep_levels.push_back(deep.substr(dir.path().size() + 1));
  }
  const Row rows[] = {
      {dir / "x/y/z", {"x", "x/y", "x/y/z"}},
      {dir / "x/y/z", {"x/y/z"}},  // again: nothing to do, still true
      {dir / "t1/t2/", {"t1", "t1/t2"}},
      {backslashed(dir / "b1/b2/b3"), {"b1", "b1/b2", "b1/b2/b3"}},
      {dir / "dir/new", {"dir/new"}},
      {dir / "link_dir/via_link/deeper", {"dir/via_link", "dir/via_link/deeper"}},
      {deep, deep_levels},
  };
  // Every level gets the mode the dependency gives a directory it makes; with no umask, every
  // permission bit shows.
  const mode_t old_mask = umask(0);
  const auto mode_at = [](const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  boost::filesystem::create_directory(dir / "by_dependency");
  const mode_t dependency_mode = mode_at(dir / "by_dependency");
  for (const Row& row : rows) {
    EXPECT_TRUE(vesk::create_directory(row.argument)) << row.argument;
    for (const std::string& created : row.directories) {
      EXPECT_EQ(kind_at(dir / created), S_IFDIR) << row.argument << ": " << created;
      EXPECT_EQ(mode_at(dir / created), dependency_mode) << row.argument << ": " << created;
    }
  }
  umask(old_mask);
  EXPECT_EQ(kind_at(dir / "dir/inner"), S_IFREG);
}

TEST(FileOps, CreateDirectoryLeavesARegularFileInTheWay) {
  ScratchDir dir;
  populate(dir);
  const std::vector<std::string> before = vesk::testing::os_listing(dir.path());
  for (const char* name : {"file", "file/x", "file/x/y", "link_file", "link_file/x/"}) {
    EXPECT_FALSE(vesk::create_directory(dir / name)) << name;
    EXPECT_EQ(kind_at(dir / "file"), S_IFREG) << name;
  }
  EXPECT_EQ(vesk::testing::os_listing(dir.path()), before);
}

// Runs `call`, which must raise the dependency's filesystem error; returns the system error
// number and the path it carries (-1 and "" when nothing, or something else, was raised).
std::pair<int, std::string> raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const boost::filesystem::filesystem_error& error) {
    return {error.code().value(), error.path1().string()};
  } catch (...) {
  }
  return {-1, ""};
}

TEST(FileOps, FailedStatusQueriesAndCreationsRaiseTheFilesystemError) {
  ScratchDir dir;
  populate(dir);
  ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
  const std::string too_long = dir / std::string(300, 'n');
  struct Row {
    const char* what;
    std::function<void()> call;
    int error;
    std::string path;
  };
  const Row rows[] = {
      {"directory_exists, name too long", [&] { vesk::directory_exists(too_long); },
       ENAMETOOLONG, too_long},
      {"file_exists, link loop", [&] { vesk::file_exists(dir / "loop"); }, ELOOP, dir / "loop"},
      {"remove_file, name too long", [&] { vesk::remove_file(too_long); }, ENAMETOOLONG,
       too_long},
      {"remove_directory, name too long", [&] { vesk::remove_directory(too_long); },
       ENAMETOOLONG, too_long},
      {"create_directory, name too long", [&] { vesk::create_directory(too_long + "/a"); },
       ENAMETOOLONG, too_long},
      {"create_directory, dangling link in the way",
       [&] { vesk::create_directory(dir / "dangling/a"); }, EEXIST, dir / "dangling"},
      {"create_directory, empty path", [&] { vesk::create_directory(""); }, ENOENT, ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(raised(row.call), std::make_pair(row.error, row.path)) << row.what;

  // The error is a std::runtime_error to callers that do not know the dependency.
  EXPECT_THROW(vesk::directory_exists(too_long), std::runtime_error);
}

// Runs `checks` in a child process that has dropped root's privileges to those of nobody,
// starting in `directory`; returns what the checks reported (empty when all held).
std::string as_nobody(const std::string& directory,
                      const std::function<std::string()>& checks) {
  int channel[2];
  if (pipe(channel) != 0)
    return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string report;
    if (chdir(directory.c_str()) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      report = "could not become nobody";
    else
      report = checks();
    ssize_t written = write(channel[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(channel[1]);
  std::string report;
  char buffer[512];
  ssize_t got;
  while ((got = read(channel[0], buffer, sizeof buffer)) > 0)
    report.append(buffer, static_cast<std::size_t>(got));
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    report += " (child ended abnormally)";
  return report;
}

TEST(FileOps, PermissionFailuresRaiseTheFilesystemErrorAndKeepWhatExists) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to set up entries that another user may not change";
  ScratchDir dir;
  const std::string work = dir / "work";
  ASSERT_EQ(mkdir(work.c_str(), 0777), 0);
  ASSERT_EQ(chmod(work.c_str(), 0777), 0);  // past the umask
  // Owned by root: "locked" readable by all, "hidden" by root only; "tree" writable by all
  // down to one subdirectory that is not.
  ASSERT_EQ(mkdir((work + "/locked").c_str(), 0755), 0);
  write_file(work + "/locked/file");
  ASSERT_EQ(mkdir((work + "/hidden").c_str(), 0700), 0);
  write_file(work + "/hidden/x");
  for (const char* sub : {"/tree", "/tree/a", "/tree/a/b"}) {
    ASSERT_EQ(mkdir((work + sub).c_str(), 0777), 0);
    ASSERT_EQ(chmod((work + sub).c_str(), 0777), 0);
  }
  ASSERT_EQ(mkdir((work + "/tree/a/b/locked_sub").c_str(), 0755), 0);
  write_file(work + "/tree/a/b/locked_sub/f");

  const std::string report = as_nobody(work, [] {
    struct Row {
      const char* what;
      std::function<void()> call;
      std::string path;
    };
    const Row rows[] = {
        {"create_directory", [] { vesk::create_directory("locked/new/deeper"); }, "locked/new"},
        {"remove_file", [] { vesk::remove_file("locked/file"); }, "locked/file"},
        {"directory_exists", [] { vesk::directory_exists("hidden/x"); }, "hidden/x"},
        {"file_exists", [] { vesk::file_exists("hidden\\x"); }, "hidden/x"},
        {"remove_directory, first level", [] { vesk::remove_directory("locked"); },
         "locked/file"},
        {"remove_directory, deep in the tree", [] { vesk::remove_directory("tree"); },
         "tree/a/b/locked_sub/f"},
    };
    std::string failures;
    for (const Row& row : rows) {
      const std::pair<int, std::string> got = raised(row.call);
      if (got != std::make_pair(EACCES, row.path))
        failures += std::string(row.what) + " raised " + std::to_string(got.first) + " for [" +
                    got.second + "]; ";
    }
    if (vesk::DirectoryIterator("hidden").open())
      failures += "an unreadable directory was walked; ";
    return failures;
  });
  EXPECT_EQ(report, "");
  EXPECT_EQ(kind_at(work + "/locked/file"), S_IFREG);
  EXPECT_EQ(kind_at(work + "/locked/new"), 0u);
  EXPECT_EQ(kind_at(work + "/hidden/x"), S_IFREG);
  EXPECT_EQ(kind_at(work + "/tree/a/b/locked_sub/f"), S_IFREG);
}

TEST(FileOps, TempnamGivesAFreshNameWithForwardSlashesOnly) {
  const char* saved = std::getenv("TMPDIR");
  const std::string tmpdir = saved != nullptr ? saved : "/tmp";
  ScratchDir dir;
  // A temporary directory written with backslashes still yields '/' only.
  ASSERT_EQ(setenv("TMPDIR", backslashed(dir.path()).c_str(), 1), 0);
  const std::string first = vesk::tempnam();
  const std::string second = vesk::tempnam();
  ASSERT_EQ(setenv("TMPDIR", tmpdir.c_str(), 1), 0);

  for (const std::string& name : {first, second}) {
    EXPECT_EQ(name.find('\\'), std::string::npos) << name;
    EXPECT_EQ(name.rfind(dir.path() + "/", 0), 0u) << name;
    EXPECT_EQ(kind_at(name), 0u) << name;
  }
  EXPECT_NE(first, second);
}

}  // namespace
