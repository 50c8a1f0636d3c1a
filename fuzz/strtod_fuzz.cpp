// vesk_string_to_double and host_strtod on arbitrary text, against glibc's strtod in the "C"
// locale: the same bits (any NaN matches any NaN) and the same end position.
#include <vesk/host/host_util.h>
#include <vesk/math.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace {

void check(bool holds, const char* what, const std::string& text) {
  if (!holds) {
    std::fprintf(stderr, "strtod mismatch: %s for \"%s\"\n", what, text.c_str());
    std::abort();
  }
}

bool same_number(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) && std::isnan(b);
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

locale_t c_locale() {
  static const locale_t kC = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return kC;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* const begin = text.c_str();

  char* want_end = nullptr;
  const double want = strtod_l(begin, &want_end, c_locale());

  check(same_number(vesk_string_to_double(text), want), "vesk_string_to_double", text);

  char* end = nullptr;
  const double host = host_strtod(host_fpc_context(), begin, &end, 0);
  check(same_number(host, want), "host_strtod value", text);
  check(end == want_end, "host_strtod end position", text);

  // A null context stands for the "C" locale too.
  end = nullptr;
  check(same_number(host_strtod(nullptr, begin, &end, 0), want), "null context value", text);
  check(end == want_end, "null context end position", text);
  return 0;
}
