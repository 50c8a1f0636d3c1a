// Removal of a directory tree through descriptors (DescriptorWalk): each directory is opened
// relative to its parent with O_NOFOLLOW and checked by device and inode, listed and emptied
// with unlinkat; no path is ever rebuilt to act on an entry.
#include "util/file/tree_removal.hpp"

#include "util/file/descriptor_walk.hpp"
#include "util/file/filesystem_error.hpp"
#include "util/file/open_file.hpp"

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

// A depth-first walk with an explicit stack (see DescriptorWalk), so that depth is bounded by
// memory only.
class TreeWalk {
public:
  // `parent` holds the top directory under the name `leaf`; `path` names the top in reports.
  TreeWalk(int parent, const char* leaf, std::string path)
      : mParent(parent), mLeaf(leaf), mWalk(std::move(path)) {}

  void run() {
    if (!examine(mParent, mLeaf, DT_UNKNOWN))
      return;
    while (mWalk.depth() > 0) {
      DIR* stream = mWalk.deepest();
      errno = 0;
      if (const dirent* entry = readdir(stream)) {
        if (!dot_or_dot_dot(entry->d_name))
          examine(dirfd(stream), entry->d_name, entry->d_type);
      } else if (errno != 0) {
        raise_filesystem_error(kRead, mWalk.path(), errno);
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
    const bool top = mWalk.depth() == 0;
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
      const int fd = mWalk.openDirectory(dir, name);
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
      if (const int error = mWalk.enter(fd, identity, name))
        raise(kOpen, name, error);
      return true;
    }
  }

  // A link at the top is removed as a link when it points to a directory; its target stays.
  void removeTopLink(const char* name) {
    if (!fs::is_directory(fs::status(fs::path(mWalk.path()))))
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

  // The deepest level has been listed to its end: it goes from its parent, or is listed again
  // when entries remain.
  void leave() {
    const bool top = mWalk.depth() == 1;
    int parent = mParent;
    if (!top) {
      DIR* above = mWalk.reopen(mWalk.depth() - 2);
      if (above == nullptr)
        raise_filesystem_error(kOpen, mWalk.pathOf(mWalk.depth() - 2), errno);
      parent = dirfd(above);
    }
    const char* name = top ? mLeaf : mWalk.deepestName();
    if (unlinkat(parent, name, AT_REMOVEDIR) != 0) {
      const int error = errno;
      if ((error == ENOTEMPTY || error == EEXIST) && mWalk.passes() + 1 < kPasses) {
        mWalk.relist();
        return;
      }
      if (error == ENOTDIR && !top) {
        // The directory was moved away during the walk and something else has its name in
        // the level above, inside the tree: that is examined as any entry.
        const std::string taken(name);
        mWalk.pop();
        examine(parent, taken.c_str(), DT_UNKNOWN);
        return;
      }
      if (error != ENOENT)
        raise_filesystem_error(kRemove, mWalk.path(), error);
    }
    mWalk.pop();
  }

  [[noreturn]] void raise(const char* operation, const char* name, int error) const {
    if (mWalk.depth() == 0)
      raise_filesystem_error(operation, mWalk.path(), error);
    std::string path = mWalk.path();
    if (path.empty() || path.back() != '/')
      path += '/';
    raise_filesystem_error(operation, path + name, error);
  }

  const int mParent;
  const char* const mLeaf;
  DescriptorWalk mWalk;
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
  const int parent_fd = open_file(AT_FDCWD, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
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
