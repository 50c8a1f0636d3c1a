// Blocks of the library's own tables: what their memory reads once it is given back.
#include "util/base/mapped_memory.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// A block starts on a cache line. Once its pages are given back it stays readable and reads
// as zero bytes, so that a reader still inside it finds free slots; a block of the allocator
// keeps what it held.
TEST(MappedMemory, GivenBackBlocksReadAsZeroSmallOnesAsTheyWere) {
  struct Row {
    std::size_t bytes;
    bool readsZero;
  };
  const Row rows[] = {
      {576, false},  // the first slots of a record index, from the allocator
      {2089, false},
      {4096, false},
      {std::size_t{1} << 20, true},  // mapped pages
      {(std::size_t{4} << 20) + 100, true}  // huge pages, and a page not whole
  };
  for (const Row& row : rows) {
    auto* bytes = static_cast<unsigned char*>(vesk::detail::map_zeroed(row.bytes));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % 64, 0u) << row.bytes;
    std::memset(bytes, 0xAB, row.bytes);
    vesk::detail::release_pages(bytes, row.bytes);
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < row.bytes; ++i)
      nonzero += bytes[i] != 0 ? 1 : 0;
    EXPECT_EQ(nonzero, row.readsZero ? 0 : row.bytes) << row.bytes;
    vesk::detail::unmap(bytes, row.bytes);
  }
}

}  // namespace
