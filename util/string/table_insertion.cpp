// The interning table's insertions: a new text's record made and counted under the lock of
// its bucket's region, or under every lock where the table grows or its index doubles.
#include "util/string/interning_table.hpp"

#include "vesk/host/host_util.h"

#include <cassert>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace vesk::table_string {

namespace {

// A new text whose bucket already holds this many records grows the table first...
constexpr unsigned int kGrowthTrigger = 8;
// ...and from this many buckets on only if the table holds a record per 4 buckets or more.
constexpr unsigned int kBoundedGrowthFrom = 65536;

constexpr std::size_t kChunkBytes = detail::RecordArena::kChunkBytes;

// Whether growing may help a new text whose bucket is full: always below 65536 buckets, and
// from there on only while there is at least one record per 4 buckets. Growth cannot part
// texts of one hash, and natural growth comes at one record per bucket or so.
std::size_t records_for_growth(unsigned int buckets) {
  return buckets / 4 + (buckets % 4 != 0 ? 1 : 0);
}
bool growth_may_help(unsigned int buckets, std::size_t records) {
  return buckets < kBoundedGrowthFrom || records >= records_for_growth(buckets);
}

// The record and its text together: the text, and the NUL that the zero fill leaves after it,
// follow the record at once, so that a lookup finds the text in the record's cache line or
// the next. A text too long for one block of 32-bit size gets a buffer of its own, its record
// still with the others.
bool is_outsized(unsigned int size) { return size >= kMaxSize - 2 * sizeof(Entry); }

// The rest of the chunk this thread cuts its records from, and the serial of the table whose
// arena it is in: records made one after another on one thread lie one after another, and
// threads make records at once. A thread that turns to another table takes a chunk of it and
// leaves the rest of this one unused. Initial-exec: a load at a fixed distance from the
// thread pointer, not a call, on every insertion.
struct Chunk {
  std::uint64_t table;
  char* next;
  char* end;
};
__attribute__((tls_model("initial-exec"))) thread_local Chunk tChunk{0, nullptr, nullptr};

}  // namespace

// The record itself, and unless the text is outsized, the text and its NUL.
std::size_t Table::arenaBytes(unsigned int size) {
  return is_outsized(size) ? sizeof(Entry) : sizeof(Entry) + size + 1;
}

const Entry* Table::makeRecord(void* at, const char* text, unsigned int size, unsigned int hash,
                               const detail::HostBlock& copy) {
  if (is_outsized(size))
    return ::new (at) Entry(static_cast<const char*>(copy.data()), size, hash);
  char* text_copy = static_cast<char*>(at) + sizeof(Entry);
  std::memcpy(text_copy, text, size);
  return ::new (at) Entry(text_copy, size, hash);
}

// Kept out of line: a lookup that finds its text runs only findOrInsert's few instructions,
// so the processor can work on the caller's next lookup while this one waits for memory.
__attribute__((noinline)) const Entry* Table::insert(const char* text, unsigned int size,
                                                     std::uint64_t key) {
  // The host hash reads only the text: computed before any lock, so that locks are held
  // for less.
  const unsigned int hash = host_hash_n_bytes(0, size, text);
  const std::size_t bytes = arenaBytes(size);
  const std::size_t room = detail::RecordArena::rounded(bytes);
  // Host memory is taken and released only while no lock is held, for a host allocator may
  // itself intern, and does so here, on this thread: a new block for the arena when it needs
  // one (always, for a record of a block of its own), and the buffer of an outsized text.
  // What is not used is released after the locks, as these are destroyed after them.
  detail::HostBlock block;
  detail::HostBlock copy;
  const bool own = bytes > kChunkBytes;
  if (is_outsized(size)) {
    copy.allocate(std::size_t{size} + 1);
    std::memcpy(copy.data(), text, size);
  } else if (own) {
    block.allocate(detail::RecordArena::ownBlockBytes(bytes));
  }
  Chunk& chunk = tChunk;
  for (std::size_t needed = 0;; needed = 0) {
    if (!own &&
        (chunk.table != mSerial || static_cast<std::size_t>(chunk.end - chunk.next) < room)) {
      // A chunk of this table's arena, once per some dozens of records: what is left of the
      // last stays unused.
      const Hold hold(mArenaLock);
      if (void* fresh = mArena.take(kChunkBytes, block))
        chunk = {mSerial, static_cast<char*>(fresh), static_cast<char*>(fresh) + kChunkBytes};
      else
        needed = mArena.blockNeeded(kChunkBytes);
    }
    const Placing* placing = mPlacing.load(std::memory_order_acquire);
    const unsigned int bucket = placing->bucketOf(hash);
    Region& region = mRegions[placing->regionOf(bucket)];
    // The bucket's count and the record's room are most likely in memory: asked for now, they
    // arrive while the lock is taken and the second lookup made. (Should a growth replace the
    // counts meanwhile, the hint reads nothing.)
    __builtin_prefetch(placing->counts + bucket, 1);
    __builtin_prefetch(chunk.next, 1);
    if (!own && needed == 0) {
      const HoldRegion hold(*this, region);
      // A growth, under every lock, may have placed the bucket elsewhere since it was found;
      // while this lock is held, none can.
      if (mPlacing.load(std::memory_order_relaxed) != placing)
        continue;
      // Another thread may have inserted the text since the lookup without a lock; as the
      // text has this bucket, only this region's lock keeps it from doing so now.
      if (const Entry* found = mRecords.find(key, sameText(text, size)))
        return found;
      // The bucket's count is this region's alone; the index takes insertions of every
      // region at once. A bucket of 8 records or more takes one here only while the table
      // cannot grow (see shareOut); from 254 on, its count lies aside among those of every
      // region, under a lock of their own, and room there is the one thing that may fail
      // here, before anything changes.
      const bool full = mBuckets.sizes()[bucket] >= kGrowthTrigger;
      if ((!full || region.records < region.fullUntil) && region.records < region.room) {
        std::unique_lock<detail::SpinningMutex> aside;
        if (mBuckets.countsAside(bucket)) {
          aside = std::unique_lock<detail::SpinningMutex>(mAsideLock);
          mBuckets.reserveOneMore(bucket);
        }
        const Entry* record = nullptr;
        mRecords.insert(key,
                        [&] { return record = makeRecord(chunk.next, text, size, hash, copy); });
        chunk.next += room;
        mBuckets.add(bucket);
        ++region.records;
        // The record keeps an outsized text's buffer from now on.
        copy.handOver();
        return record;
      }
    }
    if (needed == 0) {
      const HoldAll hold(*this);
      if (const Entry* record = insertHoldingAll(text, size, key, hash, block, copy, needed))
        return record;
    }
    // The arena needs a block: taken and readied without the locks, after which the lookup
    // is made again, as another thread may insert the text meanwhile. Once per block.
    block.allocate(needed);
    detail::RecordArena::ready(block);
  }
}

// With every lock held no insertion runs: the bucket counts and the record count are exact,
// and a growth or a doubling sees every record.
const Entry* Table::insertHoldingAll(const char* text, unsigned int size, std::uint64_t key,
                                     unsigned int hash, detail::HostBlock& block,
                                     detail::HostBlock& copy, std::size_t& needed) {
  if (const Entry* found = mRecords.find(key, sameText(text, size)))
    return found;
  // Every allocation the insertion needs comes before anything a caller can see changes:
  // the record, then room in the index (a larger index holds the same records), then room
  // in the bucket counts, grown ones if need be, which take the place of the old only once
  // nothing can fail. Whichever fails leaves the table as it was, and a retry of the same
  // text grows it at most once.
  const std::size_t bytes = arenaBytes(size);
  const bool own = bytes > kChunkBytes;
  // A record of the chunks goes to this thread's, which insert made sure has room.
  Chunk& chunk = tChunk;
  void* at = chunk.next;
  if (own && (at = mArena.take(bytes, block)) == nullptr) {
    needed = mArena.blockNeeded(bytes);
    return nullptr;
  }
  const Entry* record = makeRecord(at, text, size, hash, copy);
  std::size_t records = recordsHoldingAll();
  unsigned int bucket = mPlacing.load(std::memory_order_relaxed)->bucketOf(hash);
  try {
    makeRoomInIndex(records + 1, record);
    if (mBuckets.size(bucket) >= kGrowthTrigger && growth_may_help(mBucketCount, records)) {
      grow(record);
      bucket = mPlacing.load(std::memory_order_relaxed)->bucketOf(hash);
    } else {
      mBuckets.reserveOneMore(bucket);
    }
  } catch (...) {
    record->~Entry();
    if (own)
      mArena.giveBack(const_cast<Entry*>(record), bytes, block);
    else
      std::memset(at, 0, bytes);  // for the walks, and the zero fill of a later record
    throw;
  }
  mBuckets.add(bucket);
  const unsigned int region = mPlacing.load(std::memory_order_relaxed)->regionOf(bucket);
  ++mRegions[region].records;
  mRecords.insert(key, [record] { return record; });
  if (!own)
    chunk.next += detail::RecordArena::rounded(bytes);
  // The record keeps an outsized text's buffer from now on.
  copy.handOver();
  shareOut(region);
  return record;
}

// Each region may insert, under its own lock, as many records as its share of the index's
// free room: the shares never add up to more than the room, so the index never needs to
// double but under every lock. From 65536 buckets on, while the table holds fewer records
// than growth needs, as many insertions as it lacks cannot grow it: a region may make its
// share of them into full buckets under its own lock (texts of one hash, which fill one
// bucket, thus need not hold every lock each). A region that has used a share comes here,
// every lock held, and gets the remainder of the division, and of the second half of the
// insertions short of growth, on top of its share.
void Table::shareOut(unsigned int favoured) {
  const std::size_t records = recordsHoldingAll();
  const std::size_t free = mRecords.capacity() - records;
  const std::size_t short_of_growth =
      growth_may_help(mBucketCount, records) ? 0 : records_for_growth(mBucketCount) - records;
  const std::size_t growth_share = short_of_growth / (std::size_t{2} * kRegions);
  for (Region& region : mRegions) {
    region.room = region.records + free / kRegions;
    region.fullUntil = region.records + growth_share;
  }
  mRegions[favoured].room += free % kRegions;
  mRegions[favoured].fullUntil += short_of_growth - growth_share * kRegions;
}

// The records of the arena's pieces are shared out among the pass's takers; those of blocks
// of their own, which are few, are the owner's.
struct Table::Refill final : detail::PassWork {
  Refill(const Table& from, detail::RecordIndex::Doubling& into, const Entry* left)
      : table(from), doubling(into), pending(left) {}
  void work(detail::SharedPass& pass, unsigned int helper) noexcept override {
    // The owner places records with plain steps until it admits helpers, which it does
    // between pieces once one wants in; from then on every slot is claimed atomically.
    bool shared = helper != detail::SharedPass::kOwner;
    detail::RecordIndex::Filler filler(doubling, shared);
    table.walkPieces(
        pass, helper, pending,
        [&] {
          if (!shared && pass.admit()) {
            filler.share();
            shared = true;
          }
        },
        [&](const Entry* record) { filler.add(record); });
  }
  const Table& table;
  detail::RecordIndex::Doubling& doubling;
  const Entry* pending;
};

// The owner counts into the new counts; each helper into counts of its own, which the owner
// adds in after the pass, so that no count is written by two threads.
struct Table::Recount final : detail::PassWork {
  Recount(const Table& from, detail::BucketCounts& into, const Entry* left)
      : table(from), next(into), pending(left) {}
  void work(detail::SharedPass& pass, unsigned int helper) noexcept override {
    // Every helper counts into counts of its own.
    if (helper == detail::SharedPass::kOwner)
      pass.admit(true);
    detail::BucketCounts* into = &next;
    try {
      if (helper != detail::SharedPass::kOwner) {
        shares[helper] = std::make_unique<detail::BucketCounts>(next.count());
        into = shares[helper].get();
      }
    } catch (...) {
      return;  // no memory for counts of its own: this thread does not help
    }
    try {
      detail::CountAdder adder(*into);
      table.walkPieces(
          pass, helper, pending, [] {}, [&](const Entry* record) { adder.add(record->hash()); });
      adder.finish();
    } catch (...) {
      // An exact count could not be made room for: the growth fails, on the owner's thread.
      failed.store(true, std::memory_order_relaxed);
    }
  }
  const Table& table;
  detail::BucketCounts& next;
  const Entry* pending;
  std::unique_ptr<detail::BucketCounts> shares[detail::SharedPass::kHelpers];
  std::atomic<bool> failed{false};
};

void Table::runPass(detail::PassWork& work) { mPass.run(work, mArena.pieces()); }

void Table::makeRoomInIndex(std::size_t records, const Entry* pending) {
  while (mRecords.capacity() < records) {
    detail::RecordIndex::Doubling doubling(mRecords);
    Refill refill(*this, doubling, pending);
    runPass(refill);
    mRecords.publish(doubling);
  }
}

unsigned int Table::grow() {
  const HoldAll hold(*this);
  const unsigned int count = grow(nullptr);
  shareOut(0);
  return count;
}

unsigned int Table::grow(const Entry* pending) {
  if (mPreviousBucketCount >= kMaxSize - mBucketCount)
    throw std::length_error("vesk::table_string::Table: bucket count beyond 32 bits");
  const unsigned int count = mBucketCount + mPreviousBucketCount + 1;
  assert(mRehashCount + 1 < kMostGrowths);
  // The stored hashes place every record again; no text is read or hashed again and no
  // record moves. If an allocation fails here the old buckets stay in place untouched.
  detail::BucketCounts next(count);
  Recount recount(*this, next, pending);
  runPass(recount);
  if (recount.failed.load(std::memory_order_relaxed))
    throw std::bad_alloc();
  for (const auto& share : recount.shares)
    if (share != nullptr)
      next.addAll(*share);
  if (pending != nullptr)
    next.reserveOneMore(next.indexOf(pending->hash()));
  // Only now, with nothing left to fail, does the sequence advance. An insertion that found
  // its region by the old placing finds, under the region's lock, that it changed.
  mBuckets.swap(next);
  mPreviousBucketCount = mBucketCount;
  mBucketCount = count;
  ++mRehashCount;
  mPlacings[mRehashCount] = Placing(count, mBuckets.sizes());
  // The insertions short of the next growth are counted again by the caller (shareOut).
  for (Region& region : mRegions)
    region.fullUntil = 0;
  mPlacing.store(&mPlacings[mRehashCount], std::memory_order_release);
  return count;
}

}  // namespace vesk::table_string
