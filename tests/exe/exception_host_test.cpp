// Tests of what the Exception root hands to the host: its assertion reports and its storage.
// This program defines host_assert and host_calloc_checked itself, so it runs on its own.
#include "test_errors.hpp"

#include "support/host_hook.hpp"

#include <vesk/host/host_util.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

struct AssertReport {
  std::string message;
  std::string file;
  int line = 0;
  int count = 0;
};

AssertReport last_report;
int host_allocations = 0;

}  // namespace

extern "C" void host_assert(const char* message, const char* file, int line) {
  last_report.message = message;
  last_report.file = file;
  last_report.line = line;
  ++last_report.count;
}

extern "C" void* host_calloc_checked(unsigned int a, unsigned int b) {
  ++host_allocations;
  static auto* const real =
      vesk::testing::next_definition<void*(unsigned int, unsigned int)>("host_calloc_checked");
  return real(a, b);
}

namespace {

using vesk::Exception;
using vesk::StackFrame;
using vesk::testing::ContextError;
using vesk::testing::PlainError;

TEST(ExceptionAssertion, CauseOfTheBaseReportsNoCausesThenThrows) {
  const PlainError error;
  const Exception& root = error;
  last_report = {};
  EXPECT_THROW(root.cause(0), std::logic_error);
  EXPECT_EQ(last_report.count, 1);
  EXPECT_EQ(last_report.message, "no causes");
  EXPECT_EQ(last_report.file, "util/exe/exception");
  EXPECT_EQ(last_report.line, 48);
  EXPECT_THROW(root.cause(12345), std::logic_error);  // the index is not examined
  EXPECT_EQ(last_report.count, 2);
}

TEST(ExceptionAssertion, ObjectOfTheBaseReportsNoObjectsThenYieldsAnEmptyName) {
  const PlainError error;
  last_report = {};
  const std::string& first = error.object(0);
  EXPECT_EQ(last_report.count, 1);
  EXPECT_EQ(last_report.message, "no objects");
  EXPECT_EQ(last_report.file, "util/exe/exception");
  EXPECT_EQ(last_report.line, 60);
  const std::string& second = error.object(7);
  EXPECT_EQ(last_report.count, 2);
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(&first, &second) << "one lasting empty name, never a temporary";
}

TEST(ExceptionAllocation, NewGoesToTheHostAllocator) {
  int before = host_allocations;
  auto* error = new PlainError("held");
  EXPECT_EQ(host_allocations, before + 1);
  delete error;

  ContextError outer("outer");
  before = host_allocations;
  outer.addCause(PlainError("cause"));  // cloned with new
  EXPECT_EQ(host_allocations, before + 1);

  before = host_allocations;
  auto* frame = new StackFrame("f", "n", 1);
  EXPECT_EQ(host_allocations, before + 1);
  delete frame;
}

}  // namespace
