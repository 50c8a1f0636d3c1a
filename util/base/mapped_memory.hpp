// Zero-filled blocks of the library's own tables, taken from the system rather than the host.
#ifndef VESK_UTIL_BASE_MAPPED_MEMORY_HPP
#define VESK_UTIL_BASE_MAPPED_MEMORY_HPP

#include <cstddef>

namespace vesk::detail {

/// `bytes` zero bytes starting on a cache line (64 bytes); from the system's own pages from
/// 128 KiB on, so that only the pages written become resident, from calloc below that.
/// Throws std::bad_alloc.
void* map_zeroed(std::size_t bytes);
/// Gives the memory of a block of map_zeroed(`bytes`) back to the system while its addresses
/// stay readable: from then on it reads as zero bytes, and it must not be written. A block
/// under 128 KiB, which comes from the allocator, is left as it is. unmap still releases it.
void release_pages(void* block, std::size_t bytes);
/// Releases a block of map_zeroed(`bytes`); null is ignored.
void unmap(void* block, std::size_t bytes);

}  // namespace vesk::detail

#endif
