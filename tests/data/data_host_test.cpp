// Tests that watch the host: type values outside the tables report one assertion and touch
// nothing, typed buffers and SubsRef shapes use the host allocator.
#include "vesk/data.hpp"
#include "vesk/host/host_util.h"

#include "support/host_fake.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vesk {
namespace {

using DataTypeId::Type;
using testing::assert_calls;
using testing::blocks_of;
using testing::clear_host_calls;

Type type_value(int value) { return static_cast<Type>(value); }

const int kOutside[] = {-1, 5, 6, INT_MIN, INT_MAX};

TEST(OutOfRangeTypes, ConvertDataReportsOnceAndWritesNothing) {
  const double src[2] = {1.0, 2.0};
  for (int bad : kOutside) {
    for (int good : {0, 1, 4}) {
      SCOPED_TRACE(::testing::Message() << bad << " with " << good);
      unsigned char dst[16];
      std::memset(dst, 0xAB, sizeof dst);
      clear_host_calls();
      convert_data(2, type_value(bad), src, type_value(good), dst);
      convert_data(2, type_value(good), src, type_value(bad), dst);
      ASSERT_EQ(assert_calls().size(), 2u);
      EXPECT_EQ(assert_calls()[0].message, "type out of range");
      EXPECT_EQ(assert_calls()[0].file, "util/data/convert");
      EXPECT_EQ(assert_calls()[0].line, 34);
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
    clear_host_calls();
    ref.assign(type_value(bad), dst, src);
    ASSERT_EQ(assert_calls().size(), 1u);
    EXPECT_EQ(assert_calls()[0].message, "type out of range");
    EXPECT_EQ(assert_calls()[0].file, "util/data/subs_ref");
    EXPECT_EQ(assert_calls()[0].line, 27);
    EXPECT_EQ(dst[0], 7u);
    EXPECT_EQ(dst[1], 7u);
  }
}

TEST(OutOfRangeTypes, AllocateBufferAllocatesNothing) {
  for (int bad : kOutside) {
    SCOPED_TRACE(bad);
    clear_host_calls();
    EXPECT_EQ(allocate_buffer(type_value(bad), 4), nullptr);
    EXPECT_TRUE(blocks_of("calloc").empty());
  }
  clear_host_calls();
  EXPECT_EQ(get_type_name(type_value(-1)), nullptr);
  EXPECT_EQ(get_type_size(type_value(6)), 0u);
  EXPECT_TRUE(assert_calls().empty());  // lookups answer without reporting
}

TEST(HostMemory, TypedBuffersComeFromTheHost) {
  clear_host_calls();
  void* buffer = allocate_buffer(DataTypeId::REAL, 3);
  EXPECT_EQ(blocks_of("calloc").size(), 1u);
  clear_host_calls();
  vesk_free(buffer);
  ASSERT_EQ(blocks_of("free").size(), 1u);
  EXPECT_EQ(blocks_of("free")[0], buffer);
}

TEST(HostMemory, SubsRefDimensionGoesBackToTheHostWithTheLastShare) {
  clear_host_calls();
  auto* ref = new SubsRef(Dimension(2, 2), {0, 1, 2, 3});
  EXPECT_EQ(blocks_of("calloc").size(),
            1u);  // the Dimension; the count and the index use the standard new
  const void* shape = &ref->dimension();
  {
    const SubsRef copy(*ref);
    clear_host_calls();
  }
  EXPECT_TRUE(blocks_of("free").empty());
  delete ref;
  ASSERT_EQ(blocks_of("free").size(), 1u);
  EXPECT_EQ(blocks_of("free")[0], shape);
}

}  // namespace
}  // namespace vesk
