/* The host math library: elementary functions on doubles. */
#ifndef VESK_HOST_HOST_MATH_H
#define VESK_HOST_HOST_MATH_H

#ifdef __cplusplus
extern "C" {
#endif

/* The C library's functions of the same names; a host process may supply its own. */
double host_sin(double x);   ///< sin(x), x in radians.
double host_cos(double x);   ///< cos(x), x in radians.
double host_tan(double x);   ///< tan(x), x in radians.
double host_asin(double x);  ///< asin(x) in radians.
double host_acos(double x);  ///< acos(x) in radians.
double host_atan(double x);  ///< atan(x) in radians.
double host_exp(double x);   ///< e to the power x.
double host_log(double x);   ///< Natural logarithm.
double host_log10(double x); ///< Base-10 logarithm.
double host_sinh(double x);  ///< Hyperbolic sine.
double host_cosh(double x);  ///< Hyperbolic cosine.
double host_tanh(double x);  ///< Hyperbolic tangent.
/// atan2(y, x) in radians.
double host_atan2(double y, double x);
/// `base` to the power `exponent`, as the C library's pow.
double host_pow(double base, double exponent);
/// `base` to an integral power in [-2, 2]: 1, a, a·a, 1/a, 1/(a·a) for 0, 1, 2, -1, -2.
/// Other exponents are passed to host_pow.
double host_int_power(double base, double exponent);

#ifdef __cplusplus
}
#endif

#endif
