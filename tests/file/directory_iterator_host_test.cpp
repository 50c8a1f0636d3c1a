// DirectoryIterator's state comes from the host allocator, and an exhausted host leaves an
// iterator that was never started instead of a crash.
#include "vesk/file.hpp"

#include "support/host_hook.hpp"

#include <gtest/gtest.h>

namespace {

bool host_exhausted = false;
int host_blocks = 0;

}  // namespace

// Replaces the host's definition for this whole test program.
extern "C" void* host_calloc_checked(unsigned int a, unsigned int b) {
  if (host_exhausted)
    return nullptr;
  ++host_blocks;
  return vesk::testing::next_definition<void*(unsigned int, unsigned int)>(
      "host_calloc_checked")(a, b);
}

namespace {

TEST(DirectoryIteratorHost, StateComesFromTheHostAllocator) {
  host_blocks = 0;
  vesk::DirectoryIterator it("/");
  EXPECT_EQ(host_blocks, 1);
  EXPECT_TRUE(it.available());
}

TEST(DirectoryIteratorHost, ExhaustedHostGivesAnIteratorThatWasNeverStarted) {
  host_exhausted = true;
  {
    vesk::DirectoryIterator it("/");
    EXPECT_FALSE(it.open());
    EXPECT_FALSE(it.available());
    EXPECT_EQ(it.current(), "");
    it.advance();
    EXPECT_FALSE(it.available());
  }
  host_exhausted = false;
}

}  // namespace
