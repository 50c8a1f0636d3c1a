// Tests of StackFrame and of the Exception root with concrete exceptions built on it.
#include "support/test_errors.hpp"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <utility>

namespace {

using vesk::Exception;
using vesk::StackFrame;
using vesk::testing::ContextError;
using vesk::testing::PlainError;

std::string written(const StackFrame& frame) {
  std::ostringstream out;
  out << frame;
  return out.str();
}

TEST(StackFrame, DefaultIsEmptyAtLineZero) {
  const StackFrame frame;
  EXPECT_EQ(frame.file(), "");
  EXPECT_EQ(frame.name(), "");
  EXPECT_EQ(frame.line(), 0u);
  EXPECT_EQ(written(frame), "{>:0}");
}

TEST(StackFrame, IsWrittenInItsCompactForm) {
  const struct {
    StackFrame frame;
    std::string text;
  } rows[] = {
      {StackFrame("main.src", "run", 42), "{main.src>run:42}"},
      {StackFrame("a b", "f(x)", 4294967295u), "{a b>f(x):4294967295}"},
      {StackFrame("", "", 7), "{>:7}"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(written(row.frame), row.text);
}

TEST(StackFrame, LineFollowsTheStreamsBaseAndWidth) {
  std::ostringstream out;
  out << std::hex << StackFrame("f", "n", 255) << ' ' << std::setw(4) << std::setfill('0')
      << StackFrame("f", "n", 9) << '|' << std::dec << std::setw(3) << StackFrame("", "", 1);
  EXPECT_EQ(out.str(), "{f>n:ff} {f>n:0009}|{>:001}");
}

TEST(StackFrame, EqualWhenFileNameAndLineAreEqual) {
  const StackFrame base("f.src", "g", 3);
  const struct {
    StackFrame other;
    bool equal;
  } rows[] = {
      {StackFrame("f.src", "g", 3), true},
      {StackFrame(std::string("f.src"), std::string("g"), 3u), true},
      {StackFrame("f.src", "g", 4), false},
      {StackFrame("f.srd", "g", 3), false},
      {StackFrame("f.src", "h", 3), false},
      {StackFrame(), false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(base == row.other, row.equal) << written(row.other);
    EXPECT_EQ(base != row.other, !row.equal) << written(row.other);
  }
}

TEST(StackFrame, CopiesAndSwapsMemberWise) {
  StackFrame a("a.src", "fa", 1);
  StackFrame b("b.src", "fb", 2);
  StackFrame c(a);
  EXPECT_EQ(c, a);
  c = b;
  EXPECT_EQ(c, b);
  swap(a, b);
  EXPECT_EQ(written(a), "{b.src>fb:2}");
  EXPECT_EQ(written(b), "{a.src>fa:1}");
}

TEST(Exception, BaseHasNoContext) {
  const PlainError first("one");
  const PlainError second("two");
  EXPECT_EQ(first.numCauses(), 0u);
  EXPECT_EQ(first.numObjects(), 0u);
  EXPECT_TRUE(first.stack().empty());
  EXPECT_EQ(&first.stack(), &second.stack()) << "every exception shares one empty stack";
}

TEST(Exception, IsCaughtAsTheRootAndRaisedWithItsFullType) {
  ContextError error("outer");
  error.addObject("x");
  try {
    const Exception& held = error;
    held.raise();
    FAIL() << "raise returned";
  } catch (const ContextError& caught) {
    EXPECT_EQ(caught.message(), "outer");
    ASSERT_EQ(caught.numObjects(), 1u);
    EXPECT_EQ(caught.object(0), "x");
  }
}

TEST(Exception, CausesAreClonedWithTheirMostDerivedType) {
  ContextError inner("inner");
  inner.addFrame(StackFrame("in.src", "load", 9));
  ContextError outer("outer");
  outer.addCause(PlainError("plain cause"));
  outer.addCause(inner);
  outer.addFrame(StackFrame("out.src", "main", 1));

  const ContextError copy(outer);  // clones each cause again
  for (const ContextError* error : {&std::as_const(outer), &copy}) {
    ASSERT_EQ(error->numCauses(), 2u);
    EXPECT_EQ(error->cause(0).kind(), "PlainError");
    EXPECT_EQ(error->cause(0).message(), "plain cause");
    EXPECT_EQ(error->cause(1).kind(), "ContextError");
    ASSERT_EQ(error->cause(1).stack().size(), 1u);
    EXPECT_EQ(error->cause(1).stack()[0], StackFrame("in.src", "load", 9));
    EXPECT_EQ(error->stack().size(), 1u);
  }
  EXPECT_NE(&outer.cause(1), &copy.cause(1)) << "a copy owns its own causes";
}

TEST(Exception, CloneAndDestroyThroughTheRoot) {
  ContextError original("original");
  original.addObject("obj");
  Exception* copy = ContextError::copy(original);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, &original);
  EXPECT_EQ(copy->kind(), "ContextError");
  EXPECT_EQ(copy->message(), "original");
  ASSERT_EQ(copy->numObjects(), 1u);
  EXPECT_EQ(copy->object(0), "obj");
  ContextError::release(copy);
  ContextError::release(nullptr);  // ignored
}

TEST(Exception, AssignmentOfTheRootCopiesNothing) {
  PlainError a("a");
  const PlainError b("b");
  Exception& root = a;
  EXPECT_EQ(&(root = b), &root);
  EXPECT_EQ(a.message(), "a");
}

}  // namespace
