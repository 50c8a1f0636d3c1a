// The storage of the interning table's records and their texts, cut one after another from
// blocks of the host's memory.
#ifndef VESK_UTIL_STRING_RECORD_ARENA_HPP
#define VESK_UTIL_STRING_RECORD_ARENA_HPP

#include <cstddef>

namespace vesk::detail {

/// A block of zero bytes from the host allocator, released to it when the holder is destroyed
/// unless handed on. The interning table takes the host memory an insertion may need before
/// it takes its lock, and releases what it did not use after, so that no host function runs
/// under the lock: a host allocator may then intern texts itself.
class HostBlock {
public:
  HostBlock() = default;
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;
  ~HostBlock() {
    if (mBlock != nullptr)
      releaseToHost();
  }

  /// Holds a new block of `bytes` (< 2^32) zero bytes in place of the one it held; throws
  /// std::bad_alloc when the host has no memory.
  void allocate(std::size_t bytes);
  /// The block held, or null.
  void* data() const { return mBlock; }
  /// The bytes of the block held, 0 for none.
  std::size_t size() const { return mBytes; }
  /// Gives up the block, which the caller keeps from now on.
  void* handOver() {
    void* block = mBlock;
    mBlock = nullptr;
    mBytes = 0;
    return block;
  }
  /// Takes over `block` of `bytes`, from vesk_calloc, to release it; holds none before.
  void own(void* block, std::size_t bytes) {
    mBlock = block;
    mBytes = bytes;
  }

private:
  void releaseToHost();

  void* mBlock = nullptr;
  std::size_t mBytes = 0;
};

/// Storage for records and their texts. Each small record is cut from the current block, right
/// after the one before it, so that records made one after another lie together whatever
/// the state of the host's allocator and cost no allocator header; blocks come from
/// vesk_calloc and grow from 16 KiB to 4 MiB, and their stretches aligned to 2 MiB are offered
/// huge pages (ready), so that a lookup among millions of records seldom misses its address
/// translation as well as the record. A record of more than kLargestShared bytes gets
/// a block of its own. The arena allocates nothing itself: the caller hands it each new block
/// (blockNeeded says when), so that it may take host memory where it chooses. Every block
/// stays reachable from the arena, and forEach walks the records in the order they were
/// taken. Only the newest record may be given back, after an insertion that failed; every
/// other block stays for good: records outlive their table.
class RecordArena {
public:
  /// The most bytes a record cut from a shared block may have; larger ones get a block of
  /// their own.
  static constexpr std::size_t kLargestShared = 4096;

  RecordArena() = default;
  RecordArena(const RecordArena&) = delete;
  RecordArena& operator=(const RecordArena&) = delete;

  /// The bytes of the host block that take(`bytes`) needs, or 0 when the current block has
  /// room for them.
  std::size_t blockNeeded(std::size_t bytes) const {
    if (bytes > kLargestShared)
      return ownBlockBytes(bytes);
    return rounded(bytes) <= mLeft ? 0 : mNextBlock;
  }
  /// The bytes of the block of its own of a record of `bytes` (> kLargestShared), which
  /// take(`bytes`) always needs.
  static std::size_t ownBlockBytes(std::size_t bytes) { return sizeof(Header) + bytes; }
  /// `bytes` (< 2^32 - 48) zero bytes aligned for a pointer: cut from the current block, or,
  /// when blockNeeded(`bytes`) is not 0, from `block`, which the arena keeps from then on;
  /// null, and nothing changed, when `block` holds fewer bytes than that. Allocates nothing
  /// and throws nothing.
  void* take(std::size_t bytes, HostBlock& block) {
    // Inline: most records fit in the current block, and cutting them is a few instructions.
    if (bytes <= kLargestShared && rounded(bytes) <= mLeft)
      return cut(rounded(bytes));
    return takeFromNewBlock(bytes, block);
  }
  /// Readies `block`, just allocated for a take() that needs it, before the caller takes its
  /// lock: offers its stretches aligned to 2 MiB huge pages and writes a zero to every page
  /// of it, so that the system's work for a fresh block (the advice, a fault per page) is
  /// done then, not under the lock as the records reach page after page.
  static void ready(HostBlock& block);
  /// Returns the `bytes` at `record`, the last that take gave: zeroed again to be taken anew,
  /// or, from a block of its own, handed to `block` (which holds none) to be released.
  void giveBack(void* record, std::size_t bytes, HostBlock& block);

  /// Calls `step(record)` for every record taken and not given back, in the order they were
  /// taken (those of a block of their own after all others); `step` returns the bytes that
  /// record was taken with.
  template <class Step>
  void forEach(Step step) const {
    for (const auto* block = static_cast<const Header*>(mOldest); block != nullptr;
         block = static_cast<const Header*>(block->next)) {
      const char* end =
          block == mNewest ? mCursor : reinterpret_cast<const char*>(block) + block->used;
      for (const char* record = reinterpret_cast<const char*>(block + 1); record < end;)
        record += rounded(step(static_cast<const void*>(record)));
    }
    for (const auto* block = static_cast<const Header*>(mOwnOldest); block != nullptr;
         block = static_cast<const Header*>(block->next))
      step(static_cast<const void*>(block + 1));
  }

private:
  // The start of every block: the blocks before and after it (so that every block stays
  // reachable, for a leak checker too, and is walked in order) and, once a newer block has
  // followed it, the bytes used of it.
  struct Header {
    void* previous;
    void* next;
    std::size_t used;
  };
  static_assert(sizeof(Header) % alignof(void*) == 0, "records after a header stay aligned");
  // take() where the current block has no room, or for a record of a block of its own.
  // Never inlined: it runs once per block.
  void* takeFromNewBlock(std::size_t bytes, HostBlock& block);
  // The next `bytes` (rounded, at most mLeft) of the current block.
  void* cut(std::size_t bytes) {
    void* taken = mCursor;
    mCursor += bytes;
    mLeft -= bytes;
    return taken;
  }
  static std::size_t rounded(std::size_t bytes) {
    return (bytes + alignof(void*) - 1) / alignof(void*) * alignof(void*);
  }

  char* mCursor = nullptr;
  std::size_t mLeft = 0;
  std::size_t mNextBlock = std::size_t{16} * 1024;
  // The largest block: two huge pages, of which a block holds at least one aligned.
  static constexpr std::size_t kLargestBlock = std::size_t{4} << 20;
  // The oldest and newest blocks of small records, and of records of a block of their own.
  void* mOldest = nullptr;
  void* mNewest = nullptr;
  void* mOwnOldest = nullptr;
  void* mOwnNewest = nullptr;
};

}  // namespace vesk::detail

#endif
