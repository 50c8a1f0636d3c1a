// Element-wise conversion between the five scalar types, one vectorisable loop per type pair.
#include "vesk/data.hpp"

#include "util/data/element_ops.hpp"

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk {

namespace {

using detail::load_element;
using detail::store_element;

using Converter = void (*)(unsigned int count, const void* src, void* dst);

// Every converter is this loop: element i is read before element i is written and i only
// grows, so a target no wider than the source may overwrite the source in place. The
// compiler's overlap check sends such calls to the scalar copy of the loop.
template <class Source, class Target, class Rule>
__attribute__((always_inline)) inline void convert_each(unsigned int count, const void* src,
                                                        void* dst, Rule rule) {
  for (std::size_t i = 0; i < count; ++i)
    store_element<Target>(dst, i, rule(load_element<Source>(src, i)));
}

// Same bits in the same width: LOGICAL and STRING into each other, INTEGER and UINTEGER into
// each other, and each type into itself except REAL.
template <std::size_t kWidth>
void copy_bits(unsigned int count, const void* src, void* dst) {
  if (src != dst)
    std::memmove(dst, src, std::size_t{count} * kWidth);
}

// From REAL, t is the value truncated toward zero. The range is tested before any
// conversion, because converting an out-of-range double to an integer is undefined: values
// outside the range are replaced by 0.0 first, with selects rather than branches so the
// loop stays vectorisable. Comparisons with a NaN are false, so NaNs take the 0.0 path.
inline bool truncates_into_int32(double x) {
  // trunc(x) >= -2^31 exactly when x > -2^31 - 1, and trunc(x) <= 2^31 - 1 when x < 2^31.
  return (x > -2147483649.0) & (x < 2147483648.0);
}

inline std::int32_t truncate_int32_or_zero(double x) {
  return static_cast<std::int32_t>(truncates_into_int32(x) ? x : 0.0);
}

// Rule I: -2147483648 for a NaN or a t outside the int32 range, else t.
inline std::int32_t real_to_integer(double x) {
  const bool in_range = truncates_into_int32(x);
  const std::int32_t t = static_cast<std::int32_t>(in_range ? x : 0.0);
  return in_range ? t : std::numeric_limits<std::int32_t>::min();
}

// Rule B: the byte 0 for a NaN or a t outside the int32 range, else the low 8 bits of t.
inline std::uint8_t real_to_byte(double x) {
  return static_cast<std::uint8_t>(truncate_int32_or_zero(x));
}

// Rule U: 0 for a NaN or |t| >= 2^63, else t modulo 2^32. The remainder is computed in
// doubles, where every step is exact for an integral |t| < 2^63, so the loop needs no 64-bit
// integer conversion (which has no vector form before AVX-512).
inline std::uint32_t real_to_uinteger(double x) {
  constexpr double kTwo32 = 4294967296.0;
  const double t = std::trunc(std::fabs(x) < 9223372036854775808.0 ? x : 0.0);
  const double remainder = t - kTwo32 * std::floor(t * (1.0 / kTwo32));  // in [0, 2^32)
  // Shift [0, 2^32) into the int32 range for the conversion, then shift the bits back.
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(remainder - 2147483648.0)) ^
         0x80000000u;
}

// Exact: the top bit is moved out of the way and added back as a double.
inline double uinteger_to_real(std::uint32_t u) {
  return static_cast<double>(static_cast<std::int32_t>(u ^ 0x80000000u)) + 2147483648.0;
}

// The conversions that do more than copy bits, each compiled once per target clone.
#define VESK_CONVERTER(name, Source, Target, expression)                                  \
  VESK_TARGET_CLONES void name(unsigned int count, const void* src, void* dst) {          \
    convert_each<Source, Target>(count, src, dst,                                         \
                                 [](Source x) -> Target { return (expression); });        \
  }

VESK_CONVERTER(logical_to_real, std::uint8_t, double, static_cast<double>(x))
VESK_CONVERTER(logical_to_word, std::uint8_t, std::uint32_t, x)
VESK_CONVERTER(string_to_real, std::int8_t, double, static_cast<double>(x))
VESK_CONVERTER(string_to_word, std::int8_t, std::uint32_t,
               static_cast<std::uint32_t>(static_cast<std::int32_t>(x)))
VESK_CONVERTER(word_to_byte, std::uint32_t, std::uint8_t, static_cast<std::uint8_t>(x))
VESK_CONVERTER(integer_to_real, std::int32_t, double, static_cast<double>(x))
VESK_CONVERTER(uinteger_to_real_each, std::uint32_t, double, uinteger_to_real(x))
VESK_CONVERTER(real_to_byte_each, double, std::uint8_t, real_to_byte(x))
VESK_CONVERTER(real_to_integer_each, double, std::int32_t, real_to_integer(x))
VESK_CONVERTER(real_to_uinteger_each, double, std::uint32_t, real_to_uinteger(x))
// REAL into REAL passes each value through unchanged except that a signalling NaN comes out
// quiet, as a copy through the floating-point registers of the x87 unit does.
VESK_CONVERTER(real_to_real_each, std::uint64_t, std::uint64_t, detail::quiet_nan_bits(x))

#if defined(__SSE2__)
// Copies this large do not stay in cache anyway; like memcpy, they are written with
// non-temporal stores, which spare the bus the read of each destination line before it is
// overwritten. The quieting is quiet_nan_bits on two elements at a time.
constexpr std::size_t kStreamBytes = std::size_t{8} << 20;

void real_to_real_streamed(unsigned int count, const void* src, void* dst) {
  auto* out = static_cast<unsigned char*>(dst);
  const auto* in = static_cast<const unsigned char*>(src);
  std::size_t done = reinterpret_cast<std::uintptr_t>(out) % 16 == 0 ? 0 : 1;
  real_to_real_each(static_cast<unsigned int>(done), in, out);
  const __m128i magnitude = _mm_set1_epi64x(0x7FFFFFFFFFFFFFFF);
  const __m128i infinity = _mm_set1_epi64x(0x7FF0000000000000);
  const __m128i quiet_bit = _mm_set1_epi64x(0x0008000000000000);
  for (; count - done >= 2; done += 2) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done * 8));
    const __m128i nan_sign = _mm_sub_epi64(infinity, _mm_and_si128(v, magnitude));
    const __m128i quieted =
        _mm_or_si128(v, _mm_and_si128(_mm_srli_epi64(nan_sign, 12), quiet_bit));
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + done * 8), quieted);
  }
  _mm_sfence();
  real_to_real_each(static_cast<unsigned int>(count - done), in + done * 8, out + done * 8);
}
#endif

void real_to_real(unsigned int count, const void* src, void* dst) {
#if defined(__SSE2__)
  // The streaming loop needs the destination aligned to 8 bytes, so that 16-byte alignment is
  // reached after at most one element.
  if (std::size_t{count} * 8 >= kStreamBytes && reinterpret_cast<std::uintptr_t>(dst) % 8 == 0)
    return real_to_real_streamed(count, src, dst);
#endif
  real_to_real_each(count, src, dst);
}

#undef VESK_CONVERTER

// Rows: source type; columns: target type, in the order LOGICAL, REAL, INTEGER, UINTEGER,
// STRING. INTEGER and UINTEGER share their loops where only the bit pattern matters.
constexpr Converter kConverters[5][5] = {
    {copy_bits<1>, logical_to_real, logical_to_word, logical_to_word, copy_bits<1>},
    {real_to_byte_each, real_to_real, real_to_integer_each, real_to_uinteger_each,
     real_to_byte_each},
    {word_to_byte, integer_to_real, copy_bits<4>, copy_bits<4>, word_to_byte},
    {word_to_byte, uinteger_to_real_each, copy_bits<4>, copy_bits<4>, word_to_byte},
    {copy_bits<1>, string_to_real, string_to_word, string_to_word, copy_bits<1>},
};

}  // namespace

void convert_data(unsigned int count, DataTypeId::Type from, const void* src,
                  DataTypeId::Type to, void* dst) {
  if (!detail::is_element_type(from) || !detail::is_element_type(to)) {
    vesk_assertion(detail::kTypeOutOfRange, "util/data/convert", 34);
    return;
  }
  assert((src != nullptr && dst != nullptr) || count == 0);
  if (count == 0)
    return;
  kConverters[from][to](count, src, dst);
}

}  // namespace vesk
