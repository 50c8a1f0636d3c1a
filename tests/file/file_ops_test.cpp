// Tests of the file and directory operations: truth tables per kind of entry, ancestors,
// deep removal that never leaves the tree, not even when entries are swapped for links while
// it runs, and the filesystem errors that reach the caller.
#include "vesk/file.hpp"

#include "support/child_process.hpp"
#include "support/host_hook.hpp"
#include "support/scratch_dir.hpp"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using vesk::testing::as_nobody;
using vesk::testing::in_child;
using vesk::testing::kind_at;
using vesk::testing::open_descriptors;
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

// Calls of mkdir anywhere in this program, counted by the interposed function further down.
int mkdir_calls = 0;
// Set where the interposed statx further down hides which directories are mount roots.
bool gMountRootsUnreported = false;

std::string backslashed(std::string path) {
  for (char& c : path)
    c = c == '/' ? '\\' : c;
  return path;
}

// The working directory for the life of the object, for names that only a relative path can
// spell: a drive prefix ("x:y") is the parent only where no separator comes before it.
class WorkingDirectory {
public:
  explicit WorkingDirectory(const std::string& path) : mPrevious(open(".", O_PATH)) {
    EXPECT_EQ(chdir(path.c_str()), 0) << path;
  }
  ~WorkingDirectory() {
    EXPECT_EQ(fchdir(mPrevious), 0);
    close(mPrevious);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
  int mPrevious;
};

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
      {"link_dir//", true, 0},      {"file/sub", true, 0},
      // A last element "." or ".." names no entry of its own: refused, even through a link.
      {"link_dir/.", false, S_IFDIR}, {"dir/..", false, S_IFDIR},
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
  write_file(tree + "/..x");  // a name of its own, not ".."
  ASSERT_EQ(mkdir((tree + "/...").c_str(), 0755), 0);
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
      // Relative: a drive prefix is the parent, and is made first.
      {"x:y", {"x:", "x:y"}},
      {"c:x/y", {"c:", "c:x", "c:x/y"}},
      {"e:f\\", {"e:", "e:f"}},
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
  const WorkingDirectory in_scratch(dir.path());
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

// A missing level costs one mkdir, and finding the outermost one a few more, two per doubling
// of their number: a failed call per missing level would make 30 levels cost 59 calls, and
// steps that grow by one rather than double (some square root of the levels) 100 levels 118
// and 200 levels 222.
TEST(FileOps, CreateDirectoryFindsTheMissingLevelsInLogarithmicallyManyCalls) {
  ScratchDir dir;
  const struct {
    int present;  // levels below the scratch directory made beforehand
    int missing;
  } rows[] = {{0, 1}, {0, 2}, {0, 3}, {2, 7}, {0, 30}, {29, 1}, {12, 20}, {0, 100}, {0, 200}};
  int serial = 0;
  for (const auto& row : rows) {
    std::string path = dir / ("r" + std::to_string(serial++));
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    for (int level = 0; level < row.present; ++level) {
      path += "/p" + std::to_string(level);
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    }
    for (int level = 0; level < row.missing; ++level)
      path += "/m" + std::to_string(level);
    int bound = row.missing + 2;
    for (int doubling = 1; doubling < row.missing; doubling *= 2)
      bound += 2;
    mkdir_calls = 0;
    EXPECT_TRUE(vesk::create_directory(path)) << row.present << " + " << row.missing;
    EXPECT_LE(mkdir_calls, bound) << row.present << " + " << row.missing;
    EXPECT_EQ(kind_at(path), S_IFDIR) << row.present << " + " << row.missing;
  }
}

TEST(FileOps, CreateDirectoryLeavesARegularFileInTheWay) {
  ScratchDir dir;
  populate(dir);
  write_file(dir / "x:");
  const std::vector<std::string> before = vesk::testing::os_listing(dir.path());
  const WorkingDirectory in_scratch(dir.path());
  // Relative names; "x:" is the drive-prefix parent of "x:y".
  for (const char* name : {"file", "file/x", "file/x/y", "link_file", "link_file/x/", "x:y"}) {
    EXPECT_FALSE(vesk::create_directory(name)) << name;
    EXPECT_EQ(kind_at(dir / "file"), S_IFREG) << name;
  }
  EXPECT_EQ(vesk::testing::os_listing(dir.path()), before);
}

// The number of descriptors the process holds.
// Runs `call`, which must raise the dependency's filesystem error with a code of the system
// category, as the dependency's own errors have; returns the system error number and the path
// it carries (-1 and "" when nothing, or something else, was raised; -1 and the category's name
// for a code of another category).
std::pair<int, std::string> raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const boost::filesystem::filesystem_error& error) {
    if (error.code().category() != boost::system::system_category())
      return {-1, error.code().category().name()};
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
  const std::size_t descriptors = open_descriptors();
  for (const Row& row : rows)
    EXPECT_EQ(raised(row.call), std::make_pair(row.error, row.path)) << row.what;
  EXPECT_EQ(open_descriptors(), descriptors) << "a failed call keeps a descriptor open";

  // The error is a std::runtime_error to callers that do not know the dependency.
  EXPECT_THROW(vesk::directory_exists(too_long), std::runtime_error);
}

TEST(FileOps, PermissionFailuresRaiseTheFilesystemErrorAndKeepWhatExists) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to set up entries that another user may not change";
  ScratchDir dir(vesk::testing::shared_scratch_parent());
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
  // "own" may be emptied by all, but not taken from "locked".
  ASSERT_EQ(mkdir((work + "/locked/own").c_str(), 0777), 0);
  ASSERT_EQ(chmod((work + "/locked/own").c_str(), 0777), 0);
  write_file(work + "/locked/own/f");

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
        {"remove_directory, the emptied top", [] { vesk::remove_directory("locked/own"); },
         "locked/own"},
    };
    std::string failures;
    const std::size_t descriptors = open_descriptors();
    for (const Row& row : rows) {
      const std::pair<int, std::string> got = raised(row.call);
      if (got != std::make_pair(EACCES, row.path))
        failures += std::string(row.what) + " raised " + std::to_string(got.first) + " for [" +
                    got.second + "]; ";
    }
    if (open_descriptors() != descriptors)
      failures += "descriptors left open; ";
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

TEST(FileOps, RemoveDirectoryDepthIsBoundedByNeitherPathLengthNorDescriptors) {
  struct Row {
    int depth;
    rlim_t descriptors;  // the soft limit in the child; 0 keeps the process's own
    bool files;          // a file beside each level's subdirectory
    bool old_kernel;     // mount roots not reported: the walk compares devices
  };
  for (const Row& row :
       {Row{10000, 0, false, false}, Row{300, 64, true, false}, Row{3, 0, true, true}}) {
    ScratchDir dir(vesk::testing::memory_scratch_parent());
    const std::string report = in_child([&]() -> std::string {
      gMountRootsUnreported = row.old_kernel;
      rlimit limit;
      getrlimit(RLIMIT_NOFILE, &limit);
      limit.rlim_cur = row.descriptors != 0 ? row.descriptors : limit.rlim_cur;
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return "setrlimit failed";
      // Built through descriptors, one level "d" at a time: the paths of the deep levels are
      // far longer than PATH_MAX.
      int level = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
      for (int i = 0; i < row.depth && level >= 0; ++i) {
        if (row.files)
          close(openat(level, "f", O_WRONLY | O_CREAT, 0644));
        const int next = mkdirat(level, "d", 0755) == 0 ? openat(level, "d", O_RDONLY) : -1;
        close(level);
        level = next;
      }
      if (level < 0)
        return "could not build the tree";
      close(level);
      if (!vesk::remove_directory(dir / "d") || kind_at(dir / "d") != 0)
        return "not removed";
      return "";
    });
    EXPECT_EQ(report, "") << row.depth << " levels";
  }
}

TEST(FileOps, RemoveDirectoryStopsAtAMountPoint) {
  ScratchDir dir;
  const std::string mount_point = dir / "tree/mounted";
  ASSERT_EQ(mkdir((dir / "tree").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(mount_point.c_str(), 0755), 0);
  const std::string report = in_child([&]() -> std::string {
    // A mount namespace of the child's own, which goes with it.
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) ||
        mount("scratch", mount_point.c_str(), "tmpfs", 0, nullptr) != 0)
      return "no mounts here";
    write_file(mount_point + "/kept");
    const std::pair<int, std::string> got = raised([&] { vesk::remove_directory(dir / "tree"); });
    if (got != std::make_pair(EBUSY, mount_point))
      return "raised " + std::to_string(got.first) + " for [" + got.second + "]";
    return kind_at(mount_point + "/kept") == S_IFREG ? "" : "the mounted file system was emptied";
  });
  if (report == "no mounts here")
    GTEST_SKIP() << "this process may not mount a file system";
  EXPECT_EQ(report, "");
}

// ----- Entries swapped for links while a removal runs ---------------------------------------

// Levels of the trees below, each with a few files; a mirror of a tree has the same names, so
// anything removed by a path that goes through a link into the mirror deletes one of its files.
const char* const kLevels[] = {"a", "a/b", "a/b/victim", "a/b/victim/deeper"};

void make_levels(const std::string& root, int files) {
  ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
  for (const char* level : kLevels) {
    ASSERT_EQ(mkdir((root + "/" + level).c_str(), 0755), 0);
    for (int i = 0; i < files; ++i)
      write_file(root + "/" + level + "/f" + std::to_string(i));
  }
}

int files_missing(const std::string& root, int files) {
  int missing = 0;
  for (const char* level : kLevels)
    for (int i = 0; i < files; ++i)
      missing += kind_at(root + "/" + level + "/f" + std::to_string(i)) != S_IFREG;
  return missing;
}

// The swap that the interposed functions below make once, right after the real call named
// `call` on an entry whose last element is `name`.
struct Swap {
  std::string call;
  std::string name;
  std::function<void()> action;
} armed;

void after_call(const char* call, const char* path) {
  if (!armed.action || armed.call != call)
    return;
  const char* slash = std::strrchr(path, '/');
  if (armed.name != (slash != nullptr ? slash + 1 : path))
    return;
  const int saved = errno;
  std::function<void()> action;
  action.swap(armed.action);
  action();
  errno = saved;
}

}  // namespace

// The host functions through which the library checks and opens entries, interposed for this
// whole test program so that a swap can fall exactly between a check and its use.
extern "C" int fstatat(int dir, const char* name, struct stat* status, int flags) noexcept {
  static auto* const real =
      vesk::testing::next_definition<int(int, const char*, struct stat*, int)>("fstatat");
  const int result = real(dir, name, status, flags);
  after_call("fstatat", name);
  return result;
}

extern "C" int openat(int dir, const char* name, int flags, ...) {
  mode_t mode = 0;
  if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  static auto* const real =
      vesk::testing::next_definition<int(int, const char*, int, ...)>("openat");
  const int result = real(dir, name, flags, mode);
  after_call("openat", name);
  return result;
}

// Kernels before 5.8 do not say which directories are mount roots; a test sets this to be
// such a kernel.
extern "C" int statx(int dir, const char* name, int flags, unsigned int mask,
                     struct statx* status) noexcept {
  static auto* const real =
      vesk::testing::next_definition<int(int, const char*, int, unsigned int, struct statx*)>(
          "statx");
  const int result = real(dir, name, flags, mask, status);
  if (result == 0 && gMountRootsUnreported)
    status->stx_attributes_mask &= ~static_cast<std::uint64_t>(STATX_ATTR_MOUNT_ROOT);
  return result;
}

// Counted for the cost of create_directory.
extern "C" int mkdir(const char* path, mode_t mode) noexcept {
  static auto* const real = vesk::testing::next_definition<int(const char*, mode_t)>("mkdir");
  ++mkdir_calls;
  return real(path, mode);
}

extern "C" int stat64(const char* path, struct stat64* status) noexcept {
  static auto* const real =
      vesk::testing::next_definition<int(const char*, struct stat64*)>("stat64");
  const int result = real(path, status);
  after_call("stat64", path);
  return result;
}

namespace {

TEST(FileOps, RemovalNeverFollowsAnEntrySwappedBetweenCheckAndUse) {
  struct Row {
    const char* what;
    const char* call;     // the call after which the swap is made
    const char* watched;  // the entry that call is made on
    const char* swapped;  // the level of the tree that becomes a link to its mirror
  };
  const Row rows[] = {
      {"a directory between its check and its open", "fstatat", "victim", "a/b/victim"},
      {"an ancestor once the walk is inside", "openat", "victim", "a"},
  };
  for (const Row& row : rows) {
    ScratchDir dir;
    make_levels(dir / "tree", 3);
    make_levels(dir / "mirror", 3);
    const std::string swapped = dir / "tree/" + row.swapped;
    armed = {row.call, row.watched, [&] {
               ASSERT_EQ(rename(swapped.c_str(), (dir / "moved").c_str()), 0);
               ASSERT_EQ(symlink((dir / "mirror/" + row.swapped).c_str(), swapped.c_str()), 0);
             }};
    EXPECT_TRUE(vesk::remove_directory(dir / "tree")) << row.what;
    EXPECT_FALSE(armed.action) << row.what << ": never swapped";
    armed = {};
    EXPECT_EQ(kind_at(dir / "tree"), 0u) << row.what;
    EXPECT_EQ(files_missing(dir / "mirror", 3), 0) << row.what;
  }

  // remove_file: a directory put in the file's place after its check stays.
  ScratchDir dir;
  write_file(dir / "file");
  armed = {"stat64", "file", [&] {
             ASSERT_EQ(unlink((dir / "file").c_str()), 0);
             ASSERT_EQ(mkdir((dir / "file").c_str(), 0755), 0);
           }};
  EXPECT_FALSE(vesk::remove_file(dir / "file"));
  EXPECT_FALSE(armed.action) << "never swapped";
  armed = {};
  EXPECT_EQ(kind_at(dir / "file"), S_IFDIR);
}

TEST(FileOps, RemoveDirectoryRacingASwappingThreadLeavesTheOutsideAlone) {
  constexpr int kFiles = 300;
  // Every pair of a level the walk is seen inside and that level or an ancestor to swap.
  for (std::size_t reached = 0; reached < std::size(kLevels); ++reached) {
    for (std::size_t level = 0; level <= reached; ++level) {
      ScratchDir dir(vesk::testing::memory_scratch_parent());
      make_levels(dir / "tree", kFiles);
      make_levels(dir / "mirror", kFiles);
      const std::string swapped = dir / "tree/" + kLevels[level];
      // The swapper wakes when the walk removes the first entry of the level it watches.
      const int watch = inotify_init1(IN_CLOEXEC);
      ASSERT_GE(inotify_add_watch(watch, (dir / "tree/" + kLevels[reached]).c_str(), IN_DELETE),
                0);
      std::atomic<bool> done{false};
      std::thread swapper([&] {
        pollfd event{watch, POLLIN, 0};
        while (!done.load() && poll(&event, 1, 100) == 0) {
        }
        if (!done.load() && rename(swapped.c_str(), (dir / "moved").c_str()) == 0)
          symlink((dir / "mirror/" + kLevels[level]).c_str(), swapped.c_str());
      });
      try {
        vesk::remove_directory(dir / "tree");
      } catch (const boost::filesystem::filesystem_error&) {
        // A walk that gives up on an entry changing under it has still not left the tree.
      }
      done = true;
      swapper.join();
      close(watch);
      EXPECT_EQ(files_missing(dir / "mirror", kFiles), 0) << kLevels[reached] << ", "
                                                           << kLevels[level];
    }
  }
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
