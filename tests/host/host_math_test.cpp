// Tests of the host math stand-in's integer power.
#include <vesk/host/host_math.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(HostIntPower, SmallIntegralExponents) {
  struct Case {
    double base, exponent, expected;
  };
  const Case cases[] = {
      {3.0, 0.0, 1.0},   {3.0, -0.0, 1.0},  {3.0, 1.0, 3.0},       {3.0, 2.0, 9.0},
      {3.0, -1.0, 1.0 / 3.0}, {3.0, -2.0, 1.0 / 9.0}, {0.0, -1.0, HUGE_VAL}, {-2.0, 2.0, 4.0},
      {0.0, 0.0, 1.0},   {1e200, 2.0, HUGE_VAL},
  };
  for (const Case& c : cases)
    EXPECT_EQ(host_int_power(c.base, c.exponent), c.expected) << c.base << "^" << c.exponent;
  EXPECT_TRUE(std::isnan(host_int_power(std::nan(""), 1.0)));
}

TEST(HostMath, ForwardsToTheCLibrary) {
  EXPECT_EQ(host_atan2(0.0, -1.0), std::atan2(0.0, -1.0));
  EXPECT_EQ(host_pow(2.0, 0.5), std::pow(2.0, 0.5));
  EXPECT_EQ(host_log10(1000.0), 3.0);
}

}  // namespace
