// The process-wide interning table behind TableString: one record per distinct text, counted
// in buckets that decide growth and the report, found through a keyed index.
#ifndef VESK_UTIL_STRING_INTERNING_TABLE_HPP
#define VESK_UTIL_STRING_INTERNING_TABLE_HPP

#include "util/base/spinning_mutex.hpp"
#include "util/string/bucket_counts.hpp"
#include "util/string/record_arena.hpp"
#include "util/string/record_index.hpp"
#include "util/string/shared_pass.hpp"
#include "util/string/text_compare.hpp"
#include "vesk/string.hpp"

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <mutex>

namespace vesk::table_string {

/// The size no text may have: with its NUL it would not fit 32 bits.
inline constexpr unsigned int kMaxSize = std::numeric_limits<unsigned int>::max();

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
/// no lock and writes nothing. The buckets fall into kRegions regions of neighbouring buckets,
/// each with a lock; a new text is inserted under the lock of its bucket's region, after a
/// second lookup under it, so texts of different regions are inserted at once, while two
/// insertions of one text, which has one bucket, take turns. An insertion whose bucket holds 8
/// records already, which may grow the table, whose region has used its share of the index's
/// room, or whose record needs a block of its own is made again holding every region's lock,
/// as are growths, doublings of the index and the figures: every bucket's insertions thus have
/// one order, and the buckets, the growths and the report are those of one thread interning
/// the texts in some order, for a single thread in its own. No host function runs under a
/// lock: the host memory of a new record is taken before and released after.
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
  /// Calls `visit(record)` for every record, holding every lock of the table (`visit` must
  /// not intern into it): chunk by chunk as the threads took them, each thread's records in
  /// the order it inserted them, and the records of texts of more than about 4 KiB after all
  /// others, each in a block of its own. (Those of nearly 4 GiB, whose texts lie apart, keep
  /// their place.) One thread's records thus come in the order it inserted them.
  template <class Visit>
  void forEachRecord(Visit visit) const {
    const HoldAll hold(*this);
    walkRecords(visit);
  }
  /// Takes every lock of the table before the process forks, so that no other thread holds
  /// one while the process is copied; releaseAfterFork releases them, in the parent and in
  /// the child. A child would otherwise inherit a lock held by a thread it does not have.
  void holdForFork() const { lockAll(); }
  void releaseAfterFork() const { unlockAll(); }

  /// The regions the buckets fall into, each with a lock of its own.
  static constexpr unsigned int kRegions = 32;

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
  // The record of a text that a lookup without a lock did not find, inserted under its
  // region's lock unless another thread did so since, or under every lock (insertHoldingAll).
  const Entry* insert(const char* text, unsigned int size, std::uint64_t key);

  // A region's lock. It is only ever tried, by lockRegion, which decides how to wait, and so
  // needs no record of sleepers: it is released by a plain store, where a std::mutex
  // exchanges, and an exchange first waits for the section's stores, misses on the index's
  // groups among them, to reach the cache.
  class RegionLock {
  public:
    bool try_lock() { return !mHeld.exchange(true, std::memory_order_acquire); }
    void unlock() { mHeld.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> mHeld{false};
  };
  // The state of a region of the buckets, alone in its cache line: its lock, the records it
  // inserted, and its shares (see shareOut) as counts those records may reach: of the
  // index's room, and of the insertions into full buckets that cannot grow the table.
  struct alignas(64) Region {
    mutable RegionLock lock;
    std::size_t records = 0;
    std::size_t room = 0;
    std::size_t fullUntil = 0;
  };
  // How a bucket count places hashes: their bucket, and the bucket's region (the buckets in
  // kRegions runs of about equal length, so that two regions seldom count in one cache line).
  struct Placing {
    Placing() : modulus(1), regionFactor(0), counts(nullptr) {}
    Placing(unsigned int count, const std::uint8_t* sizes);
    unsigned int bucketOf(unsigned int hash) const { return modulus(hash); }
    unsigned int regionOf(unsigned int bucket) const {
      return static_cast<unsigned int>((std::uint64_t{bucket} * regionFactor) >> 32);
    }
    detail::Modulus modulus;
    std::uint64_t regionFactor;
    // The bucket counts' bytes, for a hint to the processor before the lock.
    const std::uint8_t* counts;
  };
  // The growths a bucket count of 32 bits allows, and more.
  static constexpr unsigned int kMostGrowths = 48;

  // insert under every lock: for a text whose bucket holds 8 records or more, whose region
  // has no room left, or of more than kChunkBytes. Null when the arena needs a block of
  // `needed` bytes, to be taken without the locks.
  const Entry* insertHoldingAll(const char* text, unsigned int size, std::uint64_t key,
                                unsigned int hash, detail::HostBlock& block,
                                detail::HostBlock& copy, std::size_t& needed);
  // grow(), leaving out `pending`, a record made but not yet counted (null for none), for
  // which room is made in the new counts: it is counted in without allocating.
  unsigned int grow(const Entry* pending);
  // Shares out among the regions the index's free room and the insertions short of the
  // next growth, the remainders to `favoured`; every lock held.
  void shareOut(unsigned int favoured);
  // The number of records, every lock held.
  std::size_t recordsHoldingAll() const;
  // forEachRecord under the locks already held.
  template <class Visit>
  void walkRecords(Visit visit) const {
    mArena.forEach([&visit](const void* block) {
      const auto* record = static_cast<const Entry*>(block);
      visit(record);
      return arenaBytes(record->size());
    });
  }
  // Calls `visit(record)` for every record of the arena's pieces that this thread takes of a
  // pass (and for the owner, every record of a block of its own) but `pending`, made and not
  // yet inserted, after calling `beforePiece()` before each piece.
  template <class BeforePiece, class Visit>
  void walkPieces(detail::SharedPass& pass, unsigned int helper, const Entry* pending,
                  BeforePiece beforePiece, Visit visit) const {
    const auto step = [&](const void* at) {
      const auto* record = static_cast<const Entry*>(at);
      if (record != pending)
        visit(record);
      return arenaBytes(record->size());
    };
    for (std::size_t k = pass.take(); k < pass.pieces(); k = pass.take()) {
      beforePiece();
      mArena.forEachInPiece(k, step);
    }
    if (helper == detail::SharedPass::kOwner)
      mArena.forEachOwn(step);
  }
  // A test of whether a record holds the `size` bytes at `text`, for RecordIndex::find.
  static auto sameText(const char* text, unsigned int size) {
    return [text, size](const Entry* record) {
      return record->size() == size && detail::same_bytes(record->text(), text, size);
    };
  }
  // The bytes a record of a text of `size` bytes takes from the arena.
  static std::size_t arenaBytes(unsigned int size);
  // A new record holding a copy of the `size` bytes at `text` (non-null), whose hash is
  // `hash`, at `at`; an outsized text's record points at `copy`, which holds the text and its
  // NUL. Throws nothing.
  static const Entry* makeRecord(void* at, const char* text, unsigned int size, unsigned int hash,
                                 const detail::HostBlock& copy);
  // A growth's recount of the buckets and a doubling's refill of the index, as work for a
  // SharedPass.
  struct Recount;
  struct Refill;
  // Doubles the index until it has room for `records` records, `pending` (not null), made
  // but not yet inserted, left out; every lock held. Throws std::bad_alloc and leaves the
  // index as it was if it cannot.
  void makeRoomInIndex(std::size_t records, const Entry* pending);
  // Runs `work` over the arena's pieces, every lock held, shared with the threads waiting
  // for a lock of the table meanwhile.
  void runPass(detail::PassWork& work);
  // Takes `region`'s lock; while it waits, helps with a pass under way. It pauses between
  // its first tries, then yields its processor between tries for about a millisecond, and
  // for as long as a thread holds every lock (a pass it can help with may open), and only
  // then sleeps between tries, 200 microseconds at a time, never in the mutex itself: a
  // region's lock may be held that long by a fault on a page that a fork left shared, and
  // the lock a sleeper waited for in the mutex might be taken next by a thread that is to
  // hold every lock, and the sleeper would sleep through the pass it could help with.
  void lockRegion(const Region& region) const;
  struct HoldRegion {
    HoldRegion(const Table& table, const Region& region) : held(region) {
      table.lockRegion(region);
    }
    ~HoldRegion() { held.lock.unlock(); }
    HoldRegion(const HoldRegion&) = delete;
    HoldRegion& operator=(const HoldRegion&) = delete;
    const Region& held;
  };
  // Every region's lock, in order, then the arena's; unlockAll releases them.
  void lockAll() const;
  void unlockAll() const;
  struct HoldAll {
    explicit HoldAll(const Table& table) : held(table) { held.lockAll(); }
    ~HoldAll() { held.unlockAll(); }
    HoldAll(const HoldAll&) = delete;
    HoldAll& operator=(const HoldAll&) = delete;
    const Table& held;
  };
  using Hold = std::lock_guard<detail::SpinningMutex>;

  Region mRegions[kRegions];
  // The pass that the thread holding every lock shares with those waiting for one.
  mutable detail::SharedPass mPass;
  // Whether a thread holds every lock.
  mutable std::atomic<bool> mAllHeld{false};
  // Held, under a region's lock, while the counts kept aside of buckets of 254 records or
  // more are read or changed.
  mutable detail::SpinningMutex mAsideLock;
  // Held while a chunk or a block of its own is cut from the arena, or its blocks are walked.
  mutable detail::SpinningMutex mArenaLock;
  // The placing of every bucket count the table has had, the current one published last:
  // an insertion finds its region before it holds a lock, and checks it under the lock.
  Placing mPlacings[kMostGrowths];
  std::atomic<const Placing*> mPlacing{nullptr};
  // Told apart from every other table's, for the chunk each thread cuts its records from.
  std::uint64_t mSerial;
  detail::BucketCounts mBuckets;
  detail::RecordIndex mRecords;
  detail::RecordArena mArena;
  unsigned int mBucketCount;
  unsigned int mPreviousBucketCount;
  unsigned int mRehashCount;
};

}  // namespace vesk::table_string

#endif
