// Tests of what the Exception root hands to the host: its assertion reports and its storage.
#include "support/test_errors.hpp"

#include "support/host_fake.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using vesk::Exception;
using vesk::StackFrame;
using vesk::testing::assert_calls;
using vesk::testing::blocks_of;
using vesk::testing::clear_host_calls;
using vesk::testing::ContextError;
using vesk::testing::PlainError;

TEST(ExceptionAssertion, CauseOfTheBaseReportsNoCausesThenThrows) {
  const PlainError error;
  const Exception& root = error;
  clear_host_calls();
  EXPECT_THROW(root.cause(0), std::logic_error);
  ASSERT_EQ(assert_calls().size(), 1u);
  EXPECT_EQ(assert_calls().back().message, "no causes");
  EXPECT_EQ(assert_calls().back().file, "util/exe/exception");
  EXPECT_EQ(assert_calls().back().line, 48);
  EXPECT_THROW(root.cause(12345), std::logic_error);  // the index is not examined
  EXPECT_EQ(assert_calls().size(), 2u);
}

TEST(ExceptionAssertion, ObjectOfTheBaseReportsNoObjectsThenYieldsAnEmptyName) {
  const PlainError error;
  clear_host_calls();
  const std::string& first = error.object(0);
  ASSERT_EQ(assert_calls().size(), 1u);
  EXPECT_EQ(assert_calls().back().message, "no objects");
  EXPECT_EQ(assert_calls().back().file, "util/exe/exception");
  EXPECT_EQ(assert_calls().back().line, 60);
  const std::string& second = error.object(7);
  EXPECT_EQ(assert_calls().size(), 2u);
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(&first, &second) << "one lasting empty name, never a temporary";
}

TEST(ExceptionAllocation, NewGoesToTheHostAllocator) {
  clear_host_calls();
  auto* error = new PlainError("held");
  EXPECT_EQ(blocks_of("calloc").size(), 1u);
  delete error;

  ContextError outer("outer");
  clear_host_calls();
  outer.addCause(PlainError("cause"));  // cloned with new
  EXPECT_EQ(blocks_of("calloc").size(), 1u);

  clear_host_calls();
  auto* frame = new StackFrame("f", "n", 1);
  EXPECT_EQ(blocks_of("calloc").size(), 1u);
  delete frame;
}

}  // namespace
