// md5_file: the MD5 of a file's contents, read in large blocks straight into the engine.
#include "vesk/hash.hpp"

#include "util/file/filesystem_error.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>

namespace vesk {

namespace {

// Large enough that a read costs little next to the hashing of its bytes, small enough to stay
// in the processor's second-level cache while they are hashed.
constexpr unsigned int kBlock = 128 * 1024;

constexpr char kOperation[] = "vesk::md5_file";

struct Descriptor {
  int fd;
  ~Descriptor() { close(fd); }
};

struct HostBlock {
  void operator()(unsigned char* block) const { vesk_free(block); }
};

// A regular file or a block device: its open and reads end by themselves, so a signal that
// interrupts them is only a reason to make them again. Anything else (a pipe nobody writes, a
// terminal) may wait for ever, and a caller who set a time limit with a signal must see it end.
bool ends_by_itself(mode_t mode) { return S_ISREG(mode) || S_ISBLK(mode); }

// Opens `path` for reading, exactly as named. Returns the descriptor, or -1 and errno.
int open_for_reading(const char* path) {
  for (;;) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR)
      return fd;
    // The open is made again only when what it waited for ends by itself.
    struct stat status;
    if (stat(path, &status) != 0 || !ends_by_itself(status.st_mode)) {
      errno = EINTR;
      return -1;
    }
  }
}

// Whether a read of `fd` that a signal interrupted is made again: only for a file whose reads
// end by themselves. The file's kind is asked for then, not before every read of every file:
// without it, the interruption is the caller's, as for a pipe. Leaves errno as it was.
bool read_again(int fd) {
  const int interrupted = errno;
  struct stat status;
  const bool again = fstat(fd, &status) == 0 && ends_by_itself(status.st_mode);
  errno = interrupted;
  return again;
}

}  // namespace

void md5_file(const std::string& path, unsigned int* digest) {
  // No file has a name with a NUL in it; the system would read the name up to the NUL and so
  // digest another file.
  if (path.find('\0') != std::string::npos)
    detail::raise_filesystem_error(kOperation, path, EINVAL);
  const int fd = open_for_reading(path.c_str());
  if (fd < 0)
    detail::raise_filesystem_error(kOperation, path, errno);
  const Descriptor file{fd};
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const std::unique_ptr<unsigned char, HostBlock> block(
      static_cast<unsigned char*>(vesk_malloc(kBlock)));
  if (block == nullptr)
    throw std::bad_alloc();
  MD5 engine;
  for (;;) {
    // A short read is not the end: a pipe hands over what its writer has written so far.
    const ssize_t got = read(fd, block.get(), kBlock);
    if (got > 0)
      engine.addBytes(block.get(), block.get() + got);
    else if (got == 0)
      break;
    else if (errno != EINTR || !read_again(fd))
      detail::raise_filesystem_error(kOperation, path, errno);
  }
  engine.hashIt(digest);
}

Md5Digest md5_file(const std::string& path) {
  Md5Digest digest;
  md5_file(path, digest.words);
  return digest;
}

}  // namespace vesk
