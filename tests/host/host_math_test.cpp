// Tests of the host math stand-in: the integer power and the forwarded functions, and the
// library's plain forwards to them.
#include <vesk/host/host_math.h>
#include <vesk/math.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The bits of `x`, so that a NaN (log of a negative) compares equal to the same NaN.
std::uint64_t bits_of(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

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

// Every forwarded function of the host, and the library's function of the same name, give
// what the C library's gives, at arguments where no two of them agree (acos and asin, cosh
// and sinh, ...).
TEST(HostMath, ForwardsToTheCLibrary) {
  struct Row {
    const char* name;
    double (*host)(double);
    double (*library)(double);
    double (*c)(double);
  };
  const Row rows[] = {
      {"sin", host_sin, vesk_sin, std::sin},         {"cos", host_cos, vesk_cos, std::cos},
      {"tan", host_tan, vesk_tan, std::tan},         {"asin", host_asin, vesk_asin, std::asin},
      {"acos", host_acos, vesk_acos, std::acos},     {"atan", host_atan, vesk_atan, std::atan},
      {"exp", host_exp, vesk_exp, std::exp},         {"log", host_log, vesk_log, std::log},
      {"log10", host_log10, vesk_log10, std::log10}, {"sinh", host_sinh, vesk_sinh, std::sinh},
      {"cosh", host_cosh, vesk_cosh, std::cosh},     {"tanh", host_tanh, vesk_tanh, std::tanh},
  };
  for (const Row& row : rows) {
    for (double x : {0.3, 0.75, -0.3, 1e-3}) {
      EXPECT_EQ(bits_of(row.host(x)), bits_of(row.c(x))) << "host " << row.name << "(" << x << ")";
      EXPECT_EQ(bits_of(row.library(x)), bits_of(row.c(x)))
          << "vesk " << row.name << "(" << x << ")";
    }
  }
  EXPECT_EQ(host_atan2(0.5, -1.0), std::atan2(0.5, -1.0));
  EXPECT_EQ(host_pow(2.0, 0.5), std::pow(2.0, 0.5));
}

}  // namespace
