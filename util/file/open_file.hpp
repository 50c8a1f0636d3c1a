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

}  // namespace vesk::detail

#endif
