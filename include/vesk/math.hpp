// Numeric services: IEEE special values and tests, string-to-double, elementary functions.
#ifndef VESK_MATH_HPP
#define VESK_MATH_HPP

#include "vesk/base.hpp"

#include <string>

extern "C" {

/// +infinity (bit pattern 0x7FF0000000000000).
VESK_API double vesk_get_inf();
/// The host's quiet NaN.
VESK_API double vesk_get_nan();
/// 2^-52, the distance from 1.0 to the next larger double.
VESK_API double vesk_get_eps();
/// The double nearest pi (0x400921FB54442D18).
VESK_API double vesk_get_pi();
/// The host's largest finite double.
VESK_API double vesk_get_real_max();
/// The host's smallest positive normalised double.
VESK_API double vesk_get_real_min();
/// 1 if `x` is neither infinite nor a NaN, else 0.
VESK_API int vesk_is_finite(double x);
/// True if `x` is +inf or -inf.
VESK_API bool vesk_is_inf(double x);
/// 1 if `x` is a NaN of any sign or kind, else 0.
VESK_API int vesk_is_nan(double x);

VESK_API double vesk_sin(double x);   ///< host_sin(x), x in radians.
VESK_API double vesk_cos(double x);   ///< host_cos(x), x in radians.
VESK_API double vesk_tan(double x);   ///< host_tan(x), x in radians.
VESK_API double vesk_asin(double x);  ///< host_asin(x), in radians.
VESK_API double vesk_acos(double x);  ///< host_acos(x), in radians.
VESK_API double vesk_atan(double x);  ///< host_atan(x), in radians.
VESK_API double vesk_exp(double x);   ///< host_exp(x).
VESK_API double vesk_log(double x);   ///< host_log(x), the natural logarithm.
VESK_API double vesk_log10(double x); ///< host_log10(x).
VESK_API double vesk_sinh(double x);  ///< host_sinh(x).
VESK_API double vesk_cosh(double x);  ///< host_cosh(x).
VESK_API double vesk_tanh(double x);  ///< host_tanh(x).
/// +0.0 when both `y` and `x` are zero (of either sign); otherwise host_atan2(y, x).
VESK_API double vesk_atan2(double y, double x);
/// host_int_power(a, b) when `b` is an integral value in [-2, 2]; otherwise host_pow(a, b).
VESK_API double vesk_pow(double a, double b);
/// The correctly rounded square root for `x` > 0, +0.0 for ±0, the host's NaN otherwise.
VESK_API double vesk_sqrt(double x);

}  // extern "C"

/// The double that the host's string-to-double reads from `s` in the "C" locale ("1e3" -> 1000,
/// "0x1p-2" -> 0.25, "" -> 0); text that is not a number gives the host's answer unchecked.
VESK_API double vesk_string_to_double(const std::string& s);

#endif
