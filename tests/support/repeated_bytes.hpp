// Test support: messages of gigabytes in address space, backed by the memory of one block.
#ifndef VESK_TESTS_SUPPORT_REPEATED_BYTES_HPP
#define VESK_TESTS_SUPPORT_REPEATED_BYTES_HPP

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace vesk::testing {

/// `count` copies of `block` (its size a multiple of the page size) one after another, then a
/// page of zeros; all copies share the memory of one. Null when the system refuses the
/// mappings. Release with release_repeated(bytes, block.size(), count).
inline const unsigned char* repeated_bytes(const std::string& block, std::size_t count) {
  const std::size_t size = block.size() * count + sysconf(_SC_PAGESIZE);
  auto* base = static_cast<unsigned char*>(
      mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  const int fd = memfd_create("repeated", 0);
  bool mapped = base != MAP_FAILED && fd >= 0 &&
                write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
  for (std::size_t k = 0; mapped && k < count; ++k)
    mapped = mmap(base + k * block.size(), block.size(), PROT_READ, MAP_SHARED | MAP_FIXED, fd,
                  0) != MAP_FAILED;
  if (fd >= 0)
    close(fd);
  if (!mapped && base != MAP_FAILED)
    munmap(base, size);
  return mapped ? base : nullptr;
}

/// Releases what repeated_bytes(block, count) returned, with block.size() given as `block`.
inline void release_repeated(const unsigned char* bytes, std::size_t block, std::size_t count) {
  munmap(const_cast<unsigned char*>(bytes), block * count + sysconf(_SC_PAGESIZE));
}

}  // namespace vesk::testing

#endif
