// Tests of SubsRef: the gather of every element width, and sharing of one selection.
#include "vesk/data.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace vesk {
namespace {

TEST(SubsRef, GathersInIndexOrderWithRepeats) {
  const SubsRef ref(Dimension(1, 3), {2, 0, 2});
  const std::int32_t src[] = {10, 20, 30};
  std::int32_t dst[3] = {};
  ref.assign(DataTypeId::INTEGER, dst, src);
  EXPECT_EQ(dst[0], 30);
  EXPECT_EQ(dst[1], 10);
  EXPECT_EQ(dst[2], 30);
}

TEST(SubsRef, GathersEveryElementWidthUnchanged) {
  const SubsRef ref(Dimension(4, 1), {3, 1, 0, 3});
  const std::uint8_t bytes[] = {0x00, 0x80, 0x7F, 0xFF};
  const std::uint32_t words[] = {1, 0x80000000u, 3, 0xFFFFFFFFu};
  const double reals[] = {-0.0, 5e-324, 1.5, -1e300};
  for (DataTypeId::Type type : {DataTypeId::LOGICAL, DataTypeId::STRING}) {
    std::uint8_t out[5] = {9, 9, 9, 9, 9};
    ref.assign(type, out, bytes);
    const std::uint8_t want[5] = {0xFF, 0x80, 0x00, 0xFF, 9};  // nothing past the 4th element
    EXPECT_EQ(std::memcmp(out, want, 5), 0) << get_type_name(type);
  }
  for (DataTypeId::Type type : {DataTypeId::INTEGER, DataTypeId::UINTEGER}) {
    std::uint32_t out[4] = {};
    ref.assign(type, out, words);
    const std::uint32_t want[4] = {0xFFFFFFFFu, 0x80000000u, 1, 0xFFFFFFFFu};
    EXPECT_EQ(std::memcmp(out, want, sizeof want), 0) << get_type_name(type);
  }
  double out[4] = {};
  ref.assign(DataTypeId::REAL, out, reals);
  const double want[4] = {-1e300, 5e-324, -0.0, -1e300};
  EXPECT_EQ(std::memcmp(out, want, sizeof want), 0);
}

TEST(SubsRef, RealGatherQuietsSignallingNans) {
  const std::uint64_t src[] = {0x7FF0000000000001u, 0x7FF8000000000002u, 0xFFF0000000000000u};
  const SubsRef ref(Dimension(3, 1), {0, 1, 2});
  std::uint64_t dst[3] = {};
  ref.assign(DataTypeId::REAL, dst, src);
  EXPECT_EQ(dst[0], 0x7FF8000000000001u);
  EXPECT_EQ(dst[1], 0x7FF8000000000002u);
  EXPECT_EQ(dst[2], 0xFFF0000000000000u);
}

TEST(SubsRef, LargeGatherMatchesAPlainLoop) {
  std::vector<double> src(4099);
  for (std::size_t i = 0; i < src.size(); ++i)
    src[i] = static_cast<double>(i) * 0.25 - 100.0;
  std::vector<unsigned int> index(3001);
  for (std::size_t i = 0; i < index.size(); ++i)
    index[i] = static_cast<unsigned int>((i * 2654435761u) % src.size());
  const SubsRef ref(Dimension(3001, 1), index);
  std::vector<double> dst(index.size());
  ref.assign(DataTypeId::REAL, dst.data(), src.data());
  for (std::size_t i = 0; i < index.size(); ++i)
    ASSERT_EQ(dst[i], src[index[i]]) << "element " << i;
}

TEST(SubsRef, EmptyIndexCopiesNothing) {
  const SubsRef ref(Dimension(0, 0), {});
  std::int32_t dst = 7;
  ref.assign(DataTypeId::INTEGER, &dst, nullptr);
  EXPECT_EQ(dst, 7);
}

TEST(SubsRef, KeepsItsOwnCopyOfTheSelection) {
  std::vector<unsigned int> index = {4, 5};
  Dimension shape(2, 1);
  const SubsRef ref(shape, index);
  index.clear();
  shape = Dimension(9, 9);
  EXPECT_EQ(ref.dimension(), Dimension(2, 1));
  EXPECT_EQ(ref.index(), (std::vector<unsigned int>{4, 5}));
}

TEST(SubsRef, CopiesShareOneSelectionUntilTheLastIsGone) {
  auto* first = new SubsRef(Dimension(2, 3), {5, 4, 3, 2, 1, 0});
  const Dimension* shared_dimension = &first->dimension();
  const std::vector<unsigned int>* shared_index = &first->index();
  auto* second = new SubsRef(*first);
  SubsRef third(*second);
  EXPECT_EQ(&third.dimension(), shared_dimension);
  EXPECT_EQ(&third.index(), shared_index);
  delete first;
  delete second;
  // The remaining handle still reads the selection (ASan reports any use after free).
  EXPECT_EQ(third.dimension(), Dimension(2, 3));
  EXPECT_EQ(third.index().size(), 6u);
  EXPECT_EQ(third.index()[0], 5u);
  // Destroying it frees all three parts; the leak checker reports anything left behind.
}

TEST(SubsRef, AssignmentReleasesTheTargetsLastShare) {
  SubsRef target(Dimension(1, 1), {0});
  const SubsRef source(Dimension(1, 2), {1, 0});
  target = source;  // frees the 1-by-1 selection (the leak checker would report it)
  EXPECT_EQ(&target.index(), &source.index());
  EXPECT_EQ(target.dimension(), Dimension(1, 2));

  SubsRef other(source);
  other = target;  // both already share one selection
  EXPECT_EQ(other.index(), (std::vector<unsigned int>{1, 0}));
}

TEST(SubsRef, SelfAssignmentLeavesTheHandleUnchanged) {
  SubsRef ref(Dimension(1, 2), {7, 8});
  const std::vector<unsigned int>* before = &ref.index();
  SubsRef& alias = ref;
  ref = alias;
  EXPECT_EQ(&ref.index(), before);
  EXPECT_EQ(ref.index(), (std::vector<unsigned int>{7, 8}));
}

TEST(SubsRef, EmptyHandlesStayEmpty) {
  const SubsRef empty;
  const SubsRef copy(empty);
  EXPECT_TRUE(copy.index().empty());
  EXPECT_TRUE(copy.dimension().isEmpty());
  SubsRef filled(Dimension(1, 1), {0});
  filled = empty;  // gives up the filled selection
  EXPECT_TRUE(filled.index().empty());
  std::uint8_t dst = 3;
  filled.assign(DataTypeId::LOGICAL, &dst, nullptr);
  EXPECT_EQ(dst, 3);
}

TEST(SubsRef, IsAHandleOfThreePointers) {
  EXPECT_EQ(sizeof(SubsRef), 3 * sizeof(void*));
}

}  // namespace
}  // namespace vesk
