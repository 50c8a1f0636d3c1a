// The process-wide interning table behind TableString, and the compact bucket array it uses.
#ifndef VESK_UTIL_STRING_INTERNING_TABLE_HPP
#define VESK_UTIL_STRING_INTERNING_TABLE_HPP

#include "vesk/string.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

namespace vesk::detail {

/// Remainders by a fixed 32-bit divisor through two multiplications instead of a division
/// (exact for every 32-bit dividend). (7, 3) -> 1; (0xFFFFFFFF, 2089) -> 1465.
class Modulus {
public:
  /// `divisor` must not be 0.
  explicit Modulus(std::uint32_t divisor)
      : mFactor(~std::uint64_t{0} / divisor + 1), mDivisor(divisor) {}

  /// `value` modulo the divisor.
  std::uint32_t operator()(std::uint32_t value) const {
#ifdef __SIZEOF_INT128__
    const std::uint64_t fraction = mFactor * value;
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(fraction) * mDivisor) >> 64);
#else
    return value % mDivisor;
#endif
  }

private:
  std::uint64_t mFactor;
  std::uint32_t mDivisor;
};

/// Blocks of at least this many bytes come from pages mapped for them alone.
inline constexpr std::size_t kMappedBytes = std::size_t{128} * 1024;

/// `bytes` zero bytes aligned for any scalar; from the system's own pages when large, so
/// that only the pages written become resident. Throws std::bad_alloc.
void* map_zeroed(std::size_t bytes);
/// Releases a block of map_zeroed(`bytes`); null is ignored.
void unmap(void* block, std::size_t bytes);

/// Storage for small blocks that are released all together: blocks are cut from large
/// chunks, and a released block goes to a free list of its size class for reuse. Blocks of
/// kMappedBytes or more are mapped one by one instead and unmapped when released. Keeps the
/// many small bucket arrays of the interning table out of the general allocator, which
/// would add a header to each and slow down when tens of thousands are freed at once.
class BlockPool {
public:
  BlockPool() = default;
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;
  /// Returns every chunk to the standard allocator.
  ~BlockPool();

  /// A block of `size` bytes (a multiple of 8, the same for every block of `sizeClass`),
  /// aligned for pointers; throws std::bad_alloc.
  void* allocate(std::size_t size, unsigned int sizeClass);
  /// Makes `block`, allocated with the same `sizeClass`, available again.
  void release(void* block, unsigned int sizeClass);
  /// Exchanges the contents of two pools.
  void swap(BlockPool& other);

private:
  static constexpr unsigned int kClasses = 32;

  struct FreeBlock {
    FreeBlock* next;
  };

  struct MappedBlock {
    void* address;
    std::size_t size;
  };

  std::vector<void*> mChunks;
  // Blocks of kMappedBytes or more, each mapped on its own.
  std::vector<MappedBlock> mMapped;
  char* mCursor = nullptr;
  std::size_t mLeft = 0;
  std::size_t mNextChunkSize = std::size_t{16} * 1024;
  FreeBlock* mFree[kClasses] = {};
};

/// A fixed number of buckets, each an insertion-ordered list of records, in one flat array of
/// one word per bucket. Most buckets hold zero or one record, so a bucket costs one word and
/// a lookup usually reaches the record without a further indirection:
///   0                      an empty bucket;
///   low bit set            the address of a separately allocated Spill (two or more
///                          records: size, capacity, then one record word each);
///   otherwise              a record word, the bucket's only record.
/// A record word is the record's address; on 64-bit hosts, when the address fits 48 bits, it
/// also carries the top 16 bits of the record's hash in its top 16 bits (marked by bit 1), so
/// that records of other hashes are passed over without reading them.
/// A bucket of more than kLinearLimit records (texts of one hash, or of hashes equal modulo
/// the count, as an input can choose them) also keeps an index of its own: an open-addressed
/// table of (position, key) pairs, the key a hash of the bytes keyed by a secret drawn once
/// per process (indexKey), so that a lookup there compares the text with about one record
/// whatever the bucket holds. Shorter buckets have none and are searched in order.
class BucketArray {
public:
  using Word = std::uintptr_t;

  /// Buckets of more than this many records are searched through their index (findLong).
  static constexpr unsigned int kLinearLimit = 16;

  /// `count` empty buckets; throws std::bad_alloc when the array cannot be allocated.
  explicit BucketArray(unsigned int count);
  BucketArray(const BucketArray&) = delete;
  BucketArray& operator=(const BucketArray&) = delete;
  /// Releases the spills, never the records.
  ~BucketArray();

  /// The number of buckets.
  unsigned int count() const { return mCount; }
  /// The bucket of `hash`: `hash` modulo count().
  unsigned int indexOf(unsigned int hash) const { return mModulus(hash); }

  /// Record words of one bucket, first inserted first.
  struct View {
    const Word* first;
    unsigned int size;
  };
  /// The record words of bucket `index` (< count()).
  View bucket(unsigned int index) const {
    const Word word = mWords[index];
    if (!isSpill(word))
      return {&mWords[index], word != 0 ? 1u : 0u};
    const auto* spill = reinterpret_cast<const SpillHeader*>(word & ~Word{1});
    return {reinterpret_cast<const Word*>(spill + 1), spill->size};
  }

  /// The record word of `record` (non-null, at least 4-byte aligned).
  static Word recordWord(const table_string::Entry* record);
  /// The record a record word names.
  static const table_string::Entry* record(Word word) {
    return reinterpret_cast<const table_string::Entry*>(hasTag(word) ? word & kAddressMask
                                                                     : word);
  }
  /// False when the word's tag proves that its record's hash is not `hash`.
  static bool mayHash(Word word, unsigned int hash) {
    return !hasTag(word) || (word >> kTagShift) == (hash >> 16);
  }
  /// True when the word carries the top 16 bits of its record's hash.
  static bool hasTag(Word word) { return kTagged && (word & kTagBit) != 0; }
  /// The top 16 bits of the record's hash; only for a word with hasTag.
  static unsigned int tag(Word word) { return static_cast<unsigned int>(word >> kTagShift); }

  /// Makes room for one more record in bucket `index`, in the bucket and in its index, so
  /// that a following append cannot fail; throws std::bad_alloc and leaves the bucket's
  /// records and what finds them unchanged if it cannot.
  void reserveOneMore(unsigned int index);
  /// No indexKey known: append reads the record's text for it when the bucket has an index.
  static constexpr std::uint64_t kUnknownKey = std::uint64_t{1} << 32;
  /// Appends a record word to bucket `index`; the room must have been made by reserveOneMore.
  /// `key` is the record's indexKey, or kUnknownKey.
  void append(unsigned int index, Word word, std::uint64_t key = kUnknownKey);

  /// The record of bucket `index`, which holds more than kLinearLimit records, whose text is
  /// the `size` bytes at `text` and whose hash is `hash`; null if there is none. Hashes the
  /// text once with indexKey and reads only records whose key is the text's.
  const table_string::Entry* findLong(unsigned int index, const char* text, unsigned int size,
                                      unsigned int hash) const;
  /// Writes the indexKey of the i-th record of bucket `index`, which holds more than
  /// kLinearLimit records, to out[i], reading the index rather than the texts.
  void indexKeys(unsigned int index, std::uint32_t* out) const;
  /// The key under which an index files the `size` bytes at `text` (non-null): 32 bits of
  /// XXH3 with a secret from the system's random source, drawn on first use; unknown to
  /// whoever chooses the texts.
  static std::uint32_t indexKey(const char* text, unsigned int size);

  /// Asks the processor to fetch bucket `index` ahead of use; changes nothing.
  void prefetch(unsigned int index) const { __builtin_prefetch(&mWords[index], 1); }

  /// Asks the processor to fetch the spill of bucket `index`, if it has one; changes nothing.
  void prefetchSpill(unsigned int index) const {
    if (isSpill(mWords[index]))
      __builtin_prefetch(spillOf(mWords[index]));
  }

  /// Exchanges the contents of two arrays.
  void swap(BucketArray& other);

private:
  // The start of a Spill: its number of records and its capacity class; the record words
  // follow it.
  struct SpillHeader {
    std::uint32_t size;
    std::uint32_t sizeClass;
  };
  struct Spill;
  struct Index;

  static constexpr bool kTagged = sizeof(Word) == 8;
  static constexpr unsigned int kTagShift = kTagged ? 48 : 0;
  static constexpr Word kTagBit = 2;
  static constexpr Word kAddressMask = kTagged ? ((Word{1} << kTagShift) - 1) & ~Word{3} : ~Word{0};

  static bool isSpill(Word word) { return (word & 1u) != 0; }
  static Spill* spillOf(Word word) { return reinterpret_cast<Spill*>(word & ~Word{1}); }
  static Word spillWord(Spill* spill);
  // reserveOneMore where the bucket needs a new spill, a larger one or room in its index.
  void makeRoom(unsigned int index);
  // Makes the index of `spill`, which holds kLinearLimit records or more, ready for one more.
  void reserveIndexEntry(Spill* spill);
  // Files the record at `position` of `spill`, whose index has room, under `key`
  // (kUnknownKey: read its text).
  static void indexRecord(Spill* spill, std::uint32_t position, std::uint64_t key);

  Word* mWords;
  unsigned int mCount;
  Modulus mModulus;
  BlockPool mSpills;
  // The number of indexes, which the destructor releases.
  std::size_t mIndexes = 0;
};

}  // namespace vesk::detail

namespace vesk::table_string {

/// The separately chained table of interned records. Grows, by the additive sequence 2089,
/// 3139, 5229, 8369, ..., only when the bucket of a new text already holds 8 records, and from
/// 65536 buckets on only while it holds at least one record per 4 buckets: growth cannot
/// split texts of one hash, so texts made to share one would otherwise grow it without end.
/// The bucket count thus stays at most max(93109, 6.5 x records). Records are never moved,
/// changed or released.
class Table : public AllocatorBase {
public:
  /// 2089 empty buckets, no growth yet.
  Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  /// The one record whose text is the `size` bytes at `text` (null or 0 mean ""), inserted
  /// if there is none. Never null; throws std::length_error for a size of 4294967295 and
  /// std::bad_alloc when memory runs out. After either the table holds no new record and has
  /// not grown; only when the room for the record runs out after a growth does the growth stay.
  const Entry* intern(const char* text, unsigned int size);
  /// Advances the bucket-count sequence one step and redistributes the record pointers by
  /// their stored hashes; returns the new count. Throws std::bad_alloc and leaves the table
  /// as it was when the new buckets cannot be allocated.
  unsigned int grow();
  /// Writes the six-line report to `out`, each line ended by std::endl.
  void printStats(std::ostream& out) const;

private:
  // The record of the `size` bytes at `text` (non-null) with hash `hash`, or null; records
  // of that hash and size are compared with sameBytes(record text, text, size).
  template <class SameBytes>
  const Entry* find(const char* text, unsigned int size, unsigned int hash,
                    SameBytes sameBytes) const;
  // find, then insert if it finds nothing. Never inlined: see its definition.
  template <class SameBytes>
  __attribute__((noinline)) const Entry* findOrInsert(const char* text, unsigned int size, unsigned int hash,
                            SameBytes sameBytes);
  // findOrInsert for a text whose bucket holds more than kLinearLimit records.
  const Entry* findOrInsertLong(const char* text, unsigned int size, unsigned int hash,
                                unsigned int index);
  // A new record holding a copy of the `size` bytes at `text` (non-null), whose hash is
  // `hash`; throws std::bad_alloc.
  static const Entry* make_record(const char* text, unsigned int size, unsigned int hash);
  // Inserts a record for a text that find did not find, growing first if its bucket is full.
  const Entry* insert(const char* text, unsigned int size, unsigned int hash);

  detail::BucketArray mBuckets;
  unsigned int mBucketCount;
  unsigned int mPreviousBucketCount;
  unsigned int mRehashCount;
  std::size_t mRecordCount;
};

}  // namespace vesk::table_string

#endif
