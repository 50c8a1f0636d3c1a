// The C library's calloc and mmap for a test program linked with --wrap for both (see
// vesk_add_test's SYSTEM_MEMORY), failing where system_allocation_fails says, and the
// program's operator new, failing while standard_allocation_fails is set.
#include "support/system_memory.hpp"

#include <sys/mman.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace vesk::testing {
bool (*system_allocation_fails)(const char* call) = nullptr;
bool standard_allocation_fails = false;
}  // namespace vesk::testing

void* operator new(std::size_t size) {
  void* block = vesk::testing::standard_allocation_fails ? nullptr
                                                         : std::malloc(size != 0 ? size : 1);
  if (block == nullptr)
    throw std::bad_alloc();
  return block;
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {
bool fails(const char* call) {
  return vesk::testing::system_allocation_fails != nullptr &&
         vesk::testing::system_allocation_fails(call);
}
}  // namespace

extern "C" void* __real_calloc(std::size_t count, std::size_t size);
extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
  if (fails("calloc")) {
    errno = ENOMEM;
    return nullptr;
  }
  return __real_calloc(count, size);
}

extern "C" void* __real_mmap(void* address, std::size_t length, int protection, int flags, int fd,
                             off_t offset);
extern "C" void* __wrap_mmap(void* address, std::size_t length, int protection, int flags, int fd,
                             off_t offset) {
  if ((flags & MAP_ANONYMOUS) != 0 && fails("mmap")) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  return __real_mmap(address, length, protection, flags, fd, offset);
}
