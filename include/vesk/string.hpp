// Text services: C-string functions and printf-style output, std::string utilities.
#ifndef VESK_STRING_HPP
#define VESK_STRING_HPP

#include "vesk/base.hpp"

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

extern "C" {

/// printf-style output to the host's output (standard output); returns the host's count.
VESK_API int vesk_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// As vesk_printf, with the arguments in `args`.
VESK_API int vesk_vprintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
/// Bounded printf-style output into `buffer` of `size` bytes (NUL-terminated when `size` is
/// not 0); returns the length of the full output. Sizes above 4 GiB - 1 are taken as that.
VESK_API int vesk_snprintf(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/// As vesk_snprintf, with the arguments in `args`.
VESK_API int vesk_vsnprintf(char* buffer, std::size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
/// Length of the NUL-terminated `s` in bytes; `s` must not be null.
VESK_API std::size_t vesk_strlen(const char* s);
/// Copy of `s` in host memory, released with vesk_free; `s` must not be null.
VESK_API char* vesk_strdup(const char* s);
/// Copies `source` with its terminator to `destination`; returns `destination`.
VESK_API char* vesk_strcpy(char* destination, const char* source);
/// Compares bytes as unsigned values; a null pointer counts as "". Returns exactly -1, 0 or +1:
/// ("ab", "abc") -> -1, (nullptr, "") -> 0, ("\xE9", "A") -> +1.
VESK_API int vesk_strcmp(const char* a, const char* b);
/// Copies `source` without leading and trailing whitespace (space, \t, \n, \v, \f, \r in the
/// "C" locale) to `destination` and returns the position after the last byte written; writes no
/// terminator. "  x\ty\n" -> "x\ty" (returns destination + 3); " \t " -> nothing.
/// `destination` needs room for strlen(source) bytes; neither pointer may be null.
VESK_API char* vesk_strtrim(char* destination, const char* source);

}  // extern "C"

namespace vesk {

/// `s` with A-Z mapped to a-z by the current locale's tolower; the length never changes and
/// embedded NULs stay. "MiXeD 123" -> "mixed 123".
VESK_API std::string lower(const std::string& s);
/// `s` without leading and trailing whitespace, read up to its first NUL; inner whitespace is
/// kept. "  a  b " -> "a  b"; " \t\n" -> ""; "a\0 b" -> "a".
VESK_API std::string trim(const std::string& s);
/// The tokens of `s` between unescaped `delimiter`s; a backslash before the delimiter makes it
/// part of the token. Never empty. (',', "a,,b") -> {"a", "", "b"}; (',', "a\\,b") -> {"a,b"};
/// (',', "") -> {""}.
VESK_API std::vector<std::string> tokenize(char delimiter, const std::string& s);
/// Copies `s` into `out` of `size` bytes, always NUL-terminated, cutting it if needed; true if
/// all of `s` fitted. ("xyz", 4) -> "xyz", true; ("xyz", 3) -> "xy", false. A `size` of 0 writes
/// nothing and returns false.
VESK_API bool fill(const std::string& s, char* out, unsigned int size);

}  // namespace vesk

#endif
