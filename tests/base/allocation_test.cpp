// Tests of the allocation and assertion entry points, watched through the host fake.
#include <vesk/base.hpp>
#include <vesk/host/host_util.h>

#include "support/host_fake.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vesk::testing::allocation_calls;
using vesk::testing::assert_calls;

// Host calls from here on, with every allocation succeeding again at the end.
class Watch {
public:
  Watch() { vesk::testing::clear_host_calls(); }
  ~Watch() { vesk::testing::fail_no_host_allocation(); }
};

}  // namespace

namespace {

struct Probe : vesk::AllocatorBase {
  Probe() : set(7) {}
  int set;
  int unset_int;
  double unset_double;
  char unset_bytes[13];
};

struct Throws : vesk::AllocatorBase {
  Throws() { throw std::runtime_error("constructor failed"); }
  int field = 0;
};

bool all_zero(const void* block, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (std::size_t i = 0; i < size; ++i)
    if (bytes[i] != 0)
      return false;
  return true;
}

TEST(Allocation, EntryPointsPassTheirArgumentsUnchanged) {
  Watch watch;
  void* m = vesk_malloc(17);
  void* c = vesk_calloc(3, 5);
  vesk_free(m);
  vesk_free(c);
  vesk_free(nullptr);
  ASSERT_EQ(allocation_calls().size(), 5u);
  EXPECT_EQ(allocation_calls()[0].name, "malloc");
  EXPECT_EQ(allocation_calls()[0].a, 17u);
  EXPECT_EQ(allocation_calls()[1].name, "calloc");
  EXPECT_EQ(allocation_calls()[1].a, 3u);
  EXPECT_EQ(allocation_calls()[1].b, 5u);
  EXPECT_EQ(allocation_calls()[2].block, m);
  EXPECT_EQ(allocation_calls()[3].block, c);
  EXPECT_EQ(allocation_calls()[4].block, nullptr);
}

TEST(Allocation, AssertionReachesTheHostInOrder) {
  Watch watch;
  vesk_assertion("no objects", "util/exe/exception", 60);
  ASSERT_EQ(assert_calls().size(), 1u);
  EXPECT_EQ(assert_calls()[0].message, "no objects");
  EXPECT_EQ(assert_calls()[0].file, "util/exe/exception");
  EXPECT_EQ(assert_calls()[0].line, 60);
}

TEST(Allocation, ObjectsGetZeroFilledHostStorage) {
  Watch watch;
  auto* probe = new Probe;
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->set, 7);
  EXPECT_EQ(probe->unset_int, 0);
  EXPECT_EQ(probe->unset_double, 0.0);
  EXPECT_TRUE(all_zero(probe->unset_bytes, sizeof probe->unset_bytes));
  delete probe;
  ASSERT_EQ(allocation_calls().size(), 2u);
  EXPECT_EQ(allocation_calls()[0].name, "calloc");
  EXPECT_EQ(allocation_calls()[0].a, sizeof(Probe));
  EXPECT_EQ(allocation_calls()[0].b, 1u);
  EXPECT_EQ(allocation_calls()[1].name, "free");
  EXPECT_EQ(allocation_calls()[1].block, allocation_calls()[0].block);
}

TEST(Allocation, ExhaustedHostGivesNullAndRunsNoConstructor) {
  Watch watch;
  vesk::testing::fail_every_host_allocation();
  // Throws' constructor would throw if it ran.
  Throws* object = nullptr;
  EXPECT_NO_THROW(object = new Throws);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(vesk_calloc(1, 1), nullptr);
}

// An object size is handed to the host whole when it fits 32 bits and refused, without a host
// call, when it does not (a wrapped size would give a block too small for the object).
TEST(Allocation, ObjectSizesUpTo32BitsReachTheHostWhole) {
  Watch watch;
  vesk::testing::fail_every_host_allocation();
  EXPECT_EQ(vesk::AllocatorBase::operator new(0xFFFFFFFFu), nullptr);
  ASSERT_EQ(allocation_calls().size(), 1u);
  EXPECT_EQ(allocation_calls()[0].a, 0xFFFFFFFFu);
  EXPECT_EQ(allocation_calls()[0].b, 1u);
  EXPECT_EQ(vesk::AllocatorBase::operator new(std::size_t{1} << 32), nullptr);
  EXPECT_EQ(vesk::AllocatorBase::operator new(std::size_t{1} << 32, nullptr), nullptr);
  EXPECT_EQ(allocation_calls().size(), 1u);
}

TEST(Allocation, PlacementFormUsesThePlaceAndAllocatesNothing) {
  void* place = vesk_calloc(1, sizeof(Probe));
  Watch watch;
  auto* probe = new (place) Probe;
  EXPECT_EQ(static_cast<void*>(probe), place);
  EXPECT_TRUE(allocation_calls().empty());
  delete probe;  // the place came from the host allocator, so delete returns it there
  ASSERT_EQ(allocation_calls().size(), 1u);
  EXPECT_EQ(allocation_calls()[0].block, place);
}

TEST(Allocation, PlacementFormWithoutAPlaceAllocates) {
  Watch watch;
  auto* probe = new (static_cast<void*>(nullptr)) Probe;
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->unset_int, 0);
  delete probe;
  ASSERT_EQ(allocation_calls().size(), 2u);
  EXPECT_EQ(allocation_calls()[0].name, "calloc");
}

TEST(Allocation, FailingConstructorInPlacementFormReleasesThePlace) {
  void* place = vesk_malloc(sizeof(Throws));
  Watch watch;
  EXPECT_THROW(new (place) Throws, std::runtime_error);
  ASSERT_EQ(allocation_calls().size(), 1u);
  EXPECT_EQ(allocation_calls()[0].name, "free");
  EXPECT_EQ(allocation_calls()[0].block, place);
}

TEST(Allocation, FailingConstructorReleasesItsStorage) {
  Watch watch;
  EXPECT_THROW(new Throws, std::runtime_error);
  ASSERT_EQ(allocation_calls().size(), 2u);
  EXPECT_EQ(allocation_calls()[1].name, "free");
  EXPECT_EQ(allocation_calls()[1].block, allocation_calls()[0].block);
}

TEST(Allocation, AllocatePassesElementSizeThenCount) {
  Watch watch;
  void* block = vesk::Allocate::allocate(8, 3);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(all_zero(block, 24));
  vesk::Allocate::deallocate(block);
  ASSERT_EQ(allocation_calls().size(), 2u);
  EXPECT_EQ(allocation_calls()[0].a, 8u);
  EXPECT_EQ(allocation_calls()[0].b, 3u);
  EXPECT_EQ(allocation_calls()[1].block, block);
}

TEST(Allocation, AssignmentOfTheEmptyBasesReturnsTheTarget) {
  vesk::Allocate a, b;
  EXPECT_EQ(&(a = b), &a);
  // Probe's unset members are only zero on the host's heap; copying them from the stack would
  // read indeterminate values, so the copy is of a class whose members are all initialised.
  struct Counted : vesk::AllocatorBase {
    int set = 7;
  };
  Counted p, q;
  q.set = 9;
  p = q;
  EXPECT_EQ(p.set, 9);
}

}  // namespace
