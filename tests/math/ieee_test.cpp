// Tests of the IEEE constants and classification tests.
#include <vesk/math.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

double from_bits(std::uint64_t bits) {
  double x = 0.0;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

std::uint64_t bits_of(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

TEST(IeeeConstants, ExactBitPatterns) {
  EXPECT_EQ(bits_of(vesk_get_inf()), 0x7FF0000000000000ull);
  EXPECT_EQ(bits_of(vesk_get_eps()), 0x3CB0000000000000ull);
  EXPECT_EQ(bits_of(vesk_get_pi()), 0x400921FB54442D18ull);
  EXPECT_EQ(1.0 + vesk_get_eps(), std::nextafter(1.0, 2.0));
  EXPECT_EQ(vesk_get_real_max(), std::numeric_limits<double>::max());
  EXPECT_EQ(vesk_get_real_min(), std::numeric_limits<double>::min());
  EXPECT_NE(vesk_get_nan(), vesk_get_nan());
}

TEST(IeeeTests, ClassifyEveryKindOfValue) {
  struct Case {
    std::uint64_t bits;
    int finite;
    bool inf;
    int nan;
  };
  const Case cases[] = {
      {0x0000000000000000ull, 1, false, 0},  // +0
      {0x8000000000000000ull, 1, false, 0},  // -0
      {0x0000000000000001ull, 1, false, 0},  // smallest subnormal
      {0x7FEFFFFFFFFFFFFFull, 1, false, 0},  // largest finite
      {0xFFEFFFFFFFFFFFFFull, 1, false, 0},  // most negative finite
      {0x7FF0000000000000ull, 0, true, 0},   // +inf
      {0xFFF0000000000000ull, 0, true, 0},   // -inf
      {0x7FF0000000000001ull, 0, false, 1},  // signalling NaN
      {0x7FF8000000000000ull, 0, false, 1},  // quiet NaN
      {0xFFF8000000000000ull, 0, false, 1},  // negative quiet NaN
      {0xFFFFFFFFFFFFFFFFull, 0, false, 1},
      {0x7FF0000100000000ull, 0, false, 1},  // NaN whose low word is zero
  };
  for (const Case& c : cases) {
    const double x = from_bits(c.bits);
    EXPECT_EQ(vesk_is_finite(x), c.finite) << std::hex << c.bits;
    EXPECT_EQ(vesk_is_inf(x), c.inf) << std::hex << c.bits;
    EXPECT_EQ(vesk_is_nan(x), c.nan) << std::hex << c.bits;
  }
  EXPECT_EQ(vesk_is_nan(vesk_get_nan()), 1);
  EXPECT_EQ(vesk_is_nan(vesk_get_inf()), 0);
}

TEST(StringToDouble, ReadsTheCForms) {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"1e3", 1000.0}, {"  -2.5", -2.5}, {"0x1p-2", 0.25}, {"", 0.0}, {"junk", 0.0},
      {"0.1", 0.1},    {"1e999", std::numeric_limits<double>::infinity()},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vesk_string_to_double(c.text), c.expected) << c.text;
  EXPECT_EQ(vesk_string_to_double(std::string("7\0" "5", 3)), 7.0);
}

}  // namespace
