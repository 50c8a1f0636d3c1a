// IEEE special values, classification tests and string-to-double conversion.
#include "vesk/math.hpp"

#include "vesk/host/host_util.h"

#include <cstdint>
#include <cstring>

namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

double from_bits(std::uint64_t bits) {
  double x = 0.0;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

bool is_infinite(double x) {
  const std::uint64_t bits = bits_of(x);
  const auto high = static_cast<std::uint32_t>(bits >> 32);
  const auto low = static_cast<std::uint32_t>(bits);
  return (high & 0x7FFFFFFFu) == 0x7FF00000u && low == 0;
}

// A NaN is the one value that is unordered with itself; the test is written so that it holds
// for every NaN, quiet or signalling, of either sign.
bool is_not_a_number(double x) { return !(x == x); }

}  // namespace

extern "C" {

double vesk_get_inf() { return from_bits(0x7FF0000000000000ull); }
double vesk_get_nan() { return host_get_nan(); }
double vesk_get_eps() { return from_bits(0x3CB0000000000000ull); }
double vesk_get_pi() { return from_bits(0x400921FB54442D18ull); }
double vesk_get_real_max() { return host_get_real_max(); }
double vesk_get_real_min() { return host_get_real_min(); }

int vesk_is_finite(double x) {
  if (is_infinite(x))
    return 0;
  if (is_not_a_number(x))
    return 0;
  return 1;
}

bool vesk_is_inf(double x) { return is_infinite(x); }

int vesk_is_nan(double x) { return is_not_a_number(x) ? 1 : 0; }

}  // extern "C"

double vesk_string_to_double(const std::string& s) {
  void* context = host_fpc_context();
  return host_strtod(context, s.c_str(), nullptr, 0);
}
