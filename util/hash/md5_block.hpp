// The MD5 compression function (RFC 1321) over whole 64-byte blocks, and its byte helpers.
#ifndef VESK_UTIL_HASH_MD5_BLOCK_HPP
#define VESK_UTIL_HASH_MD5_BLOCK_HPP

#include <cstddef>
#include <cstdint>

namespace vesk::detail {

/// The four bytes at `p` as a word, least significant byte first.
constexpr std::uint32_t load_le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

/// Writes `v` to the four bytes at `p`, least significant byte first.
constexpr void store_le32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

constexpr std::uint32_t rotl32(std::uint32_t v, int s) {
  return (v << s) | (v >> (32 - s));
}

// One step of each round: a = b + ((a + f(b, c, d) + x + k) <<< s). The round functions are
// written so that as little as possible waits for `b`, the word the previous step just produced:
// the parts that depend only on the older words c and d are added into `a` first, and the part
// that needs `b` joins last. G is the union of two disjoint bit sets, so its halves may be added
// instead of or-ed, and the half that does not need `b` enters the sum early.

/// Round 1: F(b, c, d) = (b & c) | (~b & d), computed as d ^ (b & (c ^ d)) so that c ^ d is
/// ready before `b` arrives.
constexpr std::uint32_t step_f(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                               std::uint32_t d, std::uint32_t x, std::uint32_t k, int s) {
  a += x + k;
  a += d ^ (b & (c ^ d));
  return rotl32(a, s) + b;
}

/// Round 2: G(b, c, d) = (b & d) | (c & ~d).
constexpr std::uint32_t step_g(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                               std::uint32_t d, std::uint32_t x, std::uint32_t k, int s) {
  a += x + k;
  a += c & ~d;
  a += b & d;
  return rotl32(a, s) + b;
}

/// Round 3: H(b, c, d) = b ^ c ^ d.
constexpr std::uint32_t step_h(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                               std::uint32_t d, std::uint32_t x, std::uint32_t k, int s) {
  a += x + k;
  a += (c ^ d) ^ b;
  return rotl32(a, s) + b;
}

/// Round 4: I(b, c, d) = c ^ (b | ~d).
constexpr std::uint32_t step_i(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                               std::uint32_t d, std::uint32_t x, std::uint32_t k, int s) {
  a += x + k;
  a += c ^ (b | ~d);
  return rotl32(a, s) + b;
}

/// Compresses `blocks` consecutive 64-byte blocks at `p` into `state` (A, B, C, D). The state
/// stays in registers from one block to the next.
inline void md5_compress(std::uint32_t state[4], const unsigned char* p, std::size_t blocks) {
  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  for (; blocks != 0; --blocks, p += 64) {
    const std::uint32_t x0 = load_le32(p + 0), x1 = load_le32(p + 4), x2 = load_le32(p + 8),
                        x3 = load_le32(p + 12), x4 = load_le32(p + 16), x5 = load_le32(p + 20),
                        x6 = load_le32(p + 24), x7 = load_le32(p + 28), x8 = load_le32(p + 32),
                        x9 = load_le32(p + 36), x10 = load_le32(p + 40),
                        x11 = load_le32(p + 44), x12 = load_le32(p + 48),
                        x13 = load_le32(p + 52), x14 = load_le32(p + 56),
                        x15 = load_le32(p + 60);
    const std::uint32_t aa = a, bb = b, cc = c, dd = d;

    a = step_f(a, b, c, d, x0, 0xd76aa478, 7);
    d = step_f(d, a, b, c, x1, 0xe8c7b756, 12);
    c = step_f(c, d, a, b, x2, 0x242070db, 17);
    b = step_f(b, c, d, a, x3, 0xc1bdceee, 22);
    a = step_f(a, b, c, d, x4, 0xf57c0faf, 7);
    d = step_f(d, a, b, c, x5, 0x4787c62a, 12);
    c = step_f(c, d, a, b, x6, 0xa8304613, 17);
    b = step_f(b, c, d, a, x7, 0xfd469501, 22);
    a = step_f(a, b, c, d, x8, 0x698098d8, 7);
    d = step_f(d, a, b, c, x9, 0x8b44f7af, 12);
    c = step_f(c, d, a, b, x10, 0xffff5bb1, 17);
    b = step_f(b, c, d, a, x11, 0x895cd7be, 22);
    a = step_f(a, b, c, d, x12, 0x6b901122, 7);
    d = step_f(d, a, b, c, x13, 0xfd987193, 12);
    c = step_f(c, d, a, b, x14, 0xa679438e, 17);
    b = step_f(b, c, d, a, x15, 0x49b40821, 22);

    a = step_g(a, b, c, d, x1, 0xf61e2562, 5);
    d = step_g(d, a, b, c, x6, 0xc040b340, 9);
    c = step_g(c, d, a, b, x11, 0x265e5a51, 14);
    b = step_g(b, c, d, a, x0, 0xe9b6c7aa, 20);
    a = step_g(a, b, c, d, x5, 0xd62f105d, 5);
    d = step_g(d, a, b, c, x10, 0x02441453, 9);
    c = step_g(c, d, a, b, x15, 0xd8a1e681, 14);
    b = step_g(b, c, d, a, x4, 0xe7d3fbc8, 20);
    a = step_g(a, b, c, d, x9, 0x21e1cde6, 5);
    d = step_g(d, a, b, c, x14, 0xc33707d6, 9);
    c = step_g(c, d, a, b, x3, 0xf4d50d87, 14);
    b = step_g(b, c, d, a, x8, 0x455a14ed, 20);
    a = step_g(a, b, c, d, x13, 0xa9e3e905, 5);
    d = step_g(d, a, b, c, x2, 0xfcefa3f8, 9);
    c = step_g(c, d, a, b, x7, 0x676f02d9, 14);
    b = step_g(b, c, d, a, x12, 0x8d2a4c8a, 20);

    a = step_h(a, b, c, d, x5, 0xfffa3942, 4);
    d = step_h(d, a, b, c, x8, 0x8771f681, 11);
    c = step_h(c, d, a, b, x11, 0x6d9d6122, 16);
    b = step_h(b, c, d, a, x14, 0xfde5380c, 23);
    a = step_h(a, b, c, d, x1, 0xa4beea44, 4);
    d = step_h(d, a, b, c, x4, 0x4bdecfa9, 11);
    c = step_h(c, d, a, b, x7, 0xf6bb4b60, 16);
    b = step_h(b, c, d, a, x10, 0xbebfbc70, 23);
    a = step_h(a, b, c, d, x13, 0x289b7ec6, 4);
    d = step_h(d, a, b, c, x0, 0xeaa127fa, 11);
    c = step_h(c, d, a, b, x3, 0xd4ef3085, 16);
    b = step_h(b, c, d, a, x6, 0x04881d05, 23);
    a = step_h(a, b, c, d, x9, 0xd9d4d039, 4);
    d = step_h(d, a, b, c, x12, 0xe6db99e5, 11);
    c = step_h(c, d, a, b, x15, 0x1fa27cf8, 16);
    b = step_h(b, c, d, a, x2, 0xc4ac5665, 23);

    a = step_i(a, b, c, d, x0, 0xf4292244, 6);
    d = step_i(d, a, b, c, x7, 0x432aff97, 10);
    c = step_i(c, d, a, b, x14, 0xab9423a7, 15);
    b = step_i(b, c, d, a, x5, 0xfc93a039, 21);
    a = step_i(a, b, c, d, x12, 0x655b59c3, 6);
    d = step_i(d, a, b, c, x3, 0x8f0ccc92, 10);
    c = step_i(c, d, a, b, x10, 0xffeff47d, 15);
    b = step_i(b, c, d, a, x1, 0x85845dd1, 21);
    a = step_i(a, b, c, d, x8, 0x6fa87e4f, 6);
    d = step_i(d, a, b, c, x15, 0xfe2ce6e0, 10);
    c = step_i(c, d, a, b, x6, 0xa3014314, 15);
    b = step_i(b, c, d, a, x13, 0x4e0811a1, 21);
    a = step_i(a, b, c, d, x4, 0xf7537e82, 6);
    d = step_i(d, a, b, c, x11, 0xbd3af235, 10);
    c = step_i(c, d, a, b, x2, 0x2ad7d2bb, 15);
    b = step_i(b, c, d, a, x9, 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace vesk::detail

#endif
