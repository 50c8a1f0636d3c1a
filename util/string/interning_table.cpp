// Interned-text records and the process-wide table that keeps one record per distinct text.
#include "interning_table.hpp"

#include "vesk/host/host_util.h"

#include <sys/mman.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>
#include <utility>
#include <vector>

// XXH3 compiled into this file alone: nothing of xxHash is linked or exported.
#define XXH_INLINE_ALL
#include <xxhash.h>

// A leak checker finds the records through the bucket words, but a tagged word is not a plain
// address. When a checker is loaded into the process, each record is declared as kept on
// purpose (the record's text stays reachable through it).
extern "C" void __lsan_ignore_object(const void* block) __attribute__((weak));

namespace vesk::table_string {

namespace {

constexpr unsigned int kMaxSize = std::numeric_limits<unsigned int>::max();

// A new text whose bucket already holds this many records grows the table first...
constexpr unsigned int kGrowthTrigger = 8;
// ...and from this many buckets on only if the table holds a record per 4 buckets or more.
constexpr unsigned int kBoundedGrowthFrom = 65536;

constexpr unsigned int kInitialBucketCount = 2089;
constexpr unsigned int kInitialPreviousBucketCount = 1049;

// How many records growth looks ahead to prefetch the buckets they will go to.
constexpr std::size_t kLookahead = 32;

// All `size` bytes decide, not only those before a NUL: texts that differ only after an
// embedded NUL are different texts and must get different records.
bool same_bytes(const char* a, const char* b, unsigned int size) {
  if (size == 0 || a == b)
    return true;
  if (a == nullptr || b == nullptr)
    return false;
  return std::memcmp(a, b, size) == 0;
}

// Eight bytes as one word, for an equality test only: both sides are read the same way, so
// the host's byte order does not matter. (A shift-built word would cost some forty
// instructions where one load does.)
std::uint64_t word_of_8(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Whether growing may help a new text whose bucket is full: always below 65536 buckets, and
// from there on only while there is at least one record per 4 buckets. Growth cannot part
// texts of one hash, and natural growth comes at one record per bucket or so.
bool growth_may_help(unsigned int buckets, std::size_t records) {
  return buckets < kBoundedGrowthFrom || records >= buckets / 4 + (buckets % 4 != 0 ? 1 : 0);
}

bool same_text(const Entry& a, const Entry& b) {
  return a.hash() == b.hash() && a.size() == b.size() && same_bytes(a.text(), b.text(), a.size());
}

}  // namespace

Entry::Entry(const char* text, unsigned int size)
    : mText(text),
      mSize(size),
      mHash(host_hash_n_bytes(0, text != nullptr ? size : 0, text != nullptr ? text : "")),
      mOwnsText(false) {}

Entry::Entry(const Entry& other)
    : AllocatorBase(other), mText(nullptr), mSize(other.mSize), mHash(other.mHash),
      mOwnsText(true) {
  // The buffer needs one byte more than the text; a size with no room for it is refused
  // rather than wrapped to a buffer too small for the bytes.
  if (mSize == kMaxSize)
    throw std::length_error("vesk::table_string::Entry: text of 4294967295 bytes");
  // calloc's zero fill leaves the NUL after the text, so text() can be handed to C callers.
  auto* buffer = static_cast<char*>(vesk_calloc(1, mSize + 1));
  if (buffer == nullptr)
    throw std::bad_alloc();
  if (mSize != 0 && other.mText != nullptr)
    std::memcpy(buffer, other.mText, mSize);
  mText = buffer;
}

Entry::~Entry() {
  if (mOwnsText)
    vesk_free(const_cast<char*>(mText));
}

bool Entry::operator==(const Entry& other) const { return same_text(*this, other); }

bool Entry::operator<(const Entry& other) const {
  return std::strcmp(mText != nullptr ? mText : "", other.mText != nullptr ? other.mText : "") < 0;
}

Table::Table()
    : mBuckets(kInitialBucketCount),
      mBucketCount(kInitialBucketCount),
      mPreviousBucketCount(kInitialPreviousBucketCount),
      mRehashCount(0),
      mRecordCount(0) {}

const Entry* Table::intern(const char* text, unsigned int size) {
  if (text == nullptr || size == 0) {
    text = "";
    size = 0;
  }
  if (size == kMaxSize)
    throw std::length_error("vesk::TableString: text of 4294967295 bytes");
  // The key's hash, as the key constructor would compute it; the key itself is built only
  // when a record has to be made from it. A hit thus costs the hash, the bucket and the record.
  const unsigned int hash = host_hash_n_bytes(0, size, text);
  // Texts of 8 to 16 bytes, the common identifiers, are compared as two overlapping words.
  if (size - 8 <= 8)
    return findOrInsert(text, size, hash, [](const char* a, const char* b, unsigned int n) {
      return ((word_of_8(a) ^ word_of_8(b)) | (word_of_8(a + n - 8) ^ word_of_8(b + n - 8))) == 0;
    });
  return findOrInsert(text, size, hash, same_bytes);
}

// Out of line, one copy per comparison, and for identifiers free of calls until it inserts,
// so that a hit saves no registers and runs only a few dozen instructions.
template <class SameBytes>
const Entry* Table::findOrInsert(const char* text, unsigned int size, unsigned int hash,
                                 SameBytes sameBytes) {
  // A long bucket is searched through its index, in a call of its own that this one jumps
  // to, so that the common case keeps no stack frame.
  if (mBuckets.bucket(mBuckets.indexOf(hash)).size > detail::BucketArray::kLinearLimit)
    return findOrInsertLong(text, size, hash, mBuckets.indexOf(hash));
  if (const Entry* found = find(text, size, hash, sameBytes))
    return found;
  return insert(text, size, hash);
}

__attribute__((noinline)) const Entry* Table::findOrInsertLong(const char* text, unsigned int size,
                                                               unsigned int hash,
                                                               unsigned int index) {
  if (const Entry* found = mBuckets.findLong(index, text, size, hash))
    return found;
  return insert(text, size, hash);
}

template <class SameBytes>
const Entry* Table::find(const char* text, unsigned int size, unsigned int hash,
                         SameBytes sameBytes) const {
  const detail::BucketArray::View bucket = mBuckets.bucket(mBuckets.indexOf(hash));
  for (unsigned int i = 0; i < bucket.size; ++i) {
    const detail::BucketArray::Word word = bucket.first[i];
    if (detail::BucketArray::mayHash(word, hash)) {
      const Entry* record = detail::BucketArray::record(word);
      // A record's text is allocated right after it, and with common allocators it lands
      // 32 bytes on, sometimes in the next cache line: ask for that line together with the
      // record rather than only once the record has told where its text is. A hint only.
      __builtin_prefetch(reinterpret_cast<const char*>(record) + 32);
      if (record->hash() == hash && record->size() == size &&
          sameBytes(record->text(), text, size))
        return record;
    }
  }
  return nullptr;
}

// The record and its text in one block from vesk_calloc: the text, and the NUL that the zero
// fill leaves after it, follow the record at once, so that a lookup finds the text in the
// record's cache line or the next, and a record costs one allocator header instead of two.
// A text too long for one block of 32-bit size gets a buffer of its own.
const Entry* Table::make_record(const char* text, unsigned int size, unsigned int hash) {
  if (size >= kMaxSize - sizeof(Entry)) {
    const Entry key(text, size, hash);
    const Entry* record = new Entry(key);
    if (record == nullptr)
      throw std::bad_alloc();
    return record;
  }
  void* block = vesk_calloc(1, static_cast<unsigned int>(sizeof(Entry) + size + 1));
  if (block == nullptr)
    throw std::bad_alloc();
  char* copy = static_cast<char*>(block) + sizeof(Entry);
  std::memcpy(copy, text, size);
  return new (block) Entry(copy, size, hash);
}

// Kept out of line: a lookup that finds its text runs only find's few instructions, so the
// processor can work on the caller's next lookup while this one waits for memory.
__attribute__((noinline)) const Entry* Table::insert(const char* text, unsigned int size,
                                                     unsigned int hash) {
  // The record first, growth and room after it: a record that cannot be made must leave the
  // table as it was, not grown for a text it then does not hold.
  const Entry* record = make_record(text, size, hash);
  unsigned int index = mBuckets.indexOf(hash);
  try {
    if (mBuckets.bucket(index).size >= kGrowthTrigger &&
        growth_may_help(mBucketCount, mRecordCount)) {
      grow();
      index = mBuckets.indexOf(hash);
    }
    mBuckets.reserveOneMore(index);
  } catch (...) {
    delete record;
    throw;
  }
  mBuckets.append(index, detail::BucketArray::recordWord(record));
  ++mRecordCount;
  if (&__lsan_ignore_object != nullptr)
    __lsan_ignore_object(record);
  return record;
}

unsigned int Table::grow() {
  if (mPreviousBucketCount >= kMaxSize - mBucketCount)
    throw std::length_error("vesk::table_string::Table: bucket count beyond 32 bits");
  const unsigned int count = mBucketCount + mPreviousBucketCount + 1;

  // The stored hashes place every record; no text is read or hashed again and no record
  // moves. If an allocation fails here the old buckets stay in place untouched.
  //
  // Reading each record's hash would wait for memory once per record, since records lie
  // scattered. Once there are at least 65536 buckets it is not needed for a tagged word:
  // the tag gives the hash's top 16 bits, the bucket gives the hash modulo the bucket count,
  // and only one 32-bit value in a run of 65536 has that remainder.
  //
  // The new buckets are written in scattered places too, so each is prefetched a few
  // records before its pointer is appended.
  //
  // The records of a long bucket take their index keys along, read from its index, so that
  // a long bucket of the new array gets its index without reading those texts again.
  const unsigned int oldCount = mBuckets.count();
  detail::BucketArray next(count);
  struct Move {
    detail::BucketArray::Word word;
    unsigned int index;
    std::uint64_t key;
  };
  const auto place = [&next](const Move& move) {
    next.reserveOneMore(move.index);
    next.append(move.index, move.word, move.key);
  };
  Move ahead[kLookahead];
  std::size_t moves = 0;
  std::vector<std::uint32_t> keys;
  for (unsigned int b = 0; b < oldCount; ++b) {
    if (b + kLookahead < oldCount)
      mBuckets.prefetchSpill(b + kLookahead);
    const detail::BucketArray::View bucket = mBuckets.bucket(b);
    const bool keyed = bucket.size > detail::BucketArray::kLinearLimit;
    if (keyed) {
      keys.resize(bucket.size);
      mBuckets.indexKeys(b, keys.data());
    }
    for (unsigned int i = 0; i < bucket.size; ++i) {
      const detail::BucketArray::Word word = bucket.first[i];
      unsigned int hash;
      if (oldCount >= 65536 && detail::BucketArray::hasTag(word)) {
        const unsigned int high = detail::BucketArray::tag(word) << 16;
        const unsigned int remainder = mBuckets.indexOf(high);
        hash = high + (b >= remainder ? b - remainder : b + (oldCount - remainder));
        assert(hash == detail::BucketArray::record(word)->hash());
      } else {
        hash = detail::BucketArray::record(word)->hash();
      }
      Move& slot = ahead[moves++ % kLookahead];
      if (moves > kLookahead)
        place(slot);
      slot = {word, next.indexOf(hash), keyed ? keys[i] : detail::BucketArray::kUnknownKey};
      next.prefetch(slot.index);
    }
  }
  for (std::size_t m = moves > kLookahead ? moves - kLookahead : 0; m < moves; ++m)
    place(ahead[m % kLookahead]);
  // Only now, with nothing left to fail, does the sequence advance.
  mBuckets.swap(next);
  mPreviousBucketCount = mBucketCount;
  mBucketCount = count;
  ++mRehashCount;
  return count;
}

void Table::printStats(std::ostream& out) const {
  unsigned int largest = 0;
  unsigned int smallest = kMaxSize;
  unsigned int used = 0;
  for (unsigned int b = 0; b < mBuckets.count(); ++b) {
    const unsigned int size = mBuckets.bucket(b).size;
    largest = size > largest ? size : largest;
    smallest = size < smallest ? size : smallest;
    used += size != 0 ? 1 : 0;
  }
  static constexpr char kBuckets[] = "  # of buckets                      : ";
  static constexpr char kLargest[] = "  Largest Bucket                    : ";
  static constexpr char kSmallest[] = "  Smallest Bucket                   : ";
  static constexpr char kUsed[] = "  # Buckets with at least one entry : ";
  static constexpr char kRehashes[] = "  # of rehashes                     : ";
  static_assert(sizeof kBuckets == 39 && sizeof kLargest == 39 && sizeof kSmallest == 39 &&
                    sizeof kUsed == 39 && sizeof kRehashes == 39,
                "every label is 38 characters, the colon in column 37");
  out << "Table Stats:" << std::endl;
  out << kBuckets << mBuckets.count() << std::endl;
  out << kLargest << largest << std::endl;
  out << kSmallest << smallest << std::endl;
  out << kUsed << used << std::endl;
  out << kRehashes << mRehashCount << std::endl;
}

}  // namespace vesk::table_string

namespace vesk::detail {

// Blocks of kMappedBytes and more are mapped from the system on their own: a zero page
// becomes resident only once written, so buckets that stay empty (all but one when an input
// gives its texts one hash) take no memory, and a released block goes back to the system at
// once instead of staying in the allocator's free lists, whatever the allocator's state.
// Mappings of this size and more are aligned to it and offered huge pages: a lookup in an
// array of millions of buckets then misses no address translation.
constexpr std::size_t kHugePageBytes = std::size_t{2} * 1024 * 1024;

namespace {

std::size_t page_rounded(std::size_t bytes) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

}  // namespace

void* map_zeroed(std::size_t bytes) {
  if (bytes < kMappedBytes) {
    // calloc rather than a zero-filled new[]: the block is not written twice.
    void* block = std::calloc(bytes != 0 ? bytes : 1, 1);
    if (block == nullptr)
      throw std::bad_alloc();
    return block;
  }
  const std::size_t length = page_rounded(bytes);
  const std::size_t slack = length >= kHugePageBytes ? kHugePageBytes : 0;
  void* mapped =
      mmap(nullptr, length + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED)
    throw std::bad_alloc();
  if (slack == 0)
    return mapped;
  // The mapping, cut down to `length` bytes from a huge-page boundary.
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + slack - 1) / slack * slack;
  if (aligned != start)
    munmap(mapped, aligned - start);
  if (aligned - start != slack)
    munmap(reinterpret_cast<void*>(aligned + length), slack - (aligned - start));
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void unmap(void* block, std::size_t bytes) {
  if (bytes < kMappedBytes)
    std::free(block);
  else if (block != nullptr)
    munmap(block, page_rounded(bytes));
}

BlockPool::~BlockPool() {
  for (void* chunk : mChunks)
    ::operator delete(chunk);
  for (const MappedBlock& block : mMapped)
    unmap(block.address, block.size);
}

void* BlockPool::allocate(std::size_t size, unsigned int sizeClass) {
  assert(sizeClass < kClasses && size % alignof(FreeBlock*) == 0);
  if (size >= kMappedBytes) {
    // Large blocks are few (only a bucket of thousands of records has one) and are neither
    // pooled nor cut from chunks: each is mapped alone and unmapped when released.
    mMapped.reserve(mMapped.size() + 1);
    void* block = map_zeroed(size);
    mMapped.push_back({block, size});
    return block;
  }
  if (FreeBlock* block = mFree[sizeClass]) {
    mFree[sizeClass] = block->next;
    block->~FreeBlock();
    return block;
  }
  if (mLeft < size) {
    const std::size_t chunkSize = size > mNextChunkSize ? size : mNextChunkSize;
    mChunks.reserve(mChunks.size() + 1);
    mCursor = static_cast<char*>(::operator new(chunkSize));
    mLeft = chunkSize;
    mChunks.push_back(mCursor);
    if (mNextChunkSize < (std::size_t{1} << 20))
      mNextChunkSize *= 2;
  }
  void* block = mCursor;
  mCursor += size;
  mLeft -= size;
  return block;
}

void BlockPool::release(void* block, unsigned int sizeClass) {
  for (std::size_t m = 0; m < mMapped.size(); ++m) {
    if (mMapped[m].address == block) {
      unmap(block, mMapped[m].size);
      mMapped[m] = mMapped.back();
      mMapped.pop_back();
      return;
    }
  }
  mFree[sizeClass] = new (block) FreeBlock{mFree[sizeClass]};
}

void BlockPool::swap(BlockPool& other) {
  mChunks.swap(other.mChunks);
  mMapped.swap(other.mMapped);
  std::swap(mCursor, other.mCursor);
  std::swap(mLeft, other.mLeft);
  std::swap(mNextChunkSize, other.mNextChunkSize);
  for (unsigned int c = 0; c < kClasses; ++c)
    std::swap(mFree[c], other.mFree[c]);
}

namespace {

// The secret of indexKey: random bytes from the system, drawn on first use. Should the system
// refuse them, the clock and addresses stand in: the index then finds every text as well,
// only its keys are easier to guess.
struct IndexSecret {
  unsigned char bytes[XXH3_SECRET_DEFAULT_SIZE];

  IndexSecret() {
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
      const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
      if (got > 0)
        filled += static_cast<std::size_t>(got);
      else if (got != 0 && errno != EINTR)
        break;
    }
    if (filled < sizeof bytes) {
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      std::uint64_t state = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
                            static_cast<std::uint64_t>(now.tv_nsec) +
                            (reinterpret_cast<std::uintptr_t>(this) << 16) +
                            static_cast<std::uint64_t>(getpid());
      for (unsigned char& byte : bytes) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        byte = static_cast<unsigned char>(state >> 56);
      }
    }
  }
};

}  // namespace

__attribute__((noinline)) std::uint32_t BucketArray::indexKey(const char* text, unsigned int size) {
  static const IndexSecret secret;
  return static_cast<std::uint32_t>(
      XXH3_64bits_withSecret(text, size, secret.bytes, sizeof secret.bytes));
}

// The index of a long bucket: open addressing with linear probing over 2^k slots, each the
// position of a record in the bucket (plus 1; 0 marks a free slot) and that record's
// indexKey, which also picks the first slot to try. At most 3/4 of the slots are used, so a
// search ends at a free slot after a few; the positions never change, since records are only
// ever appended to a bucket.
struct BucketArray::Index {
  struct Slot {
    std::uint32_t position;
    std::uint32_t key;
  };

  std::uint32_t mask;  // the number of slots, less 1
  std::uint32_t limit;  // the number of positions the slots have room for

  Slot* slots() { return reinterpret_cast<Slot*>(this + 1); }
  const Slot* slots() const { return reinterpret_cast<const Slot*>(this + 1); }

  // Files the record at `position` under `key`; there must be room.
  void insert(std::uint32_t position, std::uint32_t key) {
    std::uint32_t s = key & mask;
    while (slots()[s].position != 0)
      s = (s + 1) & mask;
    slots()[s] = {position + 1, key};
  }

  // An empty index with room for `records` positions, zero-filled by the host; throws
  // std::bad_alloc.
  static Index* create(std::uint64_t records) {
    std::uint64_t slots = 64;
    while (slots * 3 / 4 < records)
      slots *= 2;
    static_assert(sizeof(Index) == sizeof(Slot), "the header takes one slot");
    void* block = nullptr;
    if (slots >= (std::uint64_t{1} << 31))
      throw std::bad_alloc();
    if (bytes(slots) >= kMappedBytes)
      block = map_zeroed(bytes(slots));
    else if ((block = vesk_calloc(static_cast<unsigned int>(slots) + 1, sizeof(Slot))) == nullptr)
      throw std::bad_alloc();
    return new (block)
        Index{static_cast<std::uint32_t>(slots - 1), static_cast<std::uint32_t>(slots * 3 / 4)};
  }
  static void destroy(Index* index) {
    const std::size_t size = bytes(std::uint64_t{index->mask} + 1);
    index->~Index();
    if (size >= kMappedBytes)
      unmap(index, size);
    else
      vesk_free(index);
  }
  // The bytes of an index of `slots` slots, its header included.
  static std::size_t bytes(std::uint64_t slots) {
    return static_cast<std::size_t>(slots + 1) * sizeof(Slot);
  }
};

// A bucket of two or more records: its size, its capacity (2 << sizeClass), then
// `capacity` record words. From kIndexedClass on, the word before the spill holds the
// bucket's Index, null until the bucket first reaches kLinearLimit records.
struct alignas(alignof(BucketArray::Word)) BucketArray::Spill : SpillHeader {
  static constexpr std::uint32_t kIndexedClass = 4;
  static_assert((2u << (kIndexedClass - 1)) == kLinearLimit,
                "a spill that holds more than kLinearLimit records has an index word");

  // The word before an indexed spill holds the index pointer itself, so its size is a pointer's.
  static constexpr std::size_t kIndexWord = sizeof(Index*);  // NOLINT(bugprone-sizeof-expression)

  std::uint32_t capacity() const { return std::uint32_t{2} << sizeClass; }
  Word* items() { return reinterpret_cast<Word*>(this + 1); }
  const Word* items() const { return reinterpret_cast<const Word*>(this + 1); }
  bool indexed() const { return sizeClass >= kIndexedClass; }
  Index*& index() {
    assert(indexed());
    return *reinterpret_cast<Index**>(reinterpret_cast<char*>(this) - kIndexWord);
  }
  const Index* index() const { return const_cast<Spill*>(this)->index(); }

  static Spill* create(BlockPool& pool, std::uint32_t sizeClass) {
    const std::size_t prefix = sizeClass >= kIndexedClass ? kIndexWord : 0;
    const std::size_t bytes = prefix + sizeof(Spill) + (std::size_t{2} << sizeClass) * sizeof(Word);
    char* block = static_cast<char*>(pool.allocate(bytes, sizeClass));
    if (prefix != 0)
      new (block) Index*(nullptr);
    return new (block + prefix) Spill{{0, sizeClass}};
  }
  static void destroy(BlockPool& pool, Spill* spill) {
    static_assert(sizeof(Spill) == sizeof(SpillHeader),
                  "the record words follow the header that bucket() reads");
    const std::uint32_t sizeClass = spill->sizeClass;
    const std::size_t prefix = sizeClass >= kIndexedClass ? kIndexWord : 0;
    spill->~Spill();
    pool.release(reinterpret_cast<char*>(spill) - prefix, sizeClass);
  }
};

BucketArray::BucketArray(unsigned int count)
    : mWords(static_cast<Word*>(map_zeroed(std::size_t{count} * sizeof(Word)))),
      mCount(count),
      mModulus(count) {}

// The spills go with the pool, all at once; the indexes, if any, one by one.
BucketArray::~BucketArray() {
  for (unsigned int b = 0; mIndexes != 0 && b < mCount; ++b) {
    if (isSpill(mWords[b]) && spillOf(mWords[b])->indexed()) {
      if (Index* index = spillOf(mWords[b])->index()) {
        Index::destroy(index);
        --mIndexes;
      }
    }
  }
  unmap(mWords, std::size_t{mCount} * sizeof(Word));
}

BucketArray::Word BucketArray::spillWord(Spill* spill) {
  return reinterpret_cast<Word>(spill) | 1u;
}

BucketArray::Word BucketArray::recordWord(const table_string::Entry* record) {
  const auto address = reinterpret_cast<Word>(record);
  assert(address != 0 && (address & 3u) == 0);
  // An address beyond 48 bits (tagged or high mappings) is kept whole, untagged.
  if (!kTagged || (address & ~kAddressMask) != 0)
    return address;
  return address | kTagBit | (Word{record->hash() >> 16} << kTagShift);
}

void BucketArray::reserveOneMore(unsigned int index) {
  const Word word = mWords[index];
  if (word == 0)
    return;
  if (isSpill(word)) {
    const Spill* spill = spillOf(word);
    if (spill->size < spill->capacity() && spill->size < kLinearLimit)
      return;
  }
  makeRoom(index);
}

__attribute__((noinline)) void BucketArray::makeRoom(unsigned int index) {
  const Word word = mWords[index];
  if (!isSpill(word)) {
    Spill* spill = Spill::create(mSpills, 0);
    spill->items()[0] = word;
    spill->size = 1;
    mWords[index] = spillWord(spill);
    return;
  }
  Spill* spill = spillOf(word);
  if (spill->size == spill->capacity()) {
    // The index, if any, goes along: the positions it holds stay the same.
    Spill* larger = Spill::create(mSpills, spill->sizeClass + 1);
    std::memcpy(larger->items(), spill->items(), spill->size * sizeof(Word));
    larger->size = spill->size;
    if (larger->indexed())
      larger->index() = spill->indexed() ? spill->index() : nullptr;
    Spill::destroy(mSpills, spill);
    mWords[index] = spillWord(larger);
    spill = larger;
  }
  if (spill->size >= kLinearLimit)
    reserveIndexEntry(spill);
}

// Makes the index the first time, from the texts of the records so far, or a larger one with
// the same entries once it is full; on failure the spill keeps the index it had (none while
// it holds no more than kLinearLimit records).
__attribute__((noinline)) void BucketArray::reserveIndexEntry(Spill* spill) {
  assert(spill->indexed() && spill->size >= kLinearLimit);
  Index* index = spill->index();
  if (index != nullptr && spill->size < index->limit)
    return;
  Index* larger = Index::create(std::uint64_t{spill->size} * 2);
  if (index == nullptr) {
    for (std::uint32_t i = 0; i < spill->size; ++i) {
      const table_string::Entry* entry = record(spill->items()[i]);
      larger->insert(i, indexKey(entry->text(), entry->size()));
    }
    ++mIndexes;
  } else {
    for (std::uint32_t s = 0; s <= index->mask; ++s) {
      const Index::Slot slot = index->slots()[s];
      if (slot.position != 0)
        larger->insert(slot.position - 1, slot.key);
    }
    Index::destroy(index);
  }
  spill->index() = larger;
}

void BucketArray::append(unsigned int index, Word record, std::uint64_t key) {
  assert(record != 0 && !isSpill(record));
  const Word word = mWords[index];
  if (word == 0) {
    mWords[index] = record;
    return;
  }
  assert(isSpill(word));
  Spill* spill = spillOf(word);
  assert(spill->size < spill->capacity());
  const std::uint32_t position = spill->size;
  spill->items()[spill->size++] = record;
  if (spill->size > kLinearLimit)
    indexRecord(spill, position, key);
}

__attribute__((noinline)) void BucketArray::indexRecord(Spill* spill, std::uint32_t position,
                                                        std::uint64_t key) {
  if (key == kUnknownKey) {
    const table_string::Entry* entry = record(spill->items()[position]);
    key = indexKey(entry->text(), entry->size());
  }
  spill->index()->insert(position, static_cast<std::uint32_t>(key));
}

const table_string::Entry* BucketArray::findLong(unsigned int index, const char* text,
                                                 unsigned int size, unsigned int hash) const {
  const Spill* spill = spillOf(mWords[index]);
  assert(isSpill(mWords[index]) && spill->size > kLinearLimit);
  const Index& table = *spill->index();
  const std::uint32_t key = indexKey(text, size);
  for (std::uint32_t s = key & table.mask;; s = (s + 1) & table.mask) {
    const Index::Slot slot = table.slots()[s];
    if (slot.position == 0)
      return nullptr;
    if (slot.key == key) {
      const table_string::Entry* entry = record(spill->items()[slot.position - 1]);
      if (entry->hash() == hash && entry->size() == size &&
          table_string::same_bytes(entry->text(), text, size))
        return entry;
    }
  }
}

void BucketArray::indexKeys(unsigned int index, std::uint32_t* out) const {
  const Spill* spill = spillOf(mWords[index]);
  assert(isSpill(mWords[index]) && spill->size > kLinearLimit);
  const Index& table = *spill->index();
  for (std::uint32_t s = 0; s <= table.mask; ++s) {
    const Index::Slot slot = table.slots()[s];
    if (slot.position != 0 && slot.position <= spill->size)
      out[slot.position - 1] = slot.key;
  }
}

void BucketArray::swap(BucketArray& other) {
  Word* words = mWords;
  mWords = other.mWords;
  other.mWords = words;
  const unsigned int count = mCount;
  mCount = other.mCount;
  other.mCount = count;
  std::swap(mModulus, other.mModulus);
  mSpills.swap(other.mSpills);
  std::swap(mIndexes, other.mIndexes);
}

}  // namespace vesk::detail
