// Locale-independent string-to-double conversion: std::from_chars for plain decimal numbers,
// strtod_l in the "C" locale for everything else.
#include "strtod_fast.hpp"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <system_error>

namespace vesk::host::detail {

void* c_locale() {
  static const locale_t kC = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return kC;
}

namespace {

constexpr bool is_c_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double strtod_c(void* locale, const char* text, char** end) {
  // from_chars parses the decimal form exactly as strtod does, correctly rounded and without
  // looking at the locale, but it takes no blanks, no '+', no "0x" prefix and reports overflow
  // and underflow instead of producing ±inf or a rounded tiny value. Those cases, and inf and
  // nan, go to strtod_l, which defines them and sets errno as the C library's strtod does.
  const char* p = text;
  while (is_c_space(*p))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (!hex && (is_digit(p[0]) || (p[0] == '.' && is_digit(p[1])))) {
    double value = 0.0;
    const auto [stop, error] = std::from_chars(p, p + std::strlen(p), value);
    // A result at or below the smallest normal double may have underflowed, which strtod
    // reports with ERANGE and from_chars does not: strtod_l decides those.
    if (error == std::errc() && !(value != 0.0 && std::fabs(value) <= DBL_MIN)) {
      if (end != nullptr)
        *end = const_cast<char*>(stop);
      return negative ? -value : value;
    }
  }
  auto c = static_cast<locale_t>(locale != nullptr ? locale : c_locale());
  return strtod_l(text, end, c);
}

}  // namespace vesk::host::detail
