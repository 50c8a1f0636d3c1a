// Stand-in for the host utility library: allocation, assertion, C strings, output, CRC-32,
// temporary names and locale-independent string-to-double conversion.
#include "vesk/host/host_util.h"

#include "strtod_fast.hpp"

#include <isa-l/crc.h>
#include <libdeflate.h>
#include <sys/random.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Below this many bytes libdeflate's CRC (tables, then carry-less multiplication) beats
// ISA-L's folding kernel, whose set-up only pays off on longer runs; from 256 bytes on ISA-L is
// fastest. ISA-L also leaves the wide vector unit in a state that slows the caller's next
// vector code, which on short keys costs more than the hash itself (a TableString lookup of a
// 12-byte text took twice as long with ISA-L below 16 bytes). Both compute zlib's CRC-32 with
// zlib's chaining, and both are at or above zlib's speed at every length. Measured side by
// side in bench/host_bench.cpp and bench/string_bench.cpp.
constexpr unsigned int kShortCrcBytes = 256;

constexpr unsigned int kTmpnamBufferSize = 2048;

// Fills `bytes` from the kernel's random source; falls back to /dev/urandom if getrandom is
// unavailable (old kernels, seccomp filters).
bool fill_random(unsigned char* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = getrandom(bytes + done, count - done, 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (done == count)
    return true;
  std::FILE* urandom = std::fopen("/dev/urandom", "rb");
  if (urandom == nullptr)
    return false;
  const std::size_t read = std::fread(bytes + done, 1, count - done, urandom);
  std::fclose(urandom);
  return done + read == count;
}

}  // namespace

extern "C" {

void* host_malloc_checked(unsigned int size) { return std::malloc(size); }

void* host_calloc_checked(unsigned int a, unsigned int b) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(a) * b;
  if (bytes > std::numeric_limits<unsigned int>::max())
    return nullptr;
  return std::calloc(a, b);
}

void host_free(void* block) { std::free(block); }

void host_assert(const char* message, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: %s\n", file != nullptr ? file : "(unknown)", line,
               message != nullptr ? message : "(no message)");
  std::fflush(stderr);
}

unsigned int host_strlen(const char* s) { return static_cast<unsigned int>(std::strlen(s)); }

char* host_strdup(const char* s) {
  const std::size_t size = std::strlen(s) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr)
    std::memcpy(copy, s, size);
  return copy;
}

char* host_strcpy(char* destination, const char* source) {
  return std::strcpy(destination, source);
}

char* host_strncpy(char* destination, const char* source, unsigned int count) {
  return std::strncpy(destination, source, count);
}

int host_vprintf(const char* format, va_list args) { return std::vprintf(format, args); }

int host_vsnprintf(char* buffer, unsigned int size, const char* format, va_list args) {
  return std::vsnprintf(buffer, size, format, args);
}

unsigned int host_hash_n_bytes(unsigned int previous, unsigned int count, const void* bytes) {
  // An empty run leaves the running value as it is, whatever `bytes` is (zlib would answer a
  // null pointer with its initial value 0 and break the chain).
  if (count == 0)
    return previous;
  if (count < kShortCrcBytes)
    return libdeflate_crc32(previous, bytes, count);
  return crc32_gzip_refl(previous, static_cast<const unsigned char*>(bytes), count);
}

char* host_tmpnam(char* buffer) {
  static thread_local char own[kTmpnamBufferSize];
  char* out = buffer != nullptr ? buffer : own;

  const char* dir = std::getenv("TMPDIR");
  std::size_t dir_size = dir != nullptr ? std::strlen(dir) : 0;
  while (dir_size > 1 && dir[dir_size - 1] == '/')
    --dir_size;
  // The name is dir + "/vesk-" + 24 hex digits + NUL; a directory too long for that falls back
  // to /tmp rather than truncating into some other directory.
  constexpr std::size_t kSuffix = 6 + 24 + 1;
  if (dir_size == 0 || dir_size + kSuffix > kTmpnamBufferSize) {
    dir = "/tmp";
    dir_size = 4;
  }

  unsigned char random[12];
  if (!fill_random(random, sizeof random))
    return nullptr;

  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t at = 0;
  if (!(dir_size == 1 && dir[0] == '/')) {
    std::memcpy(out, dir, dir_size);
    at = dir_size;
  }
  std::memcpy(out + at, "/vesk-", 6);
  at += 6;
  for (unsigned char byte : random) {
    out[at++] = kHex[byte >> 4];
    out[at++] = kHex[byte & 0x0F];
  }
  out[at] = '\0';
  return out;
}

void* host_fpc_context(void) { return vesk::host::detail::c_locale(); }

double host_strtod(void* context, const char* text, char** end, int flags) {
  static_cast<void>(flags);
  return vesk::host::detail::strtod_c(context, text, end);
}

double host_get_nan(void) { return std::numeric_limits<double>::quiet_NaN(); }

double host_get_real_max(void) { return DBL_MAX; }

double host_get_real_min(void) { return DBL_MIN; }

}  // extern "C"
