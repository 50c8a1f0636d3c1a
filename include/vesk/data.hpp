// Typed data: scalar type identifiers, typed buffers, conversion, Dimension and SubsRef.
#ifndef VESK_DATA_HPP
#define VESK_DATA_HPP

#include "vesk/base.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

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

/// The upper-case name of `type` ("LOGICAL", "REAL", "INTEGER", "UINTEGER", "STRING"), a
/// static text. Null for 5 (one past the last type) and for any other value outside 0 to 4.
VESK_API const char* get_type_name(DataTypeId::Type type);

/// The lower-case name of `type` (REAL -> "real"), made with vesk_strdup on the first request
/// and returned as the same pointer on every later call; never released. Null for any value
/// outside 0 to 4, or while the host has no memory for the copy. The first call for a type
/// must not race another call of this function.
VESK_API const char* get_type_name_lower(DataTypeId::Type type);

/// Size in bytes of one element of `type`: 1, 8, 4, 4, 1 for the five types; 0 for 5 and for
/// any other value outside 0 to 4.
VESK_API unsigned int get_type_size(DataTypeId::Type type);

/// A zero-filled block for `count` elements of `type` from Allocate::allocate(size, count), or
/// null when the host has no memory (or the byte count exceeds 32 bits). Release it with
/// vesk_free. A value outside 0 to 4 gives null and allocates nothing.
VESK_API void* allocate_buffer(DataTypeId::Type type, unsigned int count);

/// The type whose name equals `name` in any letter case, or -1 (no type): "Integer" -> INTEGER,
/// "uINTEGER" -> UINTEGER, " real", "int", "" -> -1. Names are not trimmed or abbreviated.
/// Takes no host memory, so the answer never depends on the host's state.
VESK_API DataTypeId::Type type_from_string(const std::string& name);

/// Converts `count` elements of type `from` at `src` into `count` elements of type `to` at
/// `dst`, element by element: LOGICAL bytes are zero-extended and STRING bytes sign-extended;
/// INTEGER and UINTEGER keep their 32 bits between each other and their low 8 bits into the
/// byte types; REAL is truncated toward zero with fixed results out of range (INTEGER:
/// -2147483648 for NaN or a value outside the int32 range; UINTEGER: 0 for NaN or magnitude of
/// 2^63 or more, else the value modulo 2^32; LOGICAL and STRING: 0 out of the int32 range,
/// else the low 8 bits). REAL to REAL quiets signalling NaNs. `dst` may equal `src` when the
/// target element is not wider than the source element. A `from` or `to` outside 0 to 4 writes
/// nothing and reports vesk_assertion("type out of range", "util/data/convert", 34).
/// Precondition: `src` and `dst` each hold `count` elements of their types; either may be null
/// only when `count` is 0 (checked by an assertion in debug builds).
VESK_API void convert_data(unsigned int count, DataTypeId::Type from, const void* src,
                           DataTypeId::Type to, void* dst);

/// The size of a two-dimensional array, m rows by n columns, with column-major element
/// positions. Either size may be 0; the default is the 1-by-1 scalar. Objects created with
/// new live in host memory.
class VESK_API Dimension : public AllocatorBase {
public:
  /// The 1-by-1 scalar.
  constexpr Dimension() = default;
  /// `m` rows by `n` columns.
  constexpr Dimension(unsigned int m, unsigned int n) : mM(m), mN(n) {}
  /// Copies both sizes.
  Dimension(const Dimension&) = default;
  /// Copies both sizes; returns `*this`.
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

/// A subscript reference: the shape of a selection and the zero-based positions, in the source
/// array, of its elements in destination order. Copies share one selection through a plain
/// (unsynchronised) reference count, so handles sharing one selection stay on one thread.
class VESK_API SubsRef {
public:
  /// An empty handle that shares nothing.
  SubsRef() = default;
  /// A new selection of shape `dimension` and positions `index`, with a count of 1; the
  /// Dimension is created in host memory. Throws std::bad_alloc when memory is exhausted.
  SubsRef(const Dimension& dimension, const std::vector<unsigned int>& index);
  /// Shares the selection of `other` (an empty handle gives an empty handle).
  SubsRef(const SubsRef& other);
  /// Gives up this handle's share, freeing the selection with its last share, then shares the
  /// selection of `other`. Assigning a handle to itself leaves it unchanged.
  SubsRef& operator=(const SubsRef& other);
  /// Gives up this handle's share.
  ~SubsRef();

  /// The shape of the selection; 0 by 0 for an empty handle.
  const Dimension& dimension() const;
  /// The source positions of the selected elements; empty for an empty handle.
  const std::vector<unsigned int>& index() const;

  /// Gathers: element i of `dst` = element index()[i] of `src`, both of `type`, for every i
  /// (a REAL signalling NaN arrives quiet). Indices are not checked against `src`. A `type`
  /// outside 0 to 4 writes nothing and reports
  /// vesk_assertion("type out of range", "util/data/subs_ref", 27).
  void assign(DataTypeId::Type type, void* dst, const void* src) const;

private:
  void release();

  std::uint32_t* mCount = nullptr;
  Dimension* mDimension = nullptr;
  std::vector<unsigned int>* mIndex = nullptr;
};

}  // namespace vesk

#endif
