// Typed data: scalar type identifiers, typed buffers, conversion, Dimension and SubsRef.
#ifndef VESK_DATA_HPP
#define VESK_DATA_HPP

#include "vesk/base.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace vesk {

/// The scalar data types of the library's typed arrays.
namespace DataTypeId {

/// A scalar data type, passed and stored as a 32-bit int. The value -1 (from
/// type_from_string) means "no type"; the fixed underlying type makes every int32 value,
/// -1 included, a valid value of the enumeration.
enum Type : std::int32_t {
  LOGICAL = 0,   ///< one unsigned byte, 0 to 255
  REAL = 1,      ///< IEEE 754 double, 8 bytes
  INTEGER = 2,   ///< signed 32-bit two's-complement integer
  UINTEGER = 3,  ///< unsigned 32-bit integer
  STRING = 4     ///< one character, read as a signed 8-bit value
};

}  // namespace DataTypeId

/// The size of a two-dimensional array, m rows by n columns, with column-major element
/// positions. Either size may be 0; the default is the 1-by-1 scalar. Objects created with
/// new live in host memory.
class VESK_API Dimension : public AllocatorBase {
public:
  /// The 1-by-1 scalar.
  Dimension() = default;
  /// `m` rows by `n` columns.
  Dimension(unsigned int m, unsigned int n) : mM(m), mN(n) {}
  Dimension(const Dimension&) = default;
  Dimension& operator=(const Dimension&) = default;

  /// Number of rows.
  unsigned int m() const { return mM; }
  /// Number of columns.
  unsigned int n() const { return mN; }

  /// True when both sizes are equal: 2 by 3 differs from 3 by 2.
  bool operator==(const Dimension& other) const { return mM == other.mM && mN == other.mN; }
  /// The negation of operator==.
  bool operator!=(const Dimension& other) const { return !(*this == other); }

  /// m·n, computed modulo 2^32.
  unsigned int getNumElements() const { return mM * mN; }
  /// True for exactly one element.
  bool isScalar() const { return getNumElements() == 1; }
  /// True for no element.
  bool isEmpty() const { return getNumElements() == 0; }
  /// True for one non-empty row or one non-empty column (1 by 1 included; 1 by 0 is not).
  bool isVector() const { return (mM == 1 && mN != 0) || (mM != 0 && mN == 1); }
  /// True when row `i` and column `j` (zero-based) lie inside the array.
  bool isValidIndex(unsigned int i, unsigned int j) const { return i < mM && j < mN; }
  /// Column-major position i + j·m of row `i`, column `j` (zero-based), modulo 2^32; no
  /// range check. For 3 by 4, (2, 1) -> 5.
  unsigned int computeIndex(unsigned int i, unsigned int j) const { return i + j * mM; }

  /// "[m, n]": 2 by 3 -> "[2, 3]"; the default -> "[1, 1]".
  std::string str() const;

private:
  std::uint32_t mM = 1;
  std::uint32_t mN = 1;
};

/// Writes "{m,n}" with no line end: 2 by 3 -> "{2,3}"; returns `out`.
VESK_API std::ostream& operator<<(std::ostream& out, const Dimension& dimension);

}  // namespace vesk

#endif
