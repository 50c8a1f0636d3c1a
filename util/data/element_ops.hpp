// Element operations shared by conversion and gather: type checks, NaN quieting, target clones.
#ifndef VESK_UTIL_DATA_ELEMENT_OPS_HPP
#define VESK_UTIL_DATA_ELEMENT_OPS_HPP

#include "util/base/target_clones.hpp"
#include "vesk/data.hpp"

#include <cstdint>
#include <cstring>

namespace vesk::detail {

/// Message that convert_data and SubsRef::assign report for a type outside 0 to 4.
inline constexpr const char kTypeOutOfRange[] = "type out of range";

/// True for the five element types; false for 5 and every other value.
constexpr bool is_element_type(DataTypeId::Type type) {
  return type >= DataTypeId::LOGICAL && type <= DataTypeId::STRING;
}

/// The bits of a double with the quiet bit set when it is a NaN: what loading and storing
/// it through the x87 unit does to a signalling NaN. Every other pattern is unchanged.
constexpr std::uint64_t quiet_nan_bits(std::uint64_t bits) {
  constexpr std::uint64_t kMagnitude = 0x7FFFFFFFFFFFFFFFu;
  constexpr std::uint64_t kInfinity = 0x7FF0000000000000u;
  constexpr std::uint64_t kQuietBit = 0x0008000000000000u;
  // kInfinity - magnitude is negative exactly for a NaN; its sign bit, shifted down to the
  // quiet bit, needs no 64-bit compare, which the baseline vector unit lacks.
  return bits | (((kInfinity - (bits & kMagnitude)) >> 12) & kQuietBit);
}

/// Element `i` of a native-order array at `p`, read without alignment assumptions.
template <class T>
inline T load_element(const void* p, std::size_t i) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(p) + i * sizeof(T), sizeof(T));
  return value;
}

/// Writes element `i` of a native-order array at `p`.
template <class T>
inline void store_element(void* p, std::size_t i, T value) {
  std::memcpy(static_cast<unsigned char*>(p) + i * sizeof(T), &value, sizeof(T));
}

}  // namespace vesk::detail

#endif
