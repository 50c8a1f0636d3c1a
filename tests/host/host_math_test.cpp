// Tests of the host math stand-in: the integer power and the forwarded functions.
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

// One value of every forwarded function, at an argument where it differs from its neighbours
// in the list (acos from asin, cosh from sinh, ...).
TEST(HostMath, ForwardsToTheCLibrary) {
  struct Row {
    const char* name;
    double (*host)(double);
    double (*c)(double);
  };
  const Row rows[] = {
      {"sin", host_sin, std::sin},       {"cos", host_cos, std::cos},
      {"tan", host_tan, std::tan},       {"asin", host_asin, std::asin},
      {"acos", host_acos, std::acos},    {"atan", host_atan, std::atan},
      {"exp", host_exp, std::exp},       {"log", host_log, std::log},
      {"log10", host_log10, std::log10}, {"sinh", host_sinh, std::sinh},
      {"cosh", host_cosh, std::cosh},    {"tanh", host_tanh, std::tanh},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.host(0.3), row.c(0.3)) << row.name;
  EXPECT_EQ(host_atan2(0.5, -1.0), std::atan2(0.5, -1.0));
  EXPECT_EQ(host_pow(2.0, 0.5), std::pow(2.0, 0.5));
}

}  // namespace
