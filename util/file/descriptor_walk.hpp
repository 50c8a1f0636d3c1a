// The stack of open directories of a depth-first walk through descriptors: each level is opened
// relative to the one above it, so no path is rebuilt to reach an entry, and only the deepest
// levels hold descriptors.
#ifndef VESK_UTIL_FILE_DESCRIPTOR_WALK_HPP
#define VESK_UTIL_FILE_DESCRIPTOR_WALK_HPP

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vesk::detail {

/// True for the names "." and "..", which every listing holds and no walk enters.
inline bool dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

/// A file by its device and inode.
struct Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const Identity& other) const {
    return device == other.device && inode == other.inode;
  }
};

/// The open directories from the top of a walk to its deepest level, and the path of that
/// level (kept for reports and for callers' relative paths; the system calls act on names
/// relative to descriptors). At most kOpenLevels streams are held: the top's, which stays open
/// so that the walk can always go on there, and those of the deepest levels, fewer when the
/// process runs short of descriptors. A level in between is opened again through ".." of the
/// level below it, checked by identity, when the walk comes back to it, and read on from where
/// it was. When that fails (the level was moved out of the tree, its permissions went, no
/// descriptor was free), it and every closed level above it are lost: each is left with the
/// error, unread, as the walk comes back to it.
class DescriptorWalk {
public:
  /// Streams held at once.
  static constexpr std::size_t kOpenLevels = 16;

  /// An empty walk whose top is reported as `path`.
  explicit DescriptorWalk(std::string path) : mPath(std::move(path)) {}
  /// Closes every stream still open.
  ~DescriptorWalk();
  DescriptorWalk(const DescriptorWalk&) = delete;
  DescriptorWalk& operator=(const DescriptorWalk&) = delete;

  /// The number of levels entered and not yet left.
  std::size_t depth() const { return mLevels.size(); }
  /// The stream of the deepest level: open unless the level is lost(). Precondition:
  /// depth() > 0.
  DIR* deepest() const { return mLevels.back().stream; }
  /// The error number why the deepest level can no longer be read (see reopen()), else 0.
  /// Precondition: depth() > 0.
  int lost() const { return mLevels.back().lost; }
  /// How often the deepest level has been listed again (see relist()).
  int passes() const { return mLevels.back().passes; }
  /// Lists the deepest level again from its first entry.
  void relist() {
    ++mLevels.back().passes;
    rewinddir(mLevels.back().stream);
  }
  /// The path of the deepest level: the top's as given, then the names entered, '/' between
  /// (none after an empty top: the names relative to it).
  const std::string& path() const { return mPath; }
  /// The deepest level's own name within path() (the top's is all of it).
  const char* deepestName() const { return mPath.c_str() + mLevels.back().nameBegin; }

  /// Opens directory `name` of the directory open as `dir` to list it (O_NOFOLLOW, so a link
  /// fails with ELOOP); when the process is out of descriptors, the shallowest open level
  /// gives its own back and the open is tried again, as it is after a signal (EINTR). Returns
  /// the descriptor, or -1 and errno.
  int openDirectory(int dir, const char* name);
  /// Makes the directory open as `fd`, of identity `identity` and named `name` in the level
  /// above, the deepest level. Returns 0, or an error number after closing `fd`.
  /// Throws std::bad_alloc, `fd` closed.
  int enter(int fd, const Identity& identity, const char* name);
  /// Leaves the deepest level, closing its stream if it has one.
  void pop();
  /// The stream of level `index` (0 the top), opened again through ".." of the level below,
  /// which must be open, when it was closed, and read on from where it was. Null with errno
  /// when that fails or finds another directory (ENOENT: the tree was moved); then that level
  /// and every closed one above it are lost() with that error, since each is reached only
  /// through the one below it.
  DIR* reopen(std::size_t index);
  /// The path of level `index` (0 the top).
  std::string pathOf(std::size_t index) const {
    return index + 1 < mLevels.size() ? mPath.substr(0, mLevels[index + 1].parentPathSize) : mPath;
  }

private:
  struct Level {
    DIR* stream;  // null while closed to spare descriptors
    long position;  // where its listing was when it was closed
    Identity identity;  // checked when it is opened again
    std::size_t parentPathSize;
    std::size_t nameBegin;
    int passes;
    int lost;  // why it can no longer be opened again; its stream stays null
  };

  // Closes the shallowest open stream but the top's, never the deepest level's, which is
  // being listed.
  bool shed();

  std::string mPath;
  std::vector<Level> mLevels;
  std::size_t mFirstOpen = 1;  // levels from 1 to below this index have their streams closed
};

}  // namespace vesk::detail

#endif
