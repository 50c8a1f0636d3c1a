// Interned-text records and the process-wide table that keeps one record per distinct text.
#include "interning_table.hpp"

#include "vesk/host/host_util.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>
#include <utility>

// A leak checker finds the records through the bucket words, but a tagged word is not a plain
// address. When a checker is loaded into the process, each record is declared as kept on
// purpose (the record's text stays reachable through it).
extern "C" void __lsan_ignore_object(const void* block) __attribute__((weak));

namespace vesk::table_string {

namespace {

constexpr unsigned int kMaxSize = std::numeric_limits<unsigned int>::max();

// A new text whose bucket already holds this many records grows the table first.
constexpr unsigned int kGrowthTrigger = 8;

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
      mRehashCount(0) {}

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
  if (const Entry* found = find(text, size, hash, sameBytes))
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

// Kept out of line: a lookup that finds its text runs only find's few instructions, so the
// processor can work on the caller's next lookup while this one waits for memory.
__attribute__((noinline)) const Entry* Table::insert(const char* text, unsigned int size,
                                                     unsigned int hash) {
  // The record first, growth and room after it: a record that cannot be made must leave the
  // table as it was, not grown for a text it then does not hold.
  const Entry key(text, size, hash);
  const Entry* record = new Entry(key);
  if (record == nullptr)
    throw std::bad_alloc();
  unsigned int index = mBuckets.indexOf(hash);
  try {
    if (mBuckets.bucket(index).size >= kGrowthTrigger) {
      grow();
      index = mBuckets.indexOf(hash);
    }
    mBuckets.reserveOneMore(index);
  } catch (...) {
    delete record;
    throw;
  }
  mBuckets.append(index, detail::BucketArray::recordWord(record));
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
  const unsigned int oldCount = mBuckets.count();
  detail::BucketArray next(count);
  struct Move {
    detail::BucketArray::Word word;
    unsigned int index;
  };
  Move ahead[kLookahead];
  std::size_t moves = 0;
  for (unsigned int b = 0; b < oldCount; ++b) {
    if (b + kLookahead < oldCount)
      mBuckets.prefetchSpill(b + kLookahead);
    const detail::BucketArray::View bucket = mBuckets.bucket(b);
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
      if (moves > kLookahead) {
        next.reserveOneMore(slot.index);
        next.append(slot.index, slot.word);
      }
      slot = {word, next.indexOf(hash)};
      next.prefetch(slot.index);
    }
  }
  for (std::size_t m = moves > kLookahead ? moves - kLookahead : 0; m < moves; ++m) {
    const Move& slot = ahead[m % kLookahead];
    next.reserveOneMore(slot.index);
    next.append(slot.index, slot.word);
  }
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

BlockPool::~BlockPool() {
  for (void* chunk : mChunks)
    ::operator delete(chunk);
}

void* BlockPool::allocate(std::size_t size, unsigned int sizeClass) {
  assert(sizeClass < kClasses && size % alignof(FreeBlock*) == 0);
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
  mFree[sizeClass] = new (block) FreeBlock{mFree[sizeClass]};
}

void BlockPool::swap(BlockPool& other) {
  mChunks.swap(other.mChunks);
  std::swap(mCursor, other.mCursor);
  std::swap(mLeft, other.mLeft);
  std::swap(mNextChunkSize, other.mNextChunkSize);
  for (unsigned int c = 0; c < kClasses; ++c)
    std::swap(mFree[c], other.mFree[c]);
}

// A bucket of two or more records: its size, its capacity (2 << sizeClass), then
// `capacity` record words.
struct alignas(alignof(BucketArray::Word)) BucketArray::Spill : SpillHeader {
  std::uint32_t capacity() const { return std::uint32_t{2} << sizeClass; }
  Word* items() { return reinterpret_cast<Word*>(this + 1); }

  static Spill* create(BlockPool& pool, std::uint32_t sizeClass) {
    const std::size_t bytes = sizeof(Spill) + (std::size_t{2} << sizeClass) * sizeof(Word);
    return new (pool.allocate(bytes, sizeClass)) Spill{{0, sizeClass}};
  }
  static void destroy(BlockPool& pool, Spill* spill) {
    static_assert(sizeof(Spill) == sizeof(SpillHeader),
                  "the record words follow the header that bucket() reads");
    const std::uint32_t sizeClass = spill->sizeClass;
    spill->~Spill();
    pool.release(spill, sizeClass);
  }
};

// calloc rather than a zero-filled new[]: a large array then comes as fresh zero pages and is
// not written twice.
BucketArray::BucketArray(unsigned int count)
    : mWords(static_cast<Word*>(std::calloc(count, sizeof(Word)))),
      mCount(count),
      mModulus(count) {
  if (mWords == nullptr && count != 0)
    throw std::bad_alloc();
}

// The spills go with the pool, all at once.
BucketArray::~BucketArray() { std::free(mWords); }

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
  if (!isSpill(word)) {
    Spill* spill = Spill::create(mSpills, 0);
    spill->items()[0] = word;
    spill->size = 1;
    mWords[index] = spillWord(spill);
    return;
  }
  Spill* spill = spillOf(word);
  if (spill->size < spill->capacity())
    return;
  Spill* larger = Spill::create(mSpills, spill->sizeClass + 1);
  std::memcpy(larger->items(), spill->items(), spill->size * sizeof(Word));
  larger->size = spill->size;
  Spill::destroy(mSpills, spill);
  mWords[index] = spillWord(larger);
}

void BucketArray::append(unsigned int index, Word record) {
  assert(record != 0 && !isSpill(record));
  const Word word = mWords[index];
  if (word == 0) {
    mWords[index] = record;
    return;
  }
  assert(isSpill(word));
  Spill* spill = spillOf(word);
  assert(spill->size < spill->capacity());
  spill->items()[spill->size++] = record;
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
}

}  // namespace vesk::detail
