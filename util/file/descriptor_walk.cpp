// The stack of open directories of a depth-first walk through descriptors.
#include "util/file/descriptor_walk.hpp"

#include "util/file/open_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vesk::detail {

DescriptorWalk::~DescriptorWalk() {
  for (const Level& level : mLevels)
    if (level.stream != nullptr)
      closedir(level.stream);
}

int DescriptorWalk::openDirectory(int dir, const char* name) {
  for (;;) {
    const int fd = open_file(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || !shed())
      return fd;
  }
}

int DescriptorWalk::enter(int fd, const Identity& identity, const char* name) {
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
    return error;
  }
  // The stream is the walk's from here on, whatever the path's growth throws.
  const bool top = mLevels.empty();
  mLevels.push_back(Level{stream, 0, identity, mPath.size(), mPath.size(), 0, 0});
  if (!top) {
    if (!mPath.empty() && mPath.back() != '/')
      mPath += '/';
    mLevels.back().nameBegin = mPath.size();
    mPath += name;
  }
  if (mLevels.size() + 1 - mFirstOpen > kOpenLevels)
    shed();
  return 0;
}

void DescriptorWalk::pop() {
  if (mLevels.back().stream != nullptr)
    closedir(mLevels.back().stream);
  mPath.resize(mLevels.back().parentPathSize);
  mLevels.pop_back();
  mFirstOpen = std::min(mFirstOpen, std::max<std::size_t>(mLevels.size(), 1));
}

DIR* DescriptorWalk::reopen(std::size_t index) {
  Level& level = mLevels[index];
  if (level.stream != nullptr)
    return level.stream;
  if (level.lost != 0) {
    errno = level.lost;
    return nullptr;
  }
  const int fd = openDirectory(dirfd(mLevels[index + 1].stream), "..");
  struct stat status;
  int error = fd < 0 || fstat(fd, &status) != 0                          ? errno
              : Identity{status.st_dev, status.st_ino} == level.identity ? 0
                                                                         : ENOENT;
  DIR* stream = nullptr;
  if (error == 0) {
    stream = fdopendir(fd);
    error = errno;
  }
  if (stream == nullptr) {
    if (fd >= 0)
      close(fd);
    if (error == 0)
      error = EBADF;
    for (std::size_t above = 1; above <= index; ++above)
      if (mLevels[above].stream == nullptr && mLevels[above].lost == 0)
        mLevels[above].lost = error;
    errno = error;
    return nullptr;
  }
  level.stream = stream;
  seekdir(level.stream, level.position);
  mFirstOpen = index;
  return level.stream;
}

bool DescriptorWalk::shed() {
  if (mFirstOpen + 1 >= mLevels.size())
    return false;
  Level& level = mLevels[mFirstOpen];
  level.position = telldir(level.stream);
  closedir(level.stream);
  level.stream = nullptr;
  ++mFirstOpen;
  return true;
}

}  // namespace vesk::detail
