// md5_file: the MD5 of a file's contents, read in large blocks straight into the engine.
#include "vesk/hash.hpp"

#include "util/file/filesystem_error.hpp"
#include "util/file/open_file.hpp"
#include "util/file/path_form.hpp"

#include <fcntl.h>
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

}  // namespace

void md5_file(const std::string& path, unsigned int* digest) {
  const std::string name = detail::generic_path(path);
  const int fd = detail::open_file(AT_FDCWD, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    detail::raise_filesystem_error(kOperation, name, errno);
  const Descriptor file{fd};
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const std::unique_ptr<unsigned char, HostBlock> block(
      static_cast<unsigned char*>(vesk_malloc(kBlock)));
  if (block == nullptr)
    throw std::bad_alloc();
  MD5 engine;
  for (;;) {
    const ssize_t got = read(fd, block.get(), kBlock);
    if (got > 0)
      engine.addBytes(block.get(), block.get() + got);
    else if (got == 0)
      break;
    else if (errno != EINTR)
      detail::raise_filesystem_error(kOperation, name, errno);
  }
  engine.hashIt(digest);
}

}  // namespace vesk
