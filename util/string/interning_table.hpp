// The process-wide interning table behind TableString, and the compact bucket array it uses.
#ifndef VESK_UTIL_STRING_INTERNING_TABLE_HPP
#define VESK_UTIL_STRING_INTERNING_TABLE_HPP

#include "vesk/string.hpp"

#include <cstdint>
#include <iosfwd>

namespace vesk::detail {

/// A fixed number of buckets, each an insertion-ordered list of record pointers, in one flat
/// array of one word per bucket. An empty bucket is 0, a bucket of one record is the record's
/// address, and a longer bucket is the address (low bit set) of a separately allocated
/// pointer array. Most buckets hold zero or one record, so a bucket costs one word and a
/// lookup usually reaches the record without a further indirection.
class BucketArray {
public:
  /// `count` empty buckets; throws std::bad_alloc when the array cannot be allocated.
  explicit BucketArray(unsigned int count);
  BucketArray(const BucketArray&) = delete;
  BucketArray& operator=(const BucketArray&) = delete;
  /// Releases the pointer arrays, never the records.
  ~BucketArray();

  /// The number of buckets.
  unsigned int count() const { return mCount; }

  /// Pointers of one bucket, first inserted first.
  struct View {
    const table_string::Entry* const* first;
    unsigned int size;
  };
  /// The records of bucket `index` (< count()).
  View bucket(unsigned int index) const;

  /// Makes room for one more pointer in bucket `index`, so that a following append cannot
  /// fail; throws std::bad_alloc and leaves the bucket unchanged if it cannot.
  void reserveOneMore(unsigned int index);
  /// Appends `record` (non-null, at least 2-byte aligned) to bucket `index`; the room must
  /// have been made by reserveOneMore.
  void append(unsigned int index, const table_string::Entry* record);

  /// Exchanges the contents of two arrays.
  void swap(BucketArray& other);

private:
  struct Spill;

  using Word = const table_string::Entry*;

  static bool isSpill(Word word) { return (reinterpret_cast<std::uintptr_t>(word) & 1u) != 0; }
  static Spill* spillOf(Word word);
  static Word wordOf(Spill* spill);

  // Each word is null, a record, or a tagged Spill address; a record in a word is itself
  // the one-element pointer list of its bucket.
  Word* mWords;
  unsigned int mCount;
};

}  // namespace vesk::detail

namespace vesk::table_string {

/// The separately chained table of interned records. Grows, by the additive sequence 2089,
/// 3139, 5229, 8369, ..., only when the bucket of a new text already holds 8 records.
/// Records are never moved, changed or released.
class Table : public AllocatorBase {
public:
  /// 2089 empty buckets, no growth yet.
  Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  /// The one record whose text is the `size` bytes at `text` (null or 0 mean ""), inserted
  /// if there is none. Never null; throws std::length_error for a size of 4294967295 and
  /// std::bad_alloc when memory runs out (the table is then unchanged).
  const Entry* intern(const char* text, unsigned int size);
  /// Advances the bucket-count sequence one step and redistributes the record pointers by
  /// their stored hashes; returns the new count.
  unsigned int grow();
  /// Writes the six-line report to `out`, each line ended by std::endl.
  void printStats(std::ostream& out) const;

private:
  detail::BucketArray mBuckets;
  unsigned int mBucketCount;
  unsigned int mPreviousBucketCount;
  unsigned int mRehashCount;
};

}  // namespace vesk::table_string

#endif
