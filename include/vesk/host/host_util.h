/* The host utility library: allocation, assertion, C strings, output, hashing and parsing. */
#ifndef VESK_HOST_HOST_UTIL_H
#define VESK_HOST_HOST_UTIL_H

#include <stdarg.h>

#if defined(__GNUC__)
/// Lets the compiler check the arguments of a printf-style function against its format: the
/// format is argument `format_index`, the values start at `first_argument` (0 for a va_list).
#define VESK_HOST_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
/// Empty where the compiler has no format checks.
#define VESK_HOST_FORMAT(format_index, first_argument)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Every function here is resolved by the dynamic linker at run time, so a host process may
   supply its own definitions in place of this library's. Sizes are 32-bit unsigned. The
   interning table calls none of them while it holds its lock, so a host's allocation
   functions may themselves intern texts (construct a vesk::TableString), except in the call
   that allocates the table itself, made by the first interning of the process. */

/// Returns a block of at least `size` bytes from the C allocator, or null.
void* host_malloc_checked(unsigned int size);
/// Returns a zero-filled block of a·b bytes, or null when the allocator is exhausted or when
/// a·b does not fit 32 bits (no block larger than a 32-bit size can be described to the host).
void* host_calloc_checked(unsigned int a, unsigned int b);
/// Releases a block from either allocator; null is ignored.
void host_free(void* block);
/// Writes "file:line: message" and a line end to standard error, then returns.
void host_assert(const char* message, const char* file, int line);
/// Length in bytes of the NUL-terminated `s`; `s` must not be null.
unsigned int host_strlen(const char* s);
/// Copy of `s` in memory of the host allocator (release with host_free), or null.
char* host_strdup(const char* s);
/// Copies `source` with its terminator to `destination`; returns `destination`.
char* host_strcpy(char* destination, const char* source);
/// Copies at most `count` characters of `source`, padding with NULs up to `count` as strncpy
/// does; returns `destination`.
char* host_strncpy(char* destination, const char* source, unsigned int count);
/// printf-style output to standard output; returns the number of bytes written or a negative value.
int host_vprintf(const char* format, va_list args) VESK_HOST_FORMAT(1, 0);
/// Bounded printf-style output into `buffer` of `size` bytes, always NUL-terminated when `size`
/// is not 0; returns the length the full output would have.
int host_vsnprintf(char* buffer, unsigned int size, const char* format, va_list args)
    VESK_HOST_FORMAT(3, 0);
/// CRC-32 (the polynomial of zlib and gzip) of `count` bytes, chained from `previous`:
/// host_hash_n_bytes(0, n, b) starts a hash, and the result equals zlib's crc32(previous, b, n).
/// `bytes` may be null when `count` is 0; the result is then `previous`.
unsigned int host_hash_n_bytes(unsigned int previous, unsigned int count, const void* bytes);
/// Writes an unpredictable, not yet existing path name in the temporary directory ($TMPDIR, else
/// /tmp) to `buffer` (2048 characters) and returns it; creates nothing on disk. A null `buffer`
/// uses a buffer owned by the calling thread. Returns null if no name fits.
char* host_tmpnam(char* buffer);
/// The floating-point context handed to host_strtod: the "C" locale that it parses in.
void* host_fpc_context(void);
/// strtod in the "C" locale, correctly rounded, whatever the process locale: leading blanks,
/// sign, decimal and hexadecimal forms, inf and nan, overflow to ±inf and underflow. Sets errno
/// to ERANGE where the C library's strtod does: on overflow and on an underflowed (zero or
/// subnormal, inexact) result.
/// `context` may be null; `end`, when not null, receives the position after the number;
/// `flags` is reserved and ignored.
double host_strtod(void* context, const char* text, char** end, int flags);
/// A quiet NaN.
double host_get_nan(void);
/// The largest finite double.
double host_get_real_max(void);
/// The smallest positive normalised double.
double host_get_real_min(void);

#ifdef __cplusplus
}
#endif

#endif
