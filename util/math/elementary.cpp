// Elementary functions routed through the host math library.
#include "vesk/math.hpp"

#include "vesk/host/host_math.h"
#include "vesk/host/host_util.h"

#include <cmath>

extern "C" {

double vesk_sin(double x) { return host_sin(x); }
double vesk_cos(double x) { return host_cos(x); }
double vesk_tan(double x) { return host_tan(x); }
double vesk_asin(double x) { return host_asin(x); }
double vesk_acos(double x) { return host_acos(x); }
double vesk_atan(double x) { return host_atan(x); }
double vesk_exp(double x) { return host_exp(x); }
double vesk_log(double x) { return host_log(x); }
double vesk_log10(double x) { return host_log10(x); }
double vesk_sinh(double x) { return host_sinh(x); }
double vesk_cosh(double x) { return host_cosh(x); }
double vesk_tanh(double x) { return host_tanh(x); }

double vesk_atan2(double y, double x) {
  // The origin has no angle; the library fixes it at +0 instead of the host's signed answers.
  if (y == 0.0 && x == 0.0)
    return 0.0;
  return host_atan2(y, x);
}

double vesk_pow(double a, double b) {
  constexpr double kIntPowerLimit = 2.0;
  // Converting a double outside the int range to int is undefined behaviour, so the range is
  // tested first; NaN fails both comparisons and infinities fail one.
  if (b >= -kIntPowerLimit && b <= kIntPowerLimit) {
    const int whole = static_cast<int>(b);
    if (static_cast<double>(whole) == b)
      return host_int_power(a, b);
  }
  return host_pow(a, b);
}

double vesk_sqrt(double x) {
  if (x > 0.0)
    return std::sqrt(x);
  if (x == 0.0)
    return 0.0;
  return host_get_nan();
}

}  // extern "C"
