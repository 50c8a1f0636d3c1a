// IEEE values, locale-independent parsing and elementary functions.
#include <vesk/math.hpp>

#include <cstdio>

int main() {
  // Parsed in the "C" locale whatever the process locale is.
  const double x = vesk_string_to_double("2.5e-1");
  std::printf("%g %g %g\n", x, vesk_sqrt(x), vesk_pow(x, 2.0));  // 0.25 0.5 0.0625

  std::printf("%d %d\n", vesk_is_nan(vesk_sqrt(-1.0)), vesk_is_finite(vesk_get_inf()));  // 1 0
  std::printf("%g %.17g\n", vesk_atan2(0.0, -0.0), vesk_get_pi());  // 0 3.1415926535897931
}
