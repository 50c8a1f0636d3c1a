// The storage of the interning table's records and their texts, cut one after another from
// blocks of the host's memory.
#ifndef VESK_UTIL_STRING_RECORD_ARENA_HPP
#define VESK_UTIL_STRING_RECORD_ARENA_HPP

#include <cstddef>

namespace vesk::detail {

/// Storage for records and their texts. Each small record is cut from the current block, right
/// after the one before it, so that records made one after another lie together whatever
/// the state of the host's allocator and cost no allocator header; blocks come from
/// vesk_calloc and grow from 16 KiB to 1 MiB. A record of more than kLargestShared bytes gets
/// a block of its own. Every block stays reachable from the arena, and forEach walks the
/// records in the order they were taken. Only the newest record may be given back, after an
/// insertion that failed; every other block stays for good: records outlive their table.
class RecordArena {
public:
  /// The most bytes a record cut from a shared block may have; larger ones get a block of
  /// their own.
  static constexpr std::size_t kLargestShared = 4096;

  RecordArena() = default;
  RecordArena(const RecordArena&) = delete;
  RecordArena& operator=(const RecordArena&) = delete;

  /// `bytes` (< 2^32 - 16) zero bytes aligned for a pointer; throws std::bad_alloc when the
  /// host has no memory.
  void* take(std::size_t bytes) {
    // Inline: most records fit in the current block, and cutting them is a few instructions.
    if (bytes <= kLargestShared && rounded(bytes) <= mLeft)
      return cut(rounded(bytes));
    return takeFromNewBlock(bytes);
  }
  /// Returns the `bytes` at `block`, the last that take gave: zeroed again to be taken anew,
  /// or, from a block of its own, released to the host.
  void giveBack(void* block, std::size_t bytes);

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
  void* takeFromNewBlock(std::size_t bytes);
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
  // The oldest and newest blocks of small records, and of records of a block of their own.
  void* mOldest = nullptr;
  void* mNewest = nullptr;
  void* mOwnOldest = nullptr;
  void* mOwnNewest = nullptr;
};

}  // namespace vesk::detail

#endif
