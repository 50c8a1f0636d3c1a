// The process-wide interning table behind TableString: its bucket counts, the index that finds
// its records and the arena they are cut from.
#ifndef VESK_UTIL_STRING_INTERNING_TABLE_HPP
#define VESK_UTIL_STRING_INTERNING_TABLE_HPP

#include "vesk/string.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vesk::detail {

/// Remainders by a fixed 32-bit divisor through two multiplications instead of a division
/// (exact for every 32-bit dividend). (7, 3) -> 1; (0xFFFFFFFF, 2089) -> 1465.
class Modulus {
public:
  /// `divisor` must not be 0.
  explicit Modulus(std::uint32_t divisor) : mFactor(factor(divisor)), mDivisor(divisor) {}

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
  static std::uint64_t factor(std::uint32_t divisor) {
    assert(divisor != 0);
    return ~std::uint64_t{0} / divisor + 1;
  }

  std::uint64_t mFactor;
  std::uint32_t mDivisor;
};

/// `bytes` zero bytes aligned for any scalar; from the system's own pages from 128 KiB on,
/// so that only the pages written become resident. Throws std::bad_alloc.
void* map_zeroed(std::size_t bytes);
/// Releases a block of map_zeroed(`bytes`); null is ignored.
void unmap(void* block, std::size_t bytes);

/// Storage for records and their texts. Each small record is cut from the current block, right
/// after the one before it, so that records made one after another lie together whatever
/// the state of the host's allocator and cost no allocator header; blocks come from
/// vesk_calloc and grow from 16 KiB to 1 MiB. A record of more than kOwnBlockFrom bytes gets
/// a block of its own. Every block stays reachable from the arena, and forEach walks the
/// records in memory order. Nothing is released while the arena lives, and the blocks are
/// never released at all: records outlive their table.
class RecordArena {
public:
  /// Records of more bytes than this get a block of their own.
  static constexpr std::size_t kOwnBlockFrom = 4096;

  RecordArena() = default;
  RecordArena(const RecordArena&) = delete;
  RecordArena& operator=(const RecordArena&) = delete;

  /// `bytes` (< 2^32 - 16) zero bytes aligned for a pointer; throws std::bad_alloc when the
  /// host has no memory.
  void* take(std::size_t bytes);
  /// Returns the `bytes` at `block`, the last that take gave, to be taken again.
  void giveBack(void* block, std::size_t bytes);

  /// Calls `step(record)` for every record taken and not given back, in memory order within
  /// each block; `step` returns the bytes that record was taken with.
  template <class Step>
  void forEach(Step step) const {
    for (const auto* block = static_cast<const Header*>(mNewest); block != nullptr;
         block = static_cast<const Header*>(block->previous)) {
      const char* end =
          block == mNewest ? mCursor : reinterpret_cast<const char*>(block) + block->used;
      for (const char* record = reinterpret_cast<const char*>(block + 1); record < end;)
        record += rounded(step(static_cast<const void*>(record)));
    }
    for (const auto* block = static_cast<const Header*>(mOwnNewest); block != nullptr;
         block = static_cast<const Header*>(block->previous))
      step(static_cast<const void*>(block + 1));
  }

private:
  // The start of every block: the block before it (so that every block stays reachable, for
  // a leak checker too) and, once a newer block has followed it, the bytes used of it.
  struct Header {
    void* previous;
    std::size_t used;
  };
  static_assert(sizeof(Header) % alignof(void*) == 0, "records after a header stay aligned");
  static std::size_t rounded(std::size_t bytes) {
    return (bytes + alignof(void*) - 1) / alignof(void*) * alignof(void*);
  }

  char* mCursor = nullptr;
  std::size_t mLeft = 0;
  std::size_t mNextBlock = std::size_t{16} * 1024;
  // The newest block of small records, and the newest block of its own.
  void* mNewest = nullptr;
  void* mOwnNewest = nullptr;
};

/// The number of records in each of a fixed number of buckets: one byte per bucket, and for
/// the few buckets of 255 records or more (texts that share a hash, as an input can choose
/// them) an exact count kept aside.
class BucketCounts {
public:
  /// `count` empty buckets; throws std::bad_alloc when they cannot be allocated.
  explicit BucketCounts(unsigned int count);
  BucketCounts(const BucketCounts&) = delete;
  BucketCounts& operator=(const BucketCounts&) = delete;
  ~BucketCounts();

  /// The number of buckets.
  unsigned int count() const { return mCount; }
  /// The bucket of `hash`: `hash` modulo count().
  unsigned int indexOf(unsigned int hash) const { return mModulus(hash); }
  /// The number of records in bucket `index` (< count()).
  unsigned int size(unsigned int index) const {
    return mSizes[index] != kCounted ? mSizes[index] : counted(index);
  }
  /// Makes sure that add(`index`) cannot fail; throws std::bad_alloc and changes nothing
  /// if it cannot.
  void reserveOneMore(unsigned int index);
  /// One more record in bucket `index`, for which reserveOneMore was called.
  void add(unsigned int index);
  /// Exchanges the contents of two counts.
  void swap(BucketCounts& other);

private:
  // A bucket byte of this value: the size is in mLarge.
  static constexpr std::uint8_t kCounted = 255;
  unsigned int counted(unsigned int index) const;

  std::uint8_t* mSizes;
  unsigned int mCount;
  Modulus mModulus;
  // (bucket, size) for each bucket of kCounted records or more, sorted by bucket.
  std::vector<std::pair<unsigned int, unsigned int>> mLarge;
};

/// The records by their texts, for lookups: open addressing over groups of 7 slots, each slot
/// a record pointer with a control byte (0 for a free slot, else 0x80 and 7 bits of the
/// record's key), a group's control bytes and slots in one cache line. A text's key (keyOf)
/// is XXH3 keyed with a secret drawn once per process, so that whoever chooses the texts
/// cannot make them share groups; its low bits pick the first group and its top 7 bits are
/// the control byte. A lookup thus reads one line of the index, then only the records whose
/// control byte matches. At most 7/8 of the slots are used; the table doubles beyond that.
class RecordIndex {
public:
  /// 56 free slots; throws std::bad_alloc when they cannot be allocated.
  RecordIndex();
  RecordIndex(const RecordIndex&) = delete;
  RecordIndex& operator=(const RecordIndex&) = delete;
  /// Releases the slots, never the records.
  ~RecordIndex();

  /// The key of the `size` bytes at `text` (non-null).
  static std::uint64_t keyOf(const char* text, std::size_t size);

  /// The first record of key `key` for which `same(record)` holds, or null.
  template <class Same>
  const table_string::Entry* find(std::uint64_t key, Same same) const {
    std::size_t group = static_cast<std::size_t>(key) & mGroupMask;
    const std::uint8_t control = controlOf(key);
    for (std::size_t step = 1;; ++step) {
      const Group& slots = mGroups[group];
      const Masks masks = scan(slots.controls, control);
      for (unsigned int match = masks.matching; match != 0; match &= match - 1) {
        const table_string::Entry* record = slots.records[__builtin_ctz(match)];
        if (same(record))
          return record;
      }
      if (masks.free != 0)
        return nullptr;
      group = (group + step) & mGroupMask;
    }
  }

  /// The number of records.
  std::size_t size() const { return mSize; }
  /// Makes room for one more record, doubling the slots if need be; throws std::bad_alloc
  /// and changes nothing if it cannot.
  void reserveOneMore();
  /// Adds `record`, whose text has key `key`; room must have been made by reserveOneMore.
  void insert(std::uint64_t key, const table_string::Entry* record);
  /// Calls `visit(record)` for every record, in slot order, fetching records ahead.
  template <class Visit>
  void forEach(Visit visit) const {
    constexpr std::size_t kAhead = 2;
    for (std::size_t g = 0; g <= mGroupMask; ++g) {
      if (g + kAhead <= mGroupMask)
        for (std::size_t i = 0; i < kSlots; ++i)
          if (mGroups[g + kAhead].controls[i] != 0)
            __builtin_prefetch(mGroups[g + kAhead].records[i]);
      for (std::size_t i = 0; i < kSlots; ++i)
        if (mGroups[g].controls[i] != 0)
          visit(mGroups[g].records[i]);
    }
  }

private:
  static constexpr std::size_t kSlots = 7;

  // One cache line: the control bytes of the slots (the eighth is not used), then the slots.
  struct Group {
    std::uint8_t controls[kSlots + 1];
    const table_string::Entry* records[kSlots];
  };
  static_assert(sizeof(Group) == 64, "a group is one cache line");

  static std::uint8_t controlOf(std::uint64_t key) {
    return static_cast<std::uint8_t>(0x80u | (key >> 57));
  }
  // Bit i of `matching` is set when control byte i of a group is `control`, bit i of `free`
  // when slot i is free; i < kSlots.
  struct Masks {
    unsigned int matching;
    unsigned int free;
  };
  static Masks scan(const std::uint8_t* controls, std::uint8_t control) {
#ifdef __SSE2__
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(controls));
    const auto matching = static_cast<unsigned int>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(control)))));
    return {matching & kSlotBits, ~static_cast<unsigned int>(_mm_movemask_epi8(bytes)) & kSlotBits};
#else
    Masks masks{0, 0};
    for (unsigned int i = 0; i < kSlots; ++i) {
      masks.matching |= (controls[i] == control ? 1u : 0u) << i;
      masks.free |= (controls[i] < 0x80 ? 1u : 0u) << i;
    }
    return masks;
#endif
  }

  // `groups` groups (a power of 2) of free slots.
  explicit RecordIndex(std::size_t groups);
  // Moves every record to `groups` groups (a power of 2) of new slots.
  void rehash(std::size_t groups);
  void place(std::uint64_t key, const table_string::Entry* record);

  static constexpr unsigned int kSlotBits = (1u << kSlots) - 1;

  // At most 7/8 of the slots in use.
  std::size_t capacity() const { return (mGroupMask + 1) * kSlots / 8 * 7; }

  Group* mGroups;
  std::size_t mGroupMask;  // the number of groups, less 1
  std::size_t mSize = 0;
};

}  // namespace vesk::detail

namespace vesk::table_string {

/// The table of interned records. Its buckets follow the additive sequence 2089, 3139, 5229,
/// 8369, ...: a record is in bucket hash modulo the count, and the table grows a step only when
/// the bucket of a new text already holds 8 records, and from 65536 buckets on only while it
/// holds at least one record per 4 buckets: growth cannot split texts of one hash, so texts
/// made to share one would otherwise grow it without end. The bucket count thus stays at most
/// max(93109, 6.5 x records). The buckets decide growth and the report and are kept as
/// counts; lookups go through a RecordIndex, whose work per text does not depend on how the
/// texts' hashes fall. Records are never moved, changed or released.
class Table : public AllocatorBase {
public:
  /// 2089 empty buckets, no growth yet.
  Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  /// The one record whose text is the `size` bytes at `text` (null or 0 mean ""), inserted
  /// if there is none. Never null; throws std::length_error for a size of 4294967295 and
  /// std::bad_alloc when memory runs out. After either the table holds no new record and has
  /// not grown.
  const Entry* intern(const char* text, unsigned int size);
  /// Advances the bucket-count sequence one step and recounts the records by their stored
  /// hashes; returns the new count. Throws std::bad_alloc and leaves the table as it was
  /// when the new buckets cannot be allocated.
  unsigned int grow();
  /// Writes the six-line report to `out`, each line ended by std::endl.
  void printStats(std::ostream& out) const;

private:
  // The record of the `size` bytes at `text` (non-null), inserted if there is none; `key` is
  // their RecordIndex key and `sameBytes(record, text, size)` compares the bytes of a record
  // of that size. Never inlined: see its definition.
  template <class SameBytes>
  __attribute__((noinline)) const Entry* findOrInsert(const char* text, unsigned int size,
                                                      std::uint64_t key, SameBytes sameBytes);
  // grow(), leaving out `pending`, a record made but not yet counted (null for none), for
  // which room is made in the new counts: it is counted in without allocating.
  unsigned int grow(const Entry* pending);
  // A new record holding a copy of the `size` bytes at `text` (non-null), whose hash is
  // `hash`; throws std::bad_alloc.
  const Entry* make_record(const char* text, unsigned int size, unsigned int hash);
  // Undoes make_record for `record`, the last record made.
  void unmake_record(const Entry* record);
  // Inserts a record for a text that is not in the table, growing first if its bucket is full.
  const Entry* insert(const char* text, unsigned int size, std::uint64_t key);

  detail::BucketCounts mBuckets;
  detail::RecordIndex mRecords;
  detail::RecordArena mArena;
  unsigned int mBucketCount;
  unsigned int mPreviousBucketCount;
  unsigned int mRehashCount;
};

}  // namespace vesk::table_string

#endif
