// Interned-text records and the process-wide table that keeps one record per distinct text.
#include "interning_table.hpp"

#include "vesk/host/host_util.h"

#include <cassert>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>

namespace vesk::table_string {

namespace {

constexpr unsigned int kMaxSize = std::numeric_limits<unsigned int>::max();

// A new text whose bucket already holds this many records grows the table first.
constexpr unsigned int kGrowthTrigger = 8;

constexpr unsigned int kInitialBucketCount = 2089;
constexpr unsigned int kInitialPreviousBucketCount = 1049;

// All `size` bytes decide, not only those before a NUL: texts that differ only after an
// embedded NUL are different texts and must get different records.
bool same_bytes(const char* a, const char* b, unsigned int size) {
  if (size == 0 || a == b)
    return true;
  if (a == nullptr || b == nullptr)
    return false;
  return std::memcmp(a, b, size) == 0;
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

  const Entry key(text, size);
  unsigned int index = key.hash() % mBuckets.count();
  const detail::BucketArray::View bucket = mBuckets.bucket(index);
  for (unsigned int i = 0; i < bucket.size; ++i) {
    if (same_text(*bucket.first[i], key))
      return bucket.first[i];
  }

  if (bucket.size >= kGrowthTrigger) {
    grow();
    index = key.hash() % mBuckets.count();
  }
  // Room first, record second: if either allocation fails the table is as it was.
  mBuckets.reserveOneMore(index);
  const Entry* record = new Entry(key);
  if (record == nullptr)
    throw std::bad_alloc();
  mBuckets.append(index, record);
  return record;
}

unsigned int Table::grow() {
  if (mPreviousBucketCount >= kMaxSize - mBucketCount)
    throw std::length_error("vesk::table_string::Table: bucket count beyond 32 bits");
  const unsigned int count = mBucketCount + mPreviousBucketCount + 1;
  mPreviousBucketCount = mBucketCount;
  mBucketCount = count;

  // The stored hashes place every record; no text is read or hashed again and no record
  // moves. If an allocation fails here the old buckets stay in place untouched.
  detail::BucketArray next(count);
  for (unsigned int b = 0; b < mBuckets.count(); ++b) {
    const detail::BucketArray::View bucket = mBuckets.bucket(b);
    for (unsigned int i = 0; i < bucket.size; ++i) {
      const unsigned int index = bucket.first[i]->hash() % count;
      next.reserveOneMore(index);
      next.append(index, bucket.first[i]);
    }
  }
  mBuckets.swap(next);
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

// A bucket of two or more records: its size, its capacity, then `capacity` pointers.
struct alignas(alignof(const table_string::Entry*)) BucketArray::Spill {
  std::uint32_t size;
  std::uint32_t capacity;

  const table_string::Entry** items() {
    return reinterpret_cast<const table_string::Entry**>(this + 1);
  }

  static Spill* create(std::uint32_t capacity) {
    void* block = ::operator new(sizeof(Spill) + capacity * sizeof(const table_string::Entry*));
    return new (block) Spill{0, capacity};
  }
  static void destroy(Spill* spill) { ::operator delete(spill); }
};

BucketArray::BucketArray(unsigned int count)
    : mWords(new Word[count]()), mCount(count) {}

BucketArray::~BucketArray() {
  for (unsigned int b = 0; b < mCount; ++b) {
    if (isSpill(mWords[b]))
      Spill::destroy(spillOf(mWords[b]));
  }
  delete[] mWords;
}

BucketArray::Spill* BucketArray::spillOf(Word word) {
  return reinterpret_cast<Spill*>(reinterpret_cast<std::uintptr_t>(word) & ~std::uintptr_t{1});
}

BucketArray::Word BucketArray::wordOf(Spill* spill) {
  return reinterpret_cast<Word>(reinterpret_cast<std::uintptr_t>(spill) | 1u);
}

BucketArray::View BucketArray::bucket(unsigned int index) const {
  const Word word = mWords[index];
  if (word == nullptr)
    return {nullptr, 0};
  if (!isSpill(word))
    return {&mWords[index], 1};
  Spill* spill = spillOf(word);
  return {spill->items(), spill->size};
}

void BucketArray::reserveOneMore(unsigned int index) {
  const Word word = mWords[index];
  if (word == nullptr)
    return;
  if (!isSpill(word)) {
    Spill* spill = Spill::create(2);
    spill->items()[0] = word;
    spill->size = 1;
    mWords[index] = wordOf(spill);
    return;
  }
  Spill* spill = spillOf(word);
  if (spill->size < spill->capacity)
    return;
  Spill* larger = Spill::create(spill->capacity * 2);
  std::memcpy(larger->items(), spill->items(), spill->size * sizeof(const table_string::Entry*));
  larger->size = spill->size;
  Spill::destroy(spill);
  mWords[index] = wordOf(larger);
}

void BucketArray::append(unsigned int index, const table_string::Entry* record) {
  assert(record != nullptr && !isSpill(record));
  const Word word = mWords[index];
  if (word == nullptr) {
    mWords[index] = record;
    return;
  }
  assert(isSpill(word));
  Spill* spill = spillOf(word);
  assert(spill->size < spill->capacity);
  spill->items()[spill->size++] = record;
}

void BucketArray::swap(BucketArray& other) {
  Word* words = mWords;
  mWords = other.mWords;
  other.mWords = words;
  const unsigned int count = mCount;
  mCount = other.mCount;
  other.mCount = count;
}

}  // namespace vesk::detail
