// Zero-filled blocks of the library's own tables: calloc for small ones, anonymous pages of
// the system for large ones.
#include "util/base/mapped_memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vesk::detail {

// Blocks of this many bytes and more are mapped from the system on their own: a zero page
// becomes resident only once written, so counts of buckets that stay empty (all but one when
// an input gives its texts one hash) take no memory, and an outgrown block goes back to the
// system at once instead of staying in the allocator's free lists, whatever their state.
constexpr std::size_t kMappedBytes = std::size_t{128} * 1024;

// Every block starts on a cache line, so that what a table lays out line by line (a group of
// the record index) is read with one line; mappings start on a page.
constexpr std::size_t kLineBytes = 64;

// Mappings of this size and more are aligned to it and offered huge pages: a lookup in an
// index of millions of slots then misses no address translation.
constexpr std::size_t kHugePageBytes = std::size_t{2} * 1024 * 1024;

namespace {

std::size_t page_rounded(std::size_t bytes) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

}  // namespace

void* map_zeroed(std::size_t bytes) {
  if (bytes < kMappedBytes) {
    // calloc rather than a zero-filled new[]: the block is not written twice. calloc aligns
    // to 16 bytes only: a line more is taken, and the start moved up to a line's boundary
    // past room for the block's own address, which unmap frees. From calloc's boundary the
    // start moves up by at most a line.
    void* block = std::calloc(bytes + kLineBytes, 1);
    if (block == nullptr)
      throw std::bad_alloc();
    char* const past_address = static_cast<char*>(block) + sizeof block;
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(past_address) % kLineBytes;
    char* const start = past_address + (kLineBytes - misalignment) % kLineBytes;
    std::memcpy(start - sizeof block, &block, sizeof block);
    return start;
  }
  const std::size_t length = page_rounded(bytes);
  const std::size_t slack = length >= kHugePageBytes ? kHugePageBytes : 0;
  void* mapped =
      mmap(nullptr, length + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED)
    throw std::bad_alloc();
  if (slack == 0)
    return mapped;
  // The mapping, cut down to `length` bytes from a huge-page boundary.
  char* const base = static_cast<char*>(mapped);
  const std::size_t lead = (slack - reinterpret_cast<std::uintptr_t>(base) % slack) % slack;
  char* const aligned = base + lead;
  if (lead != 0)
    munmap(base, lead);
  munmap(aligned + length, slack - lead);
  madvise(aligned, length, MADV_HUGEPAGE);
  return aligned;
}

void release_pages(void* block, std::size_t bytes) {
  if (bytes < kMappedBytes)
    return;
  // Neither call can leave a hole where a reader would fault: the pages are dropped (to be
  // read as zero pages from then on), and made read-only so that the system no longer counts
  // them as memory the process may write. Should either fail, the block simply stays.
  const std::size_t length = page_rounded(bytes);
  madvise(block, length, MADV_DONTNEED);
  mprotect(block, length, PROT_READ);
}

void unmap(void* block, std::size_t bytes) {
  if (block == nullptr)
    return;
  if (bytes < kMappedBytes) {
    void* allocated = nullptr;
    std::memcpy(&allocated, static_cast<char*>(block) - sizeof allocated, sizeof allocated);
    std::free(allocated);
  } else
    munmap(block, page_rounded(bytes));
}

}  // namespace vesk::detail
