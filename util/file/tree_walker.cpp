// TreeWalker: every entry under a directory, reached through descriptors (DescriptorWalk).
#include "vesk/file.hpp"

#include "util/file/descriptor_walk.hpp"
#include "util/file/entry_type.hpp"
#include "util/file/open_file.hpp"
#include "util/file/path_form.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace vesk {

// The walk's state lives in host memory, like every object the library creates for itself.
class TreeWalkerData : public AllocatorBase {
public:
  TreeWalkerData() : walk("") {}
  ~TreeWalkerData() {
    if (pending >= 0)
      close(pending);
  }
  TreeWalkerData(const TreeWalkerData&) = delete;
  TreeWalkerData& operator=(const TreeWalkerData&) = delete;

  // Finds the next entry, leaving every level listed to its end.
  void step();
  // Makes entry `name` of the deepest level, of kind `kind`, the current entry.
  void report(const char* name, EntryType kind, int failure);
  // Makes the directory at `where` the current entry once more, with the error `failure`.
  void reportDirectory(std::string where, int failure);

  detail::DescriptorWalk walk;  // paths relative to the top
  std::string top;  // the directory walked, as opened
  bool open = false;
  bool available = false;
  std::string path;
  EntryType type = EntryType::unknown;
  int error = 0;
  // The current directory entry, opened before it is reported so that a failure to open it
  // is reported with it; entered on advance.
  int pending = -1;
  detail::Identity pendingIdentity{};
  std::string pendingName;
};

void TreeWalkerData::report(const char* name, EntryType kind, int failure) {
  path = walk.path();
  if (!path.empty())
    path += '/';
  path += name;
  type = kind;
  error = failure;
  available = true;
}

void TreeWalkerData::reportDirectory(std::string where, int failure) {
  path = std::move(where);
  type = EntryType::directory;
  error = failure;
  available = true;
}

void TreeWalkerData::step() {
  while (walk.depth() > 0) {
    if (const int lost = walk.lost()) {
      // A level that could not be opened again is left unread, reported with the reason.
      std::string where = walk.path();
      walk.pop();
      reportDirectory(std::move(where), lost);
      return;
    }
    DIR* stream = walk.deepest();
    errno = 0;
    const dirent* entry = readdir(stream);
    if (entry == nullptr) {
      const int failure = errno;
      std::string listed = walk.path();
      // The level above, if shed to spare descriptors, is opened again through this one before
      // it goes; when that fails, it and the shed levels above it are lost, and each is
      // reported as the walk comes back to it.
      if (walk.depth() > 1)
        walk.reopen(walk.depth() - 2);
      walk.pop();
      if (failure != 0 && walk.depth() == 0) {
        // The directory walked is no entry of its own: the walk ends, error() saying why.
        available = false;
        path.clear();
        type = EntryType::unknown;
        error = failure;
        return;
      }
      if (failure != 0) {
        // Reported as the directory once more, with the error; the entries read before it
        // stand.
        reportDirectory(std::move(listed), failure);
        return;
      }
      continue;
    }
    const char* name = entry->d_name;
    if (detail::dot_or_dot_dot(name))
      continue;
    const int dir = dirfd(stream);
    const EntryType kind = detail::entry_type(dir, name, entry->d_type);
    if (kind != EntryType::directory) {
      report(name, kind, 0);
      return;
    }
    const int fd = walk.openDirectory(dir, name);
    if (fd < 0) {
      const int failure = errno;
      if (failure == ENOENT || failure == ELOOP || failure == ENOTDIR) {
        // Changed since it was listed: left out when gone, reported as what took its place
        // when that is no directory; a directory still there is reported with the error.
        const EntryType now = detail::entry_type(dir, name, DT_UNKNOWN);
        if (now == EntryType::unknown && failure == ENOENT)
          continue;
        report(name, now, now == EntryType::directory ? failure : 0);
        return;
      }
      report(name, kind, failure);
      return;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
      const int failure = errno;
      close(fd);
      report(name, kind, failure);
      return;
    }
    pending = fd;
    pendingIdentity = detail::Identity{status.st_dev, status.st_ino};
    pendingName = name;
    report(name, kind, 0);
    return;
  }
  available = false;
  path.clear();
  type = EntryType::unknown;
  error = 0;
}

TreeWalker::TreeWalker(const std::string& directory) : mData(new TreeWalkerData) {
  if (mData == nullptr)
    return;
  // Only the text before a NUL names the directory, as for every file function.
  if (directory.empty() || directory.front() == '\0') {
    // Nobody means the whole file system by an empty name; "/" says so.
    mData->error = EINVAL;
    return;
  }
  try {
    mData->top = detail::native_directory(directory);
    start(mData->top);
  } catch (...) {
    delete mData;  // no destructor runs for a constructor that throws
    throw;
  }
}

void TreeWalker::start(const std::string& directory) {
  TreeWalkerData& state = *mData;
  const int fd = detail::open_directory(AT_FDCWD, directory.c_str());
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) {
    state.error = errno;
    if (fd >= 0)
      close(fd);
    return;
  }
  if (const int failure =
          state.walk.enter(fd, detail::Identity{status.st_dev, status.st_ino}, "")) {
    state.error = failure;
    return;
  }
  state.open = true;
  state.step();
}

TreeWalker::~TreeWalker() { delete mData; }

bool TreeWalker::open() const { return mData != nullptr && mData->open; }

bool TreeWalker::available() const { return mData != nullptr && mData->available; }

const std::string& TreeWalker::path() const {
  static const std::string kNone;
  return available() ? mData->path : kNone;
}

std::string TreeWalker::fullPath() const {
  if (!available())
    return std::string();
  const std::string& top = mData->top;
  return top.back() == '/' ? top + mData->path : top + '/' + mData->path;
}

EntryType TreeWalker::type() const { return available() ? mData->type : EntryType::unknown; }

int TreeWalker::error() const { return mData != nullptr ? mData->error : ENOMEM; }

void TreeWalker::advance() {
  if (!available())
    return;
  TreeWalkerData& state = *mData;
  state.available = false;
  if (state.pending >= 0) {
    const int fd = state.pending;
    state.pending = -1;
    if (const int failure =
            state.walk.enter(fd, state.pendingIdentity, state.pendingName.c_str())) {
      state.error = failure;  // reported with the directory once more
      state.available = true;
      return;
    }
  }
  state.step();
}

}  // namespace vesk
