// The storage of the interning table's records and their texts, cut one after another from
// blocks of the host's memory.
#ifndef VESK_UTIL_STRING_RECORD_ARENA_HPP
#define VESK_UTIL_STRING_RECORD_ARENA_HPP

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

/// Storage for records and their texts, in chunks of kChunkBytes that each inserting thread
/// takes for its own: it cuts its records from its chunk, one right after the one before, so
/// that threads make records at once, reach the shared arena once per chunk, and a thread's
/// records lie together in the order it made them, whatever the state of the host's allocator,
/// and cost no allocator header. A record of more than kChunkBytes gets a block of its own.
/// Chunks are cut from blocks of vesk_calloc that grow from 16 KiB to 4 MiB, and their
/// stretches aligned to 2 MiB are offered huge pages (ready), so that a lookup among millions
/// of records seldom misses its address translation as well as the record. The arena
/// allocates nothing itself: the caller hands it each new block (blockNeeded says when), so
/// that it may take host memory where it chooses. Every block stays reachable from the arena,
/// and forEach walks the records chunk by chunk, in the order the chunks were taken. Only the
/// newest record of a block of its own may be given back, after an insertion that failed;
/// every other block stays for good: records outlive their table.
///
/// A record's first word, its text pointer, is never zero: a chunk's records end at its end
/// or at the first zero word after them, for the zero fill of unused room.
class RecordArena {
public:
  /// The bytes of a chunk, and the most a record cut from one may have; larger ones get a
  /// block of their own.
  static constexpr std::size_t kChunkBytes = 4096;

  RecordArena() = default;
  RecordArena(const RecordArena&) = delete;
  RecordArena& operator=(const RecordArena&) = delete;

  /// The bytes of the host block that take(`bytes`) needs, or 0 when the current block has
  /// room for them.
  std::size_t blockNeeded(std::size_t bytes) const {
    if (bytes > kChunkBytes)
      return ownBlockBytes(bytes);
    return rounded(bytes) <= mLeft ? 0 : mNextBlock;
  }
  /// The bytes of the block of its own of a record of `bytes` (> kChunkBytes), which
  /// take(`bytes`) always needs.
  static std::size_t ownBlockBytes(std::size_t bytes) { return sizeof(Header) + bytes; }
  /// A chunk (`bytes` == kChunkBytes) or the block of a record of its own (`bytes` >
  /// kChunkBytes, < 2^32 - 48), zero bytes aligned for a pointer: cut from the current block,
  /// or, when blockNeeded(`bytes`) is not 0, from `block`, which the arena keeps from then
  /// on; null, and nothing changed, when `block` holds fewer bytes than that. Allocates
  /// nothing and throws nothing.
  void* take(std::size_t bytes, HostBlock& block) {
    assert(bytes >= kChunkBytes);
    if (bytes == kChunkBytes && kChunkBytes <= mLeft)
      return cut(kChunkBytes);
    return takeFromNewBlock(bytes, block);
  }
  /// The room `bytes` take in a chunk: rounded up to the alignment of a pointer.
  static std::size_t rounded(std::size_t bytes) {
    return (bytes + alignof(void*) - 1) / alignof(void*) * alignof(void*);
  }
  /// Readies `block`, just allocated for a take() that needs it, before the caller takes its
  /// lock: offers its stretches aligned to 2 MiB huge pages and writes a zero to every page
  /// of it, so that the system's work for a fresh block (the advice, a fault per page) is
  /// done then, not under the lock as the records reach page after page.
  static void ready(HostBlock& block);
  /// Returns the record at `record`, of a block of its own, the last that take gave such a
  /// block: handed to `block` (which holds none) to be released.
  void giveBack(void* record, std::size_t bytes, HostBlock& block);

  /// Calls `step(record)` for every record in the chunks, chunk by chunk in the order they
  /// were taken, then for every record of a block of its own, in the order they were taken;
  /// `step` returns the bytes that record was made with.
  template <class Step>
  void forEach(Step step) const {
    for (const auto* block = static_cast<const Header*>(mOldest); block != nullptr;
         block = static_cast<const Header*>(block->next))
      forEachInChunks(block, step);
    forEachOwn(step);
  }
  /// The number of pieces the chunks fall into, for threads that walk them at once: each
  /// block's chunks in runs of kPieceChunks, kPiecesPerBlock to a block (the last ones of a
  /// smaller block empty), numbered from 0 in the order the chunks were taken.
  std::size_t pieces() const { return mBlocks * kPiecesPerBlock; }
  /// forEach for the records in the chunks of piece `k` (< pieces()) alone. Several threads
  /// may walk pieces at once, while no other changes the arena.
  template <class Step>
  void forEachInPiece(std::size_t k, Step step) const {
    const auto* block = static_cast<const Header*>(mOldest);
    for (std::size_t n = k / kPiecesPerBlock; n > 0; --n)
      block = static_cast<const Header*>(block->next);
    forEachInChunks(block, step, k % kPiecesPerBlock * kPieceChunks, kPieceChunks);
  }
  /// forEach for the records of a block of their own alone.
  template <class Step>
  void forEachOwn(Step step) const {
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
  // forEach for the records in the chunks of `block`, or in the `count` of them from chunk
  // `first` on.
  template <class Step>
  void forEachInChunks(const Header* block, Step step, std::size_t first = 0,
                       std::size_t count = kLargestBlock / kChunkBytes) const {
    const char* chunks = reinterpret_cast<const char*>(block + 1);
    const std::size_t used = static_cast<std::size_t>(
        (block == mNewest ? mCursor : reinterpret_cast<const char*>(block) + block->used) - chunks);
    const std::size_t last =
        used / kChunkBytes < first + count ? used / kChunkBytes : first + count;
    for (std::size_t c = first; c < last; ++c) {
      const char* chunk = chunks + c * kChunkBytes;
      // The next chunk, line by line, asked for while this one is walked: the walk reads a
      // record's size to find the next, one record at a time, and the processor's own
      // prefetch stops at each page.
      if (c + 1 < last)
        for (std::size_t line = 0; line < kChunkBytes; line += 64)
          __builtin_prefetch(chunk + kChunkBytes + line);
      for (const char* record = chunk; record < chunk + kChunkBytes && load_word(record) != 0;)
        record += rounded(step(static_cast<const void*>(record)));
    }
  }
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
  // The word at `at`, aligned for a pointer.
  static std::uintptr_t load_word(const char* at) {
    std::uintptr_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
  }

  char* mCursor = nullptr;
  std::size_t mLeft = 0;
  // Blocks hold whole chunks after their header: 4 in the first.
  std::size_t mNextBlock = sizeof(Header) + 4 * kChunkBytes;
  // The largest block: two huge pages, of which a block holds at least one aligned.
  static constexpr std::size_t kLargestBlock = std::size_t{4} << 20;
  // The chunks of a piece, and the pieces of a block.
  static constexpr std::size_t kPieceChunks = 64;
  static constexpr std::size_t kPiecesPerBlock = kLargestBlock / kChunkBytes / kPieceChunks;
  // The oldest and newest blocks of small records, and of records of a block of their own.
  void* mOldest = nullptr;
  void* mNewest = nullptr;
  std::size_t mBlocks = 0;
  void* mOwnOldest = nullptr;
  void* mOwnNewest = nullptr;
};

}  // namespace vesk::detail

#endif
