// DirectoryIterator's state comes from the host allocator, and an exhausted host leaves an
// iterator that was never started instead of a crash.
#include "vesk/file.hpp"

#include "support/host_fake.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(DirectoryIteratorHost, StateComesFromTheHostAllocator) {
  vesk::testing::clear_host_calls();
  vesk::DirectoryIterator it("/");
  EXPECT_EQ(vesk::testing::blocks_of("calloc").size(), 1u);
  EXPECT_TRUE(it.available());
}

TEST(DirectoryIteratorHost, ExhaustedHostGivesAnIteratorThatWasNeverStarted) {
  vesk::testing::fail_every_host_allocation();
  {
    vesk::DirectoryIterator it("/");
    EXPECT_EQ(it.error(), ENOMEM);
    EXPECT_FALSE(it.open());
    EXPECT_FALSE(it.available());
    EXPECT_EQ(it.current(), "");
    it.advance();
    EXPECT_FALSE(it.available());
  }
  vesk::testing::fail_no_host_allocation();
}

}  // namespace
