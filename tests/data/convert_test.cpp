// Tests of convert_data: the 5x5 conversion table, the REAL rules at their boundaries, in-place
// narrowing, and agreement of the vector loops with element-by-element conversion.
#include "vesk/data.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace vesk {
namespace {

using DataTypeId::Type;

constexpr Type kTypes[] = {DataTypeId::LOGICAL, DataTypeId::REAL, DataTypeId::INTEGER,
                           DataTypeId::UINTEGER, DataTypeId::STRING};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

std::uint64_t bits_of(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}

double from_bits(std::uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}

// One source element converted to every target type.
struct Targets {
  std::uint8_t logical;
  double real;
  std::int32_t integer;
  std::uint32_t uinteger;
  std::uint8_t string;
};

template <class Source>
Targets convert_one(Type from, Source value) {
  Targets t{};
  convert_data(1, from, &value, DataTypeId::LOGICAL, &t.logical);
  convert_data(1, from, &value, DataTypeId::REAL, &t.real);
  convert_data(1, from, &value, DataTypeId::INTEGER, &t.integer);
  convert_data(1, from, &value, DataTypeId::UINTEGER, &t.uinteger);
  convert_data(1, from, &value, DataTypeId::STRING, &t.string);
  return t;
}

template <class Source>
void expect_row(Type from, Source value, const Targets& want) {
  const Targets got = convert_one(from, value);
  EXPECT_EQ(got.logical, want.logical) << "to LOGICAL";
  EXPECT_EQ(bits_of(got.real), bits_of(want.real)) << "to REAL: " << got.real;
  EXPECT_EQ(got.integer, want.integer) << "to INTEGER";
  EXPECT_EQ(got.uinteger, want.uinteger) << "to UINTEGER";
  EXPECT_EQ(got.string, want.string) << "to STRING";
}

TEST(ConvertData, LogicalIsZeroExtended) {
  const struct {
    std::uint8_t in;
    Targets want;
  } rows[] = {
      {0, {0, 0.0, 0, 0, 0}},
      {1, {1, 1.0, 1, 1, 1}},
      {128, {128, 128.0, 128, 128, 128}},
      {255, {255, 255.0, 255, 255, 255}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(int{r.in});
    expect_row(DataTypeId::LOGICAL, r.in, r.want);
  }
}

TEST(ConvertData, StringIsSignExtended) {
  const struct {
    std::int8_t in;
    Targets want;
  } rows[] = {
      {0, {0, 0.0, 0, 0, 0}},
      {127, {127, 127.0, 127, 127, 127}},
      {-1, {0xFF, -1.0, -1, 4294967295u, 0xFF}},
      {-128, {0x80, -128.0, -128, 4294967168u, 0x80}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(int{r.in});
    expect_row(DataTypeId::STRING, r.in, r.want);
  }
}

TEST(ConvertData, IntegerKeepsLowBitsAndExactValues) {
  const struct {
    std::int32_t in;
    Targets want;
  } rows[] = {
      {256, {0, 256.0, 256, 256, 0}},  // no test against zero: 256 is the byte 0
      {257, {1, 257.0, 257, 257, 1}},
      {-1, {0xFF, -1.0, -1, 4294967295u, 0xFF}},
      {300, {44, 300.0, 300, 300, 44}},
      {kIntMin, {0, -2147483648.0, kIntMin, 2147483648u, 0}},
      {2147483647, {0xFF, 2147483647.0, 2147483647, 2147483647u, 0xFF}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.in);
    expect_row(DataTypeId::INTEGER, r.in, r.want);
  }
}

TEST(ConvertData, UintegerKeepsLowBitsAndExactValues) {
  const struct {
    std::uint32_t in;
    Targets want;
  } rows[] = {
      {0, {0, 0.0, 0, 0, 0}},
      {257, {1, 257.0, 257, 257, 1}},
      {2147483648u, {0, 2147483648.0, kIntMin, 2147483648u, 0}},
      {4294967295u, {0xFF, 4294967295.0, -1, 4294967295u, 0xFF}},
      {4294967041u, {1, 4294967041.0, -255, 4294967041u, 1}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.in);
    expect_row(DataTypeId::UINTEGER, r.in, r.want);
  }
}

// Rules B (bytes), I (INTEGER) and U (UINTEGER) from REAL, at the edges of each range.
TEST(ConvertData, RealRulesAtTheirBoundaries) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double in;
    std::uint8_t byte;
    std::int32_t integer;
    std::uint32_t uinteger;
  } rows[] = {
      {0.0, 0, 0, 0},
      {-0.0, 0, 0, 0},
      {5e-324, 0, 0, 0},
      {-5e-324, 0, 0, 0},
      {0.9, 0, 0, 0},
      {-0.9, 0, 0, 0},
      {-1.0, 0xFF, -1, 4294967295u},
      {255.99, 0xFF, 255, 255},
      {300.5, 44, 300, 300},
      {-300.5, 0xD4, -300, 4294966996u},
      {-128.5, 0x80, -128, 4294967168u},
      {2147483647.0, 0xFF, 2147483647, 2147483647u},
      {2147483647.9, 0xFF, 2147483647, 2147483647u},
      {2147483648.0, 0, kIntMin, 2147483648u},
      {-2147483648.0, 0, kIntMin, 2147483648u},
      {-2147483648.9, 0, kIntMin, 2147483648u},  // truncates into range
      {-2147483649.0, 0, kIntMin, 2147483647u},
      {4294967295.0, 0, kIntMin, 4294967295u},
      {4294967295.5, 0, kIntMin, 4294967295u},
      {4294967296.0, 0, kIntMin, 0},
      {4294967297.0, 0, kIntMin, 1},
      {-4294967297.0, 0, kIntMin, 4294967295u},
      {4503599627370497.0, 0, kIntMin, 1},  // 2^52 + 1, the first range without fractions
      {4611686031312290816.0, 0, kIntMin, 1024},  // 2^62 + 3 * 2^32 + 1024
      {-4611686018427388928.0, 0, kIntMin, 4294966272u},  // -(2^62 + 1024)
      {9223372036854774784.0, 0, kIntMin, 4294966272u},  // largest below 2^63
      {-9223372036854774784.0, 0, kIntMin, 1024},
      {9223372036854775808.0, 0, kIntMin, 0},  // 2^63
      {-9223372036854775808.0, 0, kIntMin, 0},
      {1e300, 0, kIntMin, 0},
      {kInf, 0, kIntMin, 0},
      {-kInf, 0, kIntMin, 0},
      {nan, 0, kIntMin, 0},
      {-nan, 0, kIntMin, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.in << " (bits " << std::hex << bits_of(r.in) << ")");
    const Targets got = convert_one(DataTypeId::REAL, r.in);
    EXPECT_EQ(got.logical, r.byte) << "to LOGICAL";
    EXPECT_EQ(got.string, r.byte) << "to STRING";
    EXPECT_EQ(got.integer, r.integer) << "to INTEGER";
    EXPECT_EQ(got.uinteger, r.uinteger) << "to UINTEGER";
  }
}

TEST(ConvertData, RealIntoRealKeepsBitsButQuietsSignallingNans) {
  const struct {
    std::uint64_t in, out;
  } rows[] = {
      {0x8000000000000000u, 0x8000000000000000u},  // -0.0
      {0x0000000000000001u, 0x0000000000000001u},  // smallest subnormal
      {0x7FF0000000000000u, 0x7FF0000000000000u},  // +inf
      {0xFFF0000000000000u, 0xFFF0000000000000u},  // -inf
      {0x7FEFFFFFFFFFFFFFu, 0x7FEFFFFFFFFFFFFFu},  // largest finite
      {0x7FF8000000000123u, 0x7FF8000000000123u},  // quiet NaN keeps its payload
      {0x7FF0000000000001u, 0x7FF8000000000001u},  // signalling NaN arrives quiet
      {0xFFF4000000000000u, 0xFFFC000000000000u},
      {0x7FF7FFFFFFFFFFFFu, 0x7FFFFFFFFFFFFFFFu},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << r.in);
    const double in = from_bits(r.in);
    double out = 0;
    convert_data(1, DataTypeId::REAL, &in, DataTypeId::REAL, &out);
    EXPECT_EQ(bits_of(out), r.out);
  }
}

TEST(ConvertData, LargeRealCopiesQuietEveryNanAtAnyAlignment) {
  // Large enough for the streaming copy of big arrays; odd offsets test its first element.
  constexpr std::size_t kCount = (std::size_t{9} << 20) / 8 + 3;
  std::vector<std::uint64_t> src(kCount + 1);
  for (std::size_t i = 0; i < src.size(); ++i)
    src[i] = (i % 5 == 0) ? 0x7FF0000000000000u + i : i * 0x9E3779B97F4A7C15u;
  std::vector<std::uint64_t> want(src.size());
  for (std::size_t i = 0; i < src.size(); ++i)
    convert_data(1, DataTypeId::REAL, &src[i], DataTypeId::REAL, &want[i]);
  for (std::size_t offset : {0, 8, 1}) {
    SCOPED_TRACE(offset);
    std::vector<unsigned char> out(kCount * 8 + 16);
    convert_data(kCount, DataTypeId::REAL, &src[1], DataTypeId::REAL, &out[offset]);
    EXPECT_EQ(0, std::memcmp(&out[offset], &want[1], kCount * 8));
  }
  std::vector<std::uint64_t> in_place(src);
  convert_data(kCount, DataTypeId::REAL, &in_place[1], DataTypeId::REAL, &in_place[1]);
  EXPECT_EQ(0, std::memcmp(&in_place[1], &want[1], kCount * 8));
}

TEST(ConvertData, ByteTypesAndWordTypesCopyIntoEachOther) {
  const std::uint8_t bytes[] = {0x00, 0x7F, 0x80, 0xFF};
  std::uint8_t out[4] = {};
  convert_data(4, DataTypeId::LOGICAL, bytes, DataTypeId::STRING, out);
  EXPECT_EQ(std::memcmp(out, bytes, 4), 0);
  std::memset(out, 0, 4);
  convert_data(4, DataTypeId::STRING, bytes, DataTypeId::LOGICAL, out);
  EXPECT_EQ(std::memcmp(out, bytes, 4), 0);

  const std::int32_t words[] = {-1, kIntMin, 7};
  std::uint32_t as_unsigned[3] = {};
  convert_data(3, DataTypeId::INTEGER, words, DataTypeId::UINTEGER, as_unsigned);
  EXPECT_EQ(as_unsigned[0], 4294967295u);
  EXPECT_EQ(as_unsigned[1], 2147483648u);
  std::int32_t back[3] = {};
  convert_data(3, DataTypeId::UINTEGER, as_unsigned, DataTypeId::INTEGER, back);
  EXPECT_EQ(std::memcmp(back, words, sizeof words), 0);
}

TEST(ConvertData, ZeroCountTouchesNothing) {
  for (Type from : kTypes)
    for (Type to : kTypes)
      convert_data(0, from, nullptr, to, nullptr);
  std::uint8_t guard[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  convert_data(0, DataTypeId::LOGICAL, guard, DataTypeId::REAL, guard);
  EXPECT_EQ(guard[0], 1);
  EXPECT_EQ(guard[7], 8);
}

// A varied source for every type: boundary values mixed with ordinary ones, long enough that
// the vector loops, their tails and the overlap checks all run.
std::vector<unsigned char> sample_source(Type type, std::size_t count) {
  const double reals[] = {0.0,  -0.0,  0.5,          -1.0,          300.5,        -300.5,
                          2147483647.9, 2147483648.0, -2147483649.0, 4294967297.0, 1e19,
                          -1e19, kInf, -kInf, std::numeric_limits<double>::quiet_NaN(),
                          from_bits(0x7FF0000000000001u), 9223372036854774784.0, 123456.75};
  std::vector<unsigned char> bytes(count * get_type_size(type));
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t word = static_cast<std::uint32_t>(i * 2654435761u);
    switch (type) {
      case DataTypeId::REAL: {
        const double value = (i % 3 == 0) ? reals[i % (sizeof reals / sizeof reals[0])]
                                          : static_cast<std::int32_t>(word) / 7.0;
        std::memcpy(&bytes[i * 8], &value, 8);
        break;
      }
      case DataTypeId::INTEGER:
      case DataTypeId::UINTEGER:
        std::memcpy(&bytes[i * 4], &word, 4);
        break;
      default:
        bytes[i] = static_cast<unsigned char>(word >> 13);
    }
  }
  return bytes;
}

TEST(ConvertData, WholeArraysMatchElementByElementConversion) {
  constexpr std::size_t kCount = 1037;  // not a multiple of any vector width
  for (Type from : kTypes) {
    const std::vector<unsigned char> src = sample_source(from, kCount);
    const std::size_t from_size = get_type_size(from);
    for (Type to : kTypes) {
      SCOPED_TRACE(::testing::Message() << get_type_name(from) << " to " << get_type_name(to));
      const std::size_t to_size = get_type_size(to);
      std::vector<unsigned char> whole(kCount * to_size), single(kCount * to_size);
      convert_data(kCount, from, src.data(), to, whole.data());
      for (std::size_t i = 0; i < kCount; ++i)
        convert_data(1, from, &src[i * from_size], to, &single[i * to_size]);
      EXPECT_EQ(whole, single);

      // Unaligned arrays give the same elements.
      std::vector<unsigned char> shifted_src(src.size() + 1), shifted_dst(whole.size() + 1);
      std::memcpy(&shifted_src[1], src.data(), src.size());
      convert_data(kCount, from, &shifted_src[1], to, &shifted_dst[1]);
      EXPECT_EQ(0, std::memcmp(&shifted_dst[1], whole.data(), whole.size()));
    }
  }
}

TEST(ConvertData, InPlaceNarrowingMatchesASeparateDestination) {
  constexpr std::size_t kCount = 517;
  for (Type from : kTypes) {
    for (Type to : kTypes) {
      if (get_type_size(to) > get_type_size(from))
        continue;
      SCOPED_TRACE(::testing::Message() << get_type_name(from) << " to " << get_type_name(to));
      std::vector<unsigned char> buffer = sample_source(from, kCount);
      std::vector<unsigned char> expected(kCount * get_type_size(to));
      convert_data(kCount, from, buffer.data(), to, expected.data());
      convert_data(kCount, from, buffer.data(), to, buffer.data());
      EXPECT_EQ(0, std::memcmp(buffer.data(), expected.data(), expected.size()));
    }
  }
}

}  // namespace
}  // namespace vesk
