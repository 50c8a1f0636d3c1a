// Tests of Dimension: shape predicates, column-major positions and both text forms.
#include "vesk/data.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <iomanip>
#include <memory>
#include <sstream>

namespace vesk {
namespace {

std::string streamed(const Dimension& d) {
  std::ostringstream out;
  out << d;
  return out.str();
}

TEST(Dimension, DefaultIsTheOneByOneScalar) {
  const Dimension d;
  EXPECT_EQ(d.m(), 1u);
  EXPECT_EQ(d.n(), 1u);
  EXPECT_EQ(d, Dimension(1, 1));
  EXPECT_EQ(d.str(), "[1, 1]");
  EXPECT_EQ(streamed(d), "{1,1}");
}

TEST(Dimension, ShapePredicatesFollowTheElementCount) {
  struct Row {
    unsigned int m, n, elements;
    bool scalar, empty, vector;
  };
  const Row rows[] = {
      {1, 1, 1, true, false, true},    {1, 0, 0, false, true, false},
      {0, 1, 0, false, true, false},   {0, 0, 0, false, true, false},
      {5, 1, 5, false, false, true},   {1, 5, 5, false, false, true},
      {2, 3, 6, false, false, false},
      // The count wraps modulo 2^32: 65536 by 65536 has "0" elements, 65537 by 65537 "one".
      {65536, 65536, 0, false, true, false}, {65537, 65537, 131073, false, false, false},
      {0x10001, 0xFFFF, 0xFFFFFFFF, false, false, false},
  };
  for (const Row& r : rows) {
    const Dimension d(r.m, r.n);
    SCOPED_TRACE(d.str());
    EXPECT_EQ(d.getNumElements(), r.elements);
    EXPECT_EQ(d.isScalar(), r.scalar);
    EXPECT_EQ(d.isEmpty(), r.empty);
    EXPECT_EQ(d.isVector(), r.vector);
  }
}

TEST(Dimension, ComputeIndexIsColumnMajor) {
  const Dimension d(3, 4);
  EXPECT_EQ(d.computeIndex(0, 0), 0u);
  EXPECT_EQ(d.computeIndex(2, 0), 2u);
  EXPECT_EQ(d.computeIndex(0, 1), 3u);
  EXPECT_EQ(d.computeIndex(2, 1), 5u);
  EXPECT_EQ(d.computeIndex(2, 3), 11u);
  // No range check: a row past the end runs into the next column.
  EXPECT_EQ(d.computeIndex(3, 0), d.computeIndex(0, 1));
  EXPECT_EQ(Dimension(0x80000000u, 2).computeIndex(1, 2), 1u);
}

TEST(Dimension, IsValidIndexChecksBothBounds) {
  const Dimension d(3, 4);
  EXPECT_TRUE(d.isValidIndex(2, 3));
  EXPECT_FALSE(d.isValidIndex(3, 0));
  EXPECT_FALSE(d.isValidIndex(0, 4));
  EXPECT_FALSE(Dimension(0, 5).isValidIndex(0, 0));
}

TEST(Dimension, EqualityComparesShapeNotCount) {
  EXPECT_NE(Dimension(2, 3), Dimension(3, 2));
  EXPECT_FALSE(Dimension(2, 3) == Dimension(3, 2));
  EXPECT_EQ(Dimension(2, 3), Dimension(2, 3));
  Dimension copy;
  copy = Dimension(7, 0);
  EXPECT_EQ(copy, Dimension(7, 0));
}

TEST(Dimension, TextForms) {
  EXPECT_EQ(Dimension(2, 3).str(), "[2, 3]");
  EXPECT_EQ(streamed(Dimension(2, 3)), "{2,3}");
  EXPECT_EQ(Dimension(4294967295u, 0).str(), "[4294967295, 0]");
  // The stream form uses the caller's stream flags; str() always uses a fresh stream.
  std::ostringstream hex;
  hex << std::hex << Dimension(255, 16);
  EXPECT_EQ(hex.str(), "{ff,10}");
  EXPECT_EQ(Dimension(255, 16).str(), "[255, 16]");
}

TEST(Dimension, HasTheLayoutOfTwoWords) {
  EXPECT_EQ(sizeof(Dimension), 8u);
}

TEST(Dimension, NewTakesHostMemory) {
  // Released through the class-specific delete, so vesk_free; ASan reports a mismatch.
  std::unique_ptr<Dimension> d(new Dimension(2, 3));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->getNumElements(), 6u);
}

}  // namespace
}  // namespace vesk
