// Big-endian stores and the byte permutations that put typed arrays into stream order.
#ifndef VESK_UTIL_HASH_BYTE_ORDER_HPP
#define VESK_UTIL_HASH_BYTE_ORDER_HPP

#include <array>
#include <cstddef>
#include <cstdint>

namespace vesk::detail {

/// Writes `v` to the two bytes at `p`, most significant byte first.
constexpr void store_be16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

/// Writes `v` to the four bytes at `p`, most significant byte first.
constexpr void store_be32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

/// For an unsigned integer type of N bytes and the significance (0 = least significant) that
/// each byte of an encoding must carry, the offset in the integer's own storage where that byte
/// is found. Derived from the host's layout of the value 0x...0100 at compile time, so the
/// permutation is right on any byte order and the compiler sees a constant shuffle.
template <class Unsigned, std::size_t N = sizeof(Unsigned)>
constexpr std::array<unsigned char, N> storage_offsets(const std::array<unsigned char, N>& significance) {
  Unsigned probe = 0;
  for (std::size_t i = N; i-- > 0;)
    probe = static_cast<Unsigned>(probe << 8 | i);
  const auto layout = __builtin_bit_cast(std::array<unsigned char, N>, probe);
  std::array<unsigned char, N> offsets{};
  for (std::size_t k = 0; k < N; ++k)
    for (std::size_t j = 0; j < N; ++j)
      if (layout[j] == significance[k])
        offsets[k] = static_cast<unsigned char>(j);
  return offsets;
}

}  // namespace vesk::detail

#endif
