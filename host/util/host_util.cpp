// Stand-in for the host utility library: allocation, assertion, C strings, output, CRC-32,
// temporary names and locale-independent string-to-double conversion.
#include "vesk/host/host_util.h"

#include "strtod_fast.hpp"

#include <isa-l/crc.h>
#include <libdeflate.h>
#include <sys/random.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// From 17 bytes (shorter runs: see kTinyCrcBytes) up to this many, libdeflate's CRC
// (carry-less multiplication) beats ISA-L's folding kernel, whose set-up only pays off on
// longer runs; from 256 bytes on ISA-L is fastest. ISA-L also leaves the wide vector unit in
// a state that slows the caller's next vector code, which on short keys costs more than the
// hash itself (a TableString lookup of a 12-byte text took twice as long with ISA-L below 16
// bytes). All three compute zlib's CRC-32 with zlib's chaining, each at or above zlib's speed
// at its lengths. Measured side by side in bench/host_bench.cpp and bench/string_bench.cpp.
constexpr unsigned int kShortCrcBytes = 256;

// Runs of kTinyCrcFirst bytes up to below kTinyCrcBytes are hashed here with carry-less
// multiplication, with no branch on the length: libdeflate handles runs below 16 bytes a byte
// at a time (33 ns for 12 bytes against 12 ns here, in a chain of calls), and identifiers, the
// interning table's keys, are mostly this short. A TableString lookup of 8-to-16-byte texts
// also runs faster when every length takes the same path, 16 included, since a mispredicted
// branch discards the work already done on the caller's next lookups. Below five bytes
// libdeflate's byte loop is as fast.
constexpr unsigned int kTinyCrcFirst = 5;
constexpr unsigned int kTinyCrcBytes = 17;

// A build without CPU dispatch (VESK_NO_CPU_DISPATCH) leaves these runs to libdeflate.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(VESK_NO_CPU_DISPATCH)
#define VESK_HOST_CLMUL_CRC 1

std::uint32_t load_le32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

std::uint64_t load_le64(const unsigned char* bytes) {
  return load_le32(bytes) | std::uint64_t{load_le32(bytes + 4)} << 32;
}

// Bit-reflected CRC-32 (polynomial 0x04C11DB7, zlib's) without the pre- and post-inversion. A
// 64-bit value is a polynomial of degree below 64 with bit k the coefficient of x^(63-k); a
// 32-bit state has bit j the coefficient of x^(31-j).
namespace clmul_crc {

// Barrett reduction constants, reflected and shifted for the reflected product: the
// quotient floor(x^64 / P) and P itself, both 33 bits.
constexpr long long kMu = 0x1F7011641;
constexpr long long kPoly = 0x1DB710641;

// `value` mod P.
__attribute__((target("pclmul,sse4.1"))) inline std::uint32_t reduce(std::uint64_t value) {
  const __m128i v = _mm_cvtsi64_si128(static_cast<long long>(value));
  const __m128i constants = _mm_set_epi64x(kMu, kPoly);
  const __m128i low32 = _mm_set_epi64x(0, 0xFFFFFFFF);
  const __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(v, low32), constants, 0x10);
  const __m128i product = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), constants, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(v, product), 1));
}

// x^n mod P, reflected.
constexpr std::uint32_t power_of_x(unsigned int n) {
  std::uint32_t value = 0x80000000u;
  for (; n != 0; --n)
    value = (value >> 1) ^ ((value & 1u) != 0 ? 0xEDB88320u : 0u);
  return value;
}

// a times b, two polynomials of degree below 32; the product in the low 63 bits.
__attribute__((target("pclmul,sse4.1"))) inline __m128i multiply(std::uint32_t a,
                                                                std::uint32_t b) {
  return _mm_clmulepi64_si128(_mm_cvtsi32_si128(static_cast<int>(a)),
                              _mm_cvtsi32_si128(static_cast<int>(b)), 0x00);
}

// For a run of `count` bytes (5 to 16) loaded as its first and last eight bytes (or, below
// eight, its first and last four), the byte shuffle that places the run at the end of sixteen
// bytes with zeros before it.
struct GatherMasks {
  alignas(16) unsigned char mask[17][16];
};

constexpr GatherMasks make_gather_masks() {
  GatherMasks masks{};
  for (unsigned int count = 0; count <= 16; ++count) {
    for (unsigned int at = 0; at < 16; ++at) {
      unsigned char source = 0x80;  // a zero byte
      if (count >= 4 && at >= 16 - count) {
        const unsigned int byte = at - (16 - count);
        const unsigned int half = count >= 8 ? 8 : 4;
        source = static_cast<unsigned char>(byte < half ? byte : half + byte - (count - half));
      }
      masks.mask[count][at] = source;
    }
  }
  return masks;
}

constexpr GatherMasks kGatherMasks = make_gather_masks();

// zlib's crc32(previous, bytes, count) for 5 <= count <= 16, with no loop: the run, the state
// folded into its first four bytes, is placed at the end of sixteen bytes (leading zero bytes
// do not change a polynomial), and the four 32-bit quarters times x^128, x^96, x^64 and x^32
// are summed and reduced once.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t crc32_5_to_16(std::uint32_t previous,
                                                                    const unsigned char* bytes,
                                                                    unsigned int count) {
  const std::uint64_t state = static_cast<std::uint32_t>(~previous);
  const __m128i ends =
      count >= 8 ? _mm_set_epi64x(static_cast<long long>(load_le64(bytes + count - 8)),
                                  static_cast<long long>(load_le64(bytes) ^ state))
                 : _mm_cvtsi64_si128(static_cast<long long>(
                       (load_le32(bytes) ^ state) | std::uint64_t{load_le32(bytes + count - 4)}
                                                        << 32));
  const __m128i padded = _mm_shuffle_epi8(
      ends, _mm_load_si128(reinterpret_cast<const __m128i*>(kGatherMasks.mask[count])));
  const auto first = static_cast<std::uint64_t>(_mm_cvtsi128_si64(padded));
  const auto second = static_cast<std::uint64_t>(_mm_extract_epi64(padded, 1));
  const __m128i products =
      _mm_xor_si128(_mm_xor_si128(multiply(static_cast<std::uint32_t>(first), power_of_x(128)),
                                  multiply(static_cast<std::uint32_t>(first >> 32),
                                           power_of_x(96))),
                    multiply(static_cast<std::uint32_t>(second), power_of_x(64)));
  // A product's bit t is the coefficient of x^(62-t): one place up to the 64-bit layout.
  const std::uint64_t sum =
      static_cast<std::uint64_t>(_mm_cvtsi128_si64(products)) << 1 ^ (second >> 32);
  return ~reduce(sum);
}

const bool kAvailable = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");

}  // namespace clmul_crc
#endif

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
  (void)std::fclose(urandom);  // a stream only read from loses nothing when closing fails
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
  // The report is all this function does; if stderr fails there is nowhere left to say so.
  (void)std::fprintf(stderr, "%s:%d: %s\n", file != nullptr ? file : "(unknown)", line,
                     message != nullptr ? message : "(no message)");
  (void)std::fflush(stderr);
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
  // NOLINTNEXTLINE(clang-analyzer-security.insecureAPI.strcpy): strcpy is its contract
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
#ifdef VESK_HOST_CLMUL_CRC
  if (count - kTinyCrcFirst < kTinyCrcBytes - kTinyCrcFirst && clmul_crc::kAvailable)
    return clmul_crc::crc32_5_to_16(previous, static_cast<const unsigned char*>(bytes), count);
#endif
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
