// Tests of the allocation and assertion entry points, watched through interposed host functions.
#include <vesk/base.hpp>
#include <vesk/host/host_util.h>

#include "support/host_hook.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct HostCall {
  std::string name;
  unsigned int a = 0, b = 0;
  const void* block = nullptr;
};

std::vector<HostCall> g_calls;
bool g_watching = false;
bool g_exhausted = false;
std::string g_assert_message, g_assert_file;
int g_assert_line = 0;

void record(HostCall call) {
  if (g_watching)
    g_calls.push_back(std::move(call));
}

class Watch {
public:
  Watch() {
    g_calls.clear();
    g_watching = true;
  }
  ~Watch() {
    g_watching = false;
    g_exhausted = false;
  }
};

}  // namespace

// These definitions take the place of the host library's for this whole test program.
extern "C" void* host_malloc_checked(unsigned int size) {
  static auto* next = vesk::testing::next_definition<void*(unsigned int)>("host_malloc_checked");
  void* block = g_exhausted ? nullptr : next(size);
  record({"malloc", size, 0, block});
  return block;
}

extern "C" void* host_calloc_checked(unsigned int a, unsigned int b) {
  static auto* next =
      vesk::testing::next_definition<void*(unsigned int, unsigned int)>("host_calloc_checked");
  void* block = g_exhausted ? nullptr : next(a, b);
  record({"calloc", a, b, block});
  return block;
}

extern "C" void host_free(void* block) {
  static auto* next = vesk::testing::next_definition<void(void*)>("host_free");
  record({"free", 0, 0, block});
  next(block);
}

extern "C" void host_assert(const char* message, const char* file, int line) {
  g_assert_message = message;
  g_assert_file = file;
  g_assert_line = line;
}

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
  ASSERT_EQ(g_calls.size(), 5u);
  EXPECT_EQ(g_calls[0].name, "malloc");
  EXPECT_EQ(g_calls[0].a, 17u);
  EXPECT_EQ(g_calls[1].name, "calloc");
  EXPECT_EQ(g_calls[1].a, 3u);
  EXPECT_EQ(g_calls[1].b, 5u);
  EXPECT_EQ(g_calls[2].block, m);
  EXPECT_EQ(g_calls[3].block, c);
  EXPECT_EQ(g_calls[4].block, nullptr);
}

TEST(Allocation, AssertionReachesTheHostInOrder) {
  vesk_assertion("no objects", "util/exe/exception", 60);
  EXPECT_EQ(g_assert_message, "no objects");
  EXPECT_EQ(g_assert_file, "util/exe/exception");
  EXPECT_EQ(g_assert_line, 60);
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
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].name, "calloc");
  EXPECT_EQ(g_calls[0].a, sizeof(Probe));
  EXPECT_EQ(g_calls[0].b, 1u);
  EXPECT_EQ(g_calls[1].name, "free");
  EXPECT_EQ(g_calls[1].block, g_calls[0].block);
}

TEST(Allocation, ExhaustedHostGivesNullAndRunsNoConstructor) {
  Watch watch;
  g_exhausted = true;
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
  g_exhausted = true;
  EXPECT_EQ(vesk::AllocatorBase::operator new(0xFFFFFFFFu), nullptr);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].a, 0xFFFFFFFFu);
  EXPECT_EQ(g_calls[0].b, 1u);
  EXPECT_EQ(vesk::AllocatorBase::operator new(std::size_t{1} << 32), nullptr);
  EXPECT_EQ(vesk::AllocatorBase::operator new(std::size_t{1} << 32, nullptr), nullptr);
  EXPECT_EQ(g_calls.size(), 1u);
}

TEST(Allocation, PlacementFormUsesThePlaceAndAllocatesNothing) {
  void* place = vesk_calloc(1, sizeof(Probe));
  Watch watch;
  auto* probe = new (place) Probe;
  EXPECT_EQ(static_cast<void*>(probe), place);
  EXPECT_TRUE(g_calls.empty());
  delete probe;  // the place came from the host allocator, so delete returns it there
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].block, place);
}

TEST(Allocation, PlacementFormWithoutAPlaceAllocates) {
  Watch watch;
  auto* probe = new (static_cast<void*>(nullptr)) Probe;
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->unset_int, 0);
  delete probe;
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].name, "calloc");
}

TEST(Allocation, FailingConstructorInPlacementFormReleasesThePlace) {
  void* place = vesk_malloc(sizeof(Throws));
  Watch watch;
  EXPECT_THROW(new (place) Throws, std::runtime_error);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].name, "free");
  EXPECT_EQ(g_calls[0].block, place);
}

TEST(Allocation, FailingConstructorReleasesItsStorage) {
  Watch watch;
  EXPECT_THROW(new Throws, std::runtime_error);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1].name, "free");
  EXPECT_EQ(g_calls[1].block, g_calls[0].block);
}

TEST(Allocation, AllocatePassesElementSizeThenCount) {
  Watch watch;
  void* block = vesk::Allocate::allocate(8, 3);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(all_zero(block, 24));
  vesk::Allocate::deallocate(block);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].a, 8u);
  EXPECT_EQ(g_calls[0].b, 3u);
  EXPECT_EQ(g_calls[1].block, block);
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
