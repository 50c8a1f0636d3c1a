// Tests that watch the host: type values outside the tables report one assertion and touch
// nothing, typed buffers and SubsRef shapes use the host allocator.
#include "vesk/data.hpp"
#include "vesk/host/host_util.h"

#include "support/host_hook.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Assertion {
  std::string message, file;
  int line;
};
std::vector<Assertion> gAssertions;
int gCallocs = 0;
std::vector<void*> gFreed;

}  // namespace

extern "C" void host_assert(const char* message, const char* file, int line) {
  gAssertions.push_back({message, file, line});
}

extern "C" void* host_calloc_checked(unsigned int a, unsigned int b) {
  ++gCallocs;
  return vesk::testing::next_definition<void*(unsigned int, unsigned int)>(
      "host_calloc_checked")(a, b);
}

extern "C" void host_free(void* block) {
  gFreed.push_back(block);
  vesk::testing::next_definition<void(void*)>("host_free")(block);
}

namespace vesk {
namespace {

using DataTypeId::Type;

Type type_value(int value) { return static_cast<Type>(value); }

const int kOutside[] = {-1, 5, 6, INT_MIN, INT_MAX};

TEST(OutOfRangeTypes, ConvertDataReportsOnceAndWritesNothing) {
  const double src[2] = {1.0, 2.0};
  for (int bad : kOutside) {
    for (int good : {0, 1, 4}) {
      SCOPED_TRACE(::testing::Message() << bad << " with " << good);
      unsigned char dst[16];
      std::memset(dst, 0xAB, sizeof dst);
      gAssertions.clear();
      convert_data(2, type_value(bad), src, type_value(good), dst);
      convert_data(2, type_value(good), src, type_value(bad), dst);
      ASSERT_EQ(gAssertions.size(), 2u);
      EXPECT_EQ(gAssertions[0].message, "type out of range");
      EXPECT_EQ(gAssertions[0].file, "util/data/convert");
      EXPECT_EQ(gAssertions[0].line, 34);
      for (unsigned char b : dst)
        ASSERT_EQ(b, 0xAB);
    }
  }
}

TEST(OutOfRangeTypes, SubsRefAssignReportsOnceAndWritesNothing) {
  const SubsRef ref(Dimension(2, 1), {1, 0});
  const std::uint64_t src[2] = {1, 2};
  for (int bad : kOutside) {
    SCOPED_TRACE(bad);
    std::uint64_t dst[2] = {7, 7};
    gAssertions.clear();
    ref.assign(type_value(bad), dst, src);
    ASSERT_EQ(gAssertions.size(), 1u);
    EXPECT_EQ(gAssertions[0].message, "type out of range");
    EXPECT_EQ(gAssertions[0].file, "util/data/subs_ref");
    EXPECT_EQ(gAssertions[0].line, 27);
    EXPECT_EQ(dst[0], 7u);
    EXPECT_EQ(dst[1], 7u);
  }
}

TEST(OutOfRangeTypes, AllocateBufferAllocatesNothing) {
  for (int bad : kOutside) {
    SCOPED_TRACE(bad);
    gCallocs = 0;
    EXPECT_EQ(allocate_buffer(type_value(bad), 4), nullptr);
    EXPECT_EQ(gCallocs, 0);
  }
  gAssertions.clear();
  EXPECT_EQ(get_type_name(type_value(-1)), nullptr);
  EXPECT_EQ(get_type_size(type_value(6)), 0u);
  EXPECT_TRUE(gAssertions.empty());  // lookups answer without reporting
}

TEST(HostMemory, TypedBuffersComeFromTheHost) {
  gCallocs = 0;
  void* buffer = allocate_buffer(DataTypeId::REAL, 3);
  EXPECT_EQ(gCallocs, 1);
  gFreed.clear();
  vesk_free(buffer);
  ASSERT_EQ(gFreed.size(), 1u);
  EXPECT_EQ(gFreed[0], buffer);
}

TEST(HostMemory, SubsRefDimensionGoesBackToTheHostWithTheLastShare) {
  gCallocs = 0;
  auto* ref = new SubsRef(Dimension(2, 2), {0, 1, 2, 3});
  EXPECT_EQ(gCallocs, 1);  // the Dimension; the count and the index use the standard new
  const void* shape = &ref->dimension();
  {
    const SubsRef copy(*ref);
    gFreed.clear();
  }
  EXPECT_TRUE(gFreed.empty());
  delete ref;
  ASSERT_EQ(gFreed.size(), 1u);
  EXPECT_EQ(gFreed[0], shape);
}

}  // namespace
}  // namespace vesk
