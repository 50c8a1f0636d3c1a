// How the interning table compares a looked-up text with a record's: whole words, each size
// range with the loads that cover it.
#ifndef VESK_UTIL_STRING_TEXT_COMPARE_HPP
#define VESK_UTIL_STRING_TEXT_COMPARE_HPP

#include <cstdint>
#include <cstring>

namespace vesk::detail {

/// Eight bytes as one word, for an equality test only: both sides are read the same way, so
/// the host's byte order does not matter. (A shift-built word would cost some forty
/// instructions where one load does.)
inline std::uint64_t word_of_8(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

/// Whether the `size` bytes at `a` and at `b` are the same, all of them, NULs included: texts
/// that differ only after an embedded NUL are different texts. A null pointer is the same as
/// another only for a size of 0.
inline bool same_bytes(const char* a, const char* b, unsigned int size) {
  if (size == 0 || a == b)
    return true;
  if (a == nullptr || b == nullptr)
    return false;
  return std::memcmp(a, b, size) == 0;
}

/// same_bytes for 8 to 16 bytes: the first word and the last, which overlap below 16.
inline bool same_8to16(const char* a, const char* b, unsigned int size) {
  return ((word_of_8(a) ^ word_of_8(b)) | (word_of_8(a + size - 8) ^ word_of_8(b + size - 8))) ==
         0;
}

/// same_bytes for 17 to 48 bytes: the first 16 bytes and the last 16, and for more than 32 the
/// 16 from the 17th; together every byte.
inline bool same_17to48(const char* a, const char* b, unsigned int size) {
  std::uint64_t differ = (word_of_8(a) ^ word_of_8(b)) | (word_of_8(a + 8) ^ word_of_8(b + 8)) |
                         (word_of_8(a + size - 16) ^ word_of_8(b + size - 16)) |
                         (word_of_8(a + size - 8) ^ word_of_8(b + size - 8));
  if (size > 32)
    differ |= (word_of_8(a + 16) ^ word_of_8(b + 16)) | (word_of_8(a + 24) ^ word_of_8(b + 24));
  return differ == 0;
}

}  // namespace vesk::detail

#endif
