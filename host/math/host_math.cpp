// Stand-in for the host math library: the C library's elementary functions.
#include "vesk/host/host_math.h"

#include <cmath>

extern "C" {

double host_sin(double x) { return std::sin(x); }
double host_cos(double x) { return std::cos(x); }
double host_tan(double x) { return std::tan(x); }
double host_asin(double x) { return std::asin(x); }
double host_acos(double x) { return std::acos(x); }
double host_atan(double x) { return std::atan(x); }
double host_exp(double x) { return std::exp(x); }
double host_log(double x) { return std::log(x); }
double host_log10(double x) { return std::log10(x); }
double host_sinh(double x) { return std::sinh(x); }
double host_cosh(double x) { return std::cosh(x); }
double host_tanh(double x) { return std::tanh(x); }
double host_atan2(double y, double x) { return std::atan2(y, x); }
double host_pow(double base, double exponent) { return std::pow(base, exponent); }

double host_int_power(double base, double exponent) {
  // Exact products and quotients for the small exponents; pow would give the same values but
  // at the cost of a general routine.
  if (exponent == 0.0)
    return 1.0;
  if (exponent == 1.0)
    return base;
  if (exponent == 2.0)
    return base * base;
  if (exponent == -1.0)
    return 1.0 / base;
  if (exponent == -2.0)
    return 1.0 / (base * base);
  return std::pow(base, exponent);
}

}  // extern "C"
