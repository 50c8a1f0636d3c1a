// Opening a file the way every file function of the library does.
#ifndef VESK_UTIL_FILE_OPEN_FILE_HPP
#define VESK_UTIL_FILE_OPEN_FILE_HPP

#include <fcntl.h>

#include <cerrno>

namespace vesk::detail {

/// openat(dir, name, flags), made again when a signal interrupts it (EINTR), which leaves
/// nothing done. Returns the descriptor, or -1 and errno. `flags` take no mode (no O_CREAT).
inline int open_file(int dir, const char* name, int flags) {
  int fd;
  do
    fd = openat(dir, name, flags);
  while (fd < 0 && errno == EINTR);
  return fd;
}

/// open_file for reading the directory `name`: fails with ENOTDIR for anything else, without
/// waiting for a pipe's writer.
inline int open_directory(int dir, const char* name) {
  return open_file(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace vesk::detail

#endif
