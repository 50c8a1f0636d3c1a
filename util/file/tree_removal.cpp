// Removal of a directory tree through descriptors: each directory is opened relative to its
// parent with O_NOFOLLOW and checked by device and inode, listed with fdopendir and emptied with
// unlinkat; no path is ever rebuilt to act on an entry.
#include "util/file/tree_removal.hpp"

#include "util/file/filesystem_error.hpp"

#include <boost/filesystem.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vesk::detail {

namespace fs = boost::filesystem;

namespace {

// The dependency's names for the operations whose failures the walk reports, so that callers
// see the same errors as from a walk through the dependency.
constexpr char kStatus[] = "boost::filesystem::symlink_status";
constexpr char kOpen[] = "boost::filesystem::directory_iterator::construct";
constexpr char kRead[] = "boost::filesystem::directory_iterator::operator++";
constexpr char kRemove[] = "boost::filesystem::remove";

// How often an entry that changes kind or identity between its check and its use is examined
// again before the walk gives up on it.
constexpr int kAttempts = 4;
// How often a directory that still holds entries when it is to go is listed again: entries
// made during the walk, or skipped by a file system whose listing shifts as entries go.
constexpr int kPasses = 3;
// Directory streams held at once, the deepest levels'; a shallower level is opened again
// through ".." of its child when the walk comes back to it.
constexpr std::size_t kOpenLevels = 16;

struct Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const Identity& other) const {
    return device == other.device && inode == other.inode;
  }
};

// One directory on the way from the top to the deepest level being listed.
struct Level {
  DIR* stream;  // null while closed to spare descriptors
  Identity identity;
  std::size_t parent_path_size;  // the walk's path up to the level above
  std::size_t name_begin;        // where this level's own name starts in the walk's path
  int passes;
};

bool dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A depth-first walk with an explicit stack, so that depth is bounded by memory only. The path
// of the deepest level is kept for error reports alone: the system calls act on names relative
// to descriptors.
class TreeWalk {
public:
  // `parent` holds the top directory under the name `leaf`; `path` names the top in reports.
  TreeWalk(int parent, const char* leaf, std::string path)
      : mParent(parent), mLeaf(leaf), mPath(std::move(path)) {}
  ~TreeWalk() {
    for (const Level& level : mLevels)
      if (level.stream != nullptr)
        closedir(level.stream);
  }
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;

  void run() {
    if (!examine(mParent, mLeaf, DT_UNKNOWN))
      return;
    while (!mLevels.empty()) {
      DIR* stream = mLevels.back().stream;
      errno = 0;
      if (const dirent* entry = readdir(stream)) {
        if (!dot_or_dot_dot(entry->d_name))
          examine(dirfd(stream), entry->d_name, entry->d_type);
      } else if (errno != 0) {
        raise_filesystem_error(kRead, mPath, errno);
      } else {
        leave();
      }
    }
  }

private:
  // Removes entry `name` of the directory `dir`, of the kind readdir gave (DT_UNKNOWN when
  // none), unless it is a directory; a directory is entered and becomes the deepest level
  // (true). At the top only a directory is removed, and a link to one.
  bool examine(int dir, const char* name, unsigned char type) {
    const bool top = mLevels.empty();
    for (int attempt = 1;; ++attempt) {
      const bool last = attempt == kAttempts;
      // readdir's type spares a status query for all but directories: unlinkat without
      // AT_REMOVEDIR never removes a directory, whatever the entry has become since.
      const bool other = !top && attempt == 1 && type != DT_UNKNOWN && type != DT_DIR;
      struct stat status;
      if (!other && fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
          return false;  // gone already
        raise(kStatus, name, errno);
      }
      if (top && !S_ISDIR(status.st_mode)) {
        if (S_ISLNK(status.st_mode))
          removeTopLink(name);
        return false;
      }
      if (other || !S_ISDIR(status.st_mode)) {
        if (unlinkat(dir, name, 0) == 0 || errno == ENOENT)
          return false;
        if (errno == EISDIR && !last)
          continue;  // a directory now, since it was listed
        raise(kRemove, name, errno);
      }
      const int fd = openDirectory(dir, name);
      if (fd < 0) {
        if (errno == ENOENT)
          return false;
        if ((errno == ELOOP || errno == ENOTDIR) && !last)
          continue;  // no longer a directory: a link or a file took its place
        raise(kOpen, name, errno);
      }
      struct statx opened;
      if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &opened) != 0) {
        const int error = errno;
        close(fd);
        raise(kOpen, name, error);
      }
      const Identity identity{makedev(opened.stx_dev_major, opened.stx_dev_minor),
                              opened.stx_ino};
      if (!(identity == Identity{status.st_dev, status.st_ino})) {
        // Another directory took the name between the check and the open.
        close(fd);
        if (!last)
          continue;
        raise(kOpen, name, EAGAIN);
      }
      if (top)
        mTopDevice = identity.device;
      if (mountRoot(opened, identity.device, top)) {
        // Another file system's content is not the tree's: the mount point is removed as an
        // empty directory would be, which the system refuses while it is mounted.
        close(fd);
        if (unlinkat(dir, name, AT_REMOVEDIR) == 0 || errno == ENOENT)
          return false;
        raise(kRemove, name, errno);
      }
      enter(fd, identity, name);
      return true;
    }
  }

  // A link at the top is removed as a link when it points to a directory; its target stays.
  void removeTopLink(const char* name) {
    if (!fs::is_directory(fs::status(fs::path(mPath))))
      return;
    // EISDIR: a directory has taken the link's place since; it is not removed unexamined.
    if (unlinkat(mParent, name, 0) != 0 && errno != ENOENT && errno != EISDIR)
      raise(kRemove, name, errno);
  }

  bool mountRoot(const struct statx& opened, dev_t device, bool top) const {
    if ((opened.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
      return (opened.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    // Kernels that do not report mount roots: another device is another file system.
    return !top && device != mTopDevice;
  }

  // Makes the directory open as `fd` the deepest level.
  void enter(int fd, const Identity& identity, const char* name) {
    try {
      if (mLevels.size() == mLevels.capacity())
        mLevels.reserve(2 * mLevels.size() + 16);
    } catch (...) {
      close(fd);
      throw;
    }
    DIR* stream = fdopendir(fd);
    if (stream == nullptr) {
      const int error = errno;
      close(fd);
      raise(kOpen, name, error);
    }
    // The stream is the walk's from here on, whatever the path's growth throws.
    const bool top = mLevels.empty();
    mLevels.push_back(Level{stream, identity, mPath.size(), mPath.size(), 0});
    if (!top) {
      if (mPath.empty() || mPath.back() != '/')
        mPath += '/';
      mLevels.back().name_begin = mPath.size();
      mPath += name;
    }
    if (mLevels.size() - mFirstOpen > kOpenLevels)
      shed();
  }

  // The deepest level has been listed to its end: it goes from its parent, or is listed again
  // when entries remain.
  void leave() {
    const bool top = mLevels.size() == 1;
    const int parent = top ? mParent : dirfd(reopen(mLevels.size() - 2));
    Level& level = mLevels.back();
    const char* name = top ? mLeaf : mPath.c_str() + level.name_begin;
    if (unlinkat(parent, name, AT_REMOVEDIR) != 0) {
      const int error = errno;
      if ((error == ENOTEMPTY || error == EEXIST) && ++level.passes < kPasses) {
        rewinddir(level.stream);
        return;
      }
      if (error == ENOTDIR && !top) {
        // The directory was moved away during the walk and something else has its name in
        // the level above, inside the tree: that is examined as any entry.
        const std::string taken(name);
        pop();
        examine(parent, taken.c_str(), DT_UNKNOWN);
        return;
      }
      if (error != ENOENT)
        raise_filesystem_error(kRemove, mPath, error);
    }
    pop();
  }

  void pop() {
    closedir(mLevels.back().stream);
    mPath.resize(mLevels.back().parent_path_size);
    mLevels.pop_back();
    if (mLevels.empty())
      mFirstOpen = 0;
  }

  // The stream of level `index`, opened again through ".." of the level below when it was
  // closed; the directory found there must be the one left, or the tree has been moved.
  DIR* reopen(std::size_t index) {
    Level& level = mLevels[index];
    if (level.stream != nullptr)
      return level.stream;
    const int fd = openDirectory(dirfd(mLevels[index + 1].stream), "..");
    struct stat status;
    int error = fd < 0 || fstat(fd, &status) != 0 ? errno
                : Identity{status.st_dev, status.st_ino} == level.identity ? 0
                                                                            : ENOENT;
    if (error == 0) {
      level.stream = fdopendir(fd);
      error = level.stream == nullptr ? errno : 0;
    }
    if (error != 0) {
      if (fd >= 0)
        close(fd);
      raise_filesystem_error(kOpen, mPath.substr(0, mLevels[index + 1].parent_path_size), error);
    }
    mFirstOpen = index;
    return level.stream;
  }

  // Opens a directory to list it; when the process is out of descriptors, the shallowest open
  // level gives its own back and the open is tried again.
  int openDirectory(int dir, const char* name) {
    for (;;) {
      const int fd = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || !shed())
        return fd;
    }
  }

  // Closes the shallowest open stream, never the deepest level's, which is being listed.
  bool shed() {
    if (mLevels.size() < 2 || mFirstOpen >= mLevels.size() - 1)
      return false;
    closedir(mLevels[mFirstOpen].stream);
    mLevels[mFirstOpen].stream = nullptr;
    ++mFirstOpen;
    return true;
  }

  [[noreturn]] void raise(const char* operation, const char* name, int error) const {
    if (mLevels.empty())
      raise_filesystem_error(operation, mPath, error);
    std::string path = mPath;
    if (path.empty() || path.back() != '/')
      path += '/';
    raise_filesystem_error(operation, path + name, error);
  }

  const int mParent;
  const char* const mLeaf;
  std::string mPath;
  std::vector<Level> mLevels;
  std::size_t mFirstOpen = 0;  // levels below this index have their streams closed
  dev_t mTopDevice = 0;
};

}  // namespace

void remove_tree(const std::string& path) {
  std::string::size_type end = path.size();
  while (end > 0 && path[end - 1] == '/')
    --end;
  const std::string entry = path.substr(0, end);
  const std::string::size_type slash = entry.rfind('/');
  const std::string leaf = slash == std::string::npos ? entry : entry.substr(slash + 1);
  // "." and ".." name the directory of the entry before them or its parent, never an entry
  // of their own, and rm refuses them too; an empty last element is the root or no path.
  if (leaf.empty() || leaf == "." || leaf == "..")
    return;
  const std::string parent =
      slash == std::string::npos ? "." : entry.substr(0, slash == 0 ? 1 : slash);
  // O_PATH needs no permission to read the parent, only to reach it, as a removal by path.
  const int parent_fd = open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (parent_fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      return;
    raise_filesystem_error(kStatus, path, errno);
  }
  try {
    TreeWalk(parent_fd, leaf.c_str(), path).run();
  } catch (...) {
    close(parent_fd);
    throw;
  }
  close(parent_fd);
}

}  // namespace vesk::detail
