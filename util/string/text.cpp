// C-string functions and printf-style output over the host utility library.
#include "vesk/string.hpp"

#include "vesk/host/host_util.h"

#include <cctype>
#include <limits>

namespace {

// The host counts sizes in 32 bits; a larger buffer is still at least that large, so the
// clamp never lets the host write past what the caller owns.
unsigned int host_size(std::size_t size) {
  constexpr std::size_t kMax = std::numeric_limits<unsigned int>::max();
  return static_cast<unsigned int>(size < kMax ? size : kMax);
}

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

extern "C" {

int vesk_vprintf(const char* format, va_list args) { return host_vprintf(format, args); }

int vesk_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = host_vprintf(format, args);
  va_end(args);
  return result;
}

int vesk_vsnprintf(char* buffer, std::size_t size, const char* format, va_list args) {
  return host_vsnprintf(buffer, host_size(size), format, args);
}

int vesk_snprintf(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = host_vsnprintf(buffer, host_size(size), format, args);
  va_end(args);
  return result;
}

std::size_t vesk_strlen(const char* s) { return host_strlen(s); }

char* vesk_strdup(const char* s) { return host_strdup(s); }

char* vesk_strcpy(char* destination, const char* source) {
  return host_strcpy(destination, source);
}

int vesk_strcmp(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a != nullptr ? a : "");
  const auto* y = reinterpret_cast<const unsigned char*>(b != nullptr ? b : "");
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return (*x > *y) - (*x < *y);
}

char* vesk_strtrim(char* destination, const char* source) {
  char* out = destination;
  const char* run = nullptr;  // start of the whitespace seen since the last written character
  bool leading = true;
  for (const char* p = source; *p != '\0'; ++p) {
    if (is_space(*p)) {
      if (run == nullptr)
        run = p;
      continue;
    }
    if (run != nullptr && !leading) {
      // Inner whitespace is written only once a later non-blank shows it is not trailing;
      // the run and this character go out in one copy.
      const auto count = static_cast<unsigned int>(p - run + 1);
      host_strncpy(out, run, count);
      out += count;
    } else {
      *out++ = *p;
    }
    run = nullptr;
    leading = false;
  }
  return out;
}

}  // extern "C"
