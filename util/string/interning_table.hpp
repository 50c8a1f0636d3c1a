// The process-wide interning table behind TableString: one record per distinct text, counted
// in buckets that decide growth and the report, found through a keyed index.
#ifndef VESK_UTIL_STRING_INTERNING_TABLE_HPP
#define VESK_UTIL_STRING_INTERNING_TABLE_HPP

#include "util/base/spinning_mutex.hpp"
#include "util/string/bucket_counts.hpp"
#include "util/string/record_arena.hpp"
#include "util/string/record_index.hpp"
#include "vesk/string.hpp"

#include <cstdint>
#include <iosfwd>
#include <mutex>

namespace vesk::table_string {

/// The table of interned records. Its buckets follow the additive sequence 2089, 3139, 5229,
/// 8369, ...: a record is in bucket hash modulo the count, and the table grows a step only when
/// the bucket of a new text already holds 8 records, and from 65536 buckets on only while it
/// holds at least one record per 4 buckets: growth cannot split texts of one hash, so texts
/// made to share one would otherwise grow it without end. The bucket count thus stays at most
/// max(93109, 6.5 x records). The buckets decide growth and the report and are kept as
/// counts; lookups go through a RecordIndex, whose work per text does not depend on how the
/// texts' hashes fall. Records are never moved, changed or released.
///
/// Every member is safe on any number of threads at once. A lookup that finds its text takes
/// no lock and writes nothing; a new text is inserted under the table's one lock, after a
/// second lookup under it, so that the buckets, the growths and the report are those of one
/// thread interning the texts in the order in which they got the lock. No host function runs
/// under the lock: the host memory of a new record is taken before it and released after.
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
  const Entry* intern(const char* text, unsigned int size) {
    const Entry* record = nullptr;
    internInto(record, text, size);
    return record;
  }
  /// intern, its result stored in `out` (unchanged if it throws): the callee stores, so that
  /// a caller that would only store the result can hand over with a jump.
  void internInto(const Entry*& out, const char* text, unsigned int size) {
    // Identifiers of 8 to 16 bytes, most texts, and names of 17 to 48 go straight to their
    // own lookups; the tests of the rest are made out of line.
    if (text != nullptr && size - 8 <= 8)
      return internShort(out, text, size);
    if (text != nullptr && size - 17 <= 31)
      return internName(out, text, size);
    internOther(out, text, size);
  }
  /// Advances the bucket-count sequence one step and recounts the records by their stored
  /// hashes; returns the new count. Throws std::bad_alloc and leaves the table as it was
  /// when the new buckets cannot be allocated.
  unsigned int grow();
  /// Writes the six-line report to `out`, each line ended by std::endl.
  void printStats(std::ostream& out) const;
  /// The number of records, that is of distinct texts interned.
  std::size_t recordCount() const;
  /// Calls `visit(record)` for every record, holding the table's lock (`visit` must not
  /// intern into it), in the order they were inserted, except that the records of texts of
  /// more than about 4 KiB come after all others: each lies in a block of its own. (Those of
  /// nearly 4 GiB, whose texts lie apart, keep their place.)
  template <class Visit>
  void forEachRecord(Visit visit) const {
    const Hold hold(mLock);
    walkRecords(visit);
  }
  /// Takes the table's lock before the process forks, so that no other thread holds it while
  /// the process is copied; releaseAfterFork releases it, in the parent and in the child. A
  /// child would otherwise inherit the lock held by a thread it does not have.
  void holdForFork() const { mLock.lock(); }
  void releaseAfterFork() const { mLock.unlock(); }

private:
  // intern for a text of 8 to 16 bytes (`text` non-null), of 17 to 48, and of any other size.
  void internShort(const Entry*& out, const char* text, unsigned int size);
  void internName(const Entry*& out, const char* text, unsigned int size);
  void internOther(const Entry*& out, const char* text, unsigned int size);
  // The record of the `size` bytes at `text` (non-null), inserted if there is none, stored
  // in `out`; `keyOf(text, size)` is their RecordIndex key and `sameBytes(record, text, size)`
  // compares the bytes of a record of that size.
  template <class KeyOf, class SameBytes>
  void findOrInsert(const Entry*& out, const char* text, unsigned int size, KeyOf keyOf,
                    SameBytes sameBytes);
  // findOrInsert for a text (of key `key`) neither found in the first group it probes nor
  // shown absent by a free slot there: the whole lookup, and the insertion if it misses.
  void lookUpAndInsert(const Entry*& out, const char* text, unsigned int size, std::uint64_t key);
  // insert, its result stored in `out`.
  void insertInto(const Entry*& out, const char* text, unsigned int size, std::uint64_t key);
  // grow(), leaving out `pending`, a record made but not yet counted (null for none), for
  // which room is made in the new counts: it is counted in without allocating.
  unsigned int grow(const Entry* pending);
  // forEachRecord under a lock already held.
  template <class Visit>
  void walkRecords(Visit visit) const {
    mArena.forEach([&visit](const void* block) {
      const auto* record = static_cast<const Entry*>(block);
      visit(record);
      return arenaBytes(record->size());
    });
  }
  // The bytes a record of a text of `size` bytes takes from the arena.
  static std::size_t arenaBytes(unsigned int size);
  // A new record holding a copy of the `size` bytes at `text` (non-null), whose hash is
  // `hash`, from the arena's current block or from `block`; null when the arena needs a block
  // and `block` is too small. An outsized text's record points at `copy`, which holds the
  // text and its NUL. Throws nothing.
  const Entry* makeRecord(const char* text, unsigned int size, unsigned int hash,
                          detail::HostBlock& block, const detail::HostBlock& copy);
  // Undoes makeRecord for `record`, the last record made; a block of its own goes to `block`.
  void unmakeRecord(const Entry* record, detail::HostBlock& block);
  // The record of a text that a lookup without the lock did not find, inserted under the lock
  // unless another thread did so since, growing first if its bucket is full.
  const Entry* insert(const char* text, unsigned int size, std::uint64_t key);

  // Held while a record is inserted, the table grows or its figures are read.
  mutable detail::SpinningMutex mLock;
  using Hold = std::lock_guard<detail::SpinningMutex>;
  detail::BucketCounts mBuckets;
  detail::RecordIndex mRecords;
  detail::RecordArena mArena;
  unsigned int mBucketCount;
  unsigned int mPreviousBucketCount;
  unsigned int mRehashCount;
};

}  // namespace vesk::table_string

#endif
