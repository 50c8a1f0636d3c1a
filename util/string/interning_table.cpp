// Interned-text records and the process-wide table that keeps one record per distinct text.
#include "util/string/interning_table.hpp"

#include "util/string/text_compare.hpp"

#include "vesk/host/host_util.h"

#include <cassert>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>

namespace vesk::table_string {

namespace {

constexpr unsigned int kMaxSize = std::numeric_limits<unsigned int>::max();

// A new text whose bucket already holds this many records grows the table first...
constexpr unsigned int kGrowthTrigger = 8;
// ...and from this many buckets on only if the table holds a record per 4 buckets or more.
constexpr unsigned int kBoundedGrowthFrom = 65536;

constexpr unsigned int kInitialBucketCount = 2089;
constexpr unsigned int kInitialPreviousBucketCount = 1049;

// The text of `record`, read from right behind it, where every record of a text of up to 48
// bytes keeps it, not through the text pointer: one load fewer in the chain that waits for
// memory.
const char* text_behind(const Entry* record) {
  const char* text = reinterpret_cast<const char*>(record) + sizeof(Entry);
  assert(text == record->text());
  return text;
}

// Whether growing may help a new text whose bucket is full: always below 65536 buckets, and
// from there on only while there is at least one record per 4 buckets. Growth cannot part
// texts of one hash, and natural growth comes at one record per bucket or so.
bool growth_may_help(unsigned int buckets, std::size_t records) {
  return buckets < kBoundedGrowthFrom || records >= buckets / 4 + (buckets % 4 != 0 ? 1 : 0);
}

bool same_text(const Entry& a, const Entry& b) {
  return a.hash() == b.hash() && a.size() == b.size() &&
         detail::same_bytes(a.text(), b.text(), a.size());
}

}  // namespace

Entry::Entry(const char* text, unsigned int size)
    : mText(text),
      mSize(size),
      mHash(host_hash_n_bytes(0, text != nullptr ? size : 0, text != nullptr ? text : "")),
      mOwnsText(false) {}

Entry::Entry(const Entry& other)
    : AllocatorBase(other),
      mText(nullptr),
      mSize(other.mSize),
      mHash(other.mHash),
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

// Texts of 8 to 16 bytes, the common identifiers, and of 17 to 48, longer names, are keyed
// where XXH3 compiles to its path for their sizes alone, without a frame of its own (a call
// into keyOf, with the registers it saves, costs a hit about a quarter of its time), and
// compared as overlapping words, not by a call of memcmp: each size range in a function of its
// own, flattened, so that none saves registers for another's path.
__attribute__((noinline, flatten)) void Table::internShort(const Entry*& out, const char* text,
                                                           unsigned int size) {
  assert(text != nullptr && size - 8 <= 8);
  findOrInsert(
      out, text, size,
      [](const char* t, unsigned int n) {
        if (n - 8 > 8)
          __builtin_unreachable();
        return detail::key_of_8to16(t, n);
      },
      [](const Entry* record, const char* b, unsigned int n) {
        return detail::same_8to16(text_behind(record), b, n);
      });
}

__attribute__((noinline, flatten)) void Table::internName(const Entry*& out, const char* text,
                                                          unsigned int size) {
  assert(text != nullptr && size - 17 <= 31);
  findOrInsert(
      out, text, size,
      [](const char* t, unsigned int n) {
        if (n - 17 > 31)
          __builtin_unreachable();
        return detail::key_of_made(t, n);
      },
      [](const Entry* record, const char* b, unsigned int n) {
        return detail::same_17to48(text_behind(record), b, n);
      });
}

__attribute__((noinline)) void Table::internOther(const Entry*& out, const char* text,
                                                  unsigned int size) {
  if (text == nullptr || size == 0) {
    text = "";
    size = 0;
  }
  if (size == kMaxSize)
    throw std::length_error("vesk::TableString: text of 4294967295 bytes");
  // Texts of 8 to 48 bytes never get here: internInto sends them to their own lookups.
  findOrInsert(
      out, text, size,
      [](const char* t, unsigned int n) { return detail::RecordIndex::keyOf(t, n); },
      [](const Entry* record, const char* b, unsigned int n) {
        // A record of this text has it right behind, often reaching into the next cache
        // line: ask for the line of its end together with the record's own, rather than once
        // the record has told where its text is. A hint only. (The other sizes read their
        // text from behind the record, loads the processor makes along with the record's.)
        __builtin_prefetch(reinterpret_cast<const char*>(record) + sizeof(Entry) + n);
        return detail::same_bytes(record->text(), b, n);
      });
}

// Inline in each size range's function, which is flattened: XXH3 compiled in whole, of which
// only the path for the range remains, and for identifiers free of calls until it inserts, so
// that a hit runs only a few dozen instructions. (Left to itself, the compiler makes one copy
// of XXH3 out of line for every size, and a hit pays a call and the tests of every path.)
template <class KeyOf, class SameBytes>
void Table::findOrInsert(const Entry*& out, const char* text, unsigned int size, KeyOf keyOf,
                         SameBytes sameBytes) {
  const std::uint64_t key = keyOf(text, size);
  // Most texts are found in the first group they probe, or found absent there: that probe
  // alone is inline, so that a hit needs few registers and saves none. Texts not decided
  // there continue in lookUpAndInsert.
  const detail::RecordIndex::Probe first = mRecords.findInFirstGroup(key, [&](const Entry* record) {
    return record->size() == size && sameBytes(record, text, size);
  });
  if (first.record != nullptr) {
    out = first.record;
    return;
  }
  if (first.ended)
    return insertInto(out, text, size, key);
  lookUpAndInsert(out, text, size, key);
}

__attribute__((noinline)) void Table::lookUpAndInsert(const Entry*& out, const char* text,
                                                      unsigned int size, std::uint64_t key) {
  // The whole probe sequence, the first group again too: work that only the few texts not
  // decided in their first group do.
  if (const Entry* found = mRecords.find(key, [&](const Entry* record) {
        return record->size() == size && detail::same_bytes(record->text(), text, size);
      })) {
    out = found;
    return;
  }
  insertInto(out, text, size, key);
}

__attribute__((noinline)) void Table::insertInto(const Entry*& out, const char* text,
                                                 unsigned int size, std::uint64_t key) {
  out = insert(text, size, key);
}

// The record and its text together, from the arena: the text, and the NUL that the zero fill
// leaves after it, follow the record at once, so that a lookup finds the text in the record's
// cache line or the next. A text too long for one block of 32-bit size gets a buffer of its
// own, its record still in the arena.
namespace {
bool is_outsized(unsigned int size) { return size >= kMaxSize - 2 * sizeof(Entry); }
}  // namespace

// The record itself, and unless the text is outsized, the text and its NUL.
std::size_t Table::arenaBytes(unsigned int size) {
  return is_outsized(size) ? sizeof(Entry) : sizeof(Entry) + size + 1;
}

const Entry* Table::makeRecord(const char* text, unsigned int size, unsigned int hash,
                               detail::HostBlock& block, const detail::HostBlock& copy) {
  char* at = static_cast<char*>(mArena.take(arenaBytes(size), block));
  if (at == nullptr)
    return nullptr;
  if (is_outsized(size))
    return ::new (static_cast<void*>(at)) Entry(static_cast<const char*>(copy.data()), size, hash);
  char* text_copy = at + sizeof(Entry);
  std::memcpy(text_copy, text, size);
  return ::new (static_cast<void*>(at)) Entry(text_copy, size, hash);
}

void Table::unmakeRecord(const Entry* record, detail::HostBlock& block) {
  const unsigned int size = record->size();
  record->~Entry();
  mArena.giveBack(const_cast<Entry*>(record), arenaBytes(size), block);
}

// Kept out of line: a lookup that finds its text runs only findOrInsert's few instructions,
// so the processor can work on the caller's next lookup while this one waits for memory.
__attribute__((noinline)) const Entry* Table::insert(const char* text, unsigned int size,
                                                     std::uint64_t key) {
  // The host hash reads only the text: computed before the lock, so that the lock is held
  // for less.
  const unsigned int hash = host_hash_n_bytes(0, size, text);
  const std::size_t bytes = arenaBytes(size);
  // Host memory is taken and released only while the lock is not held, for a host allocator
  // may itself intern, and does so here, on this thread: a new block for the arena when it
  // needs one (always, for a record of a block of its own), and the buffer of an outsized
  // text. What is not used is released after the lock, as these are destroyed after it.
  detail::HostBlock block;
  detail::HostBlock copy;
  if (is_outsized(size)) {
    copy.allocate(std::size_t{size} + 1);
    std::memcpy(copy.data(), text, size);
  } else if (bytes > detail::RecordArena::kLargestShared) {
    block.allocate(detail::RecordArena::ownBlockBytes(bytes));
  }
  // Each turn holds the lock for its body; a block the arena turns out to need is taken and
  // readied in the loop's step, after the lock is released.
  for (std::size_t needed = 0;; block.allocate(needed), detail::RecordArena::ready(block)) {
    const Hold hold(mLock);
    // The bucket's count is read below, most likely from memory: asked for now, it arrives
    // while the second lookup and the record are done.
    unsigned int index = mBuckets.indexOf(hash);
    mBuckets.prefetch(index);
    // Another thread may have inserted the text since the lookup without the lock.
    if (const Entry* found = mRecords.find(key, [&](const Entry* record) {
          return record->size() == size && detail::same_bytes(record->text(), text, size);
        }))
      return found;
    // Every allocation the insertion needs comes before anything a caller can see changes:
    // the record, then room in the index (a larger index holds the same records), then room
    // in the bucket counts, grown ones if need be, which take the place of the old only once
    // nothing can fail. Whichever fails leaves the table as it was, and a retry of the same
    // text grows it at most once.
    const Entry* record = makeRecord(text, size, hash, block, copy);
    if (record == nullptr) {
      // The arena's block is full: a new one is taken without the lock, and the lookup made
      // again, as another thread may insert the text meanwhile. Once per block of records.
      needed = mArena.blockNeeded(bytes);
      continue;
    }
    try {
      // The records in the order they lie in memory, but for the one just made.
      mRecords.reserveOneMore([this, record](auto visit) {
        walkRecords([&visit, record](const Entry* each) {
          if (each != record)
            visit(each);
        });
      });
      if (mBuckets.size(index) >= kGrowthTrigger &&
          growth_may_help(mBucketCount, mRecords.size())) {
        grow(record);
        index = mBuckets.indexOf(hash);
      } else {
        mBuckets.reserveOneMore(index);
      }
    } catch (...) {
      unmakeRecord(record, block);
      throw;
    }
    mBuckets.add(index);
    mRecords.insert(key, record);
    // The record keeps an outsized text's buffer from now on.
    copy.handOver();
    return record;
  }
}

unsigned int Table::grow() {
  const Hold hold(mLock);
  return grow(nullptr);
}

std::size_t Table::recordCount() const {
  const Hold hold(mLock);
  return mRecords.size();
}

unsigned int Table::grow(const Entry* pending) {
  if (mPreviousBucketCount >= kMaxSize - mBucketCount)
    throw std::length_error("vesk::table_string::Table: bucket count beyond 32 bits");
  const unsigned int count = mBucketCount + mPreviousBucketCount + 1;
  // The stored hashes place every record again; no text is read or hashed again and no
  // record moves. If an allocation fails here the old buckets stay in place untouched.
  detail::BucketCounts next(count);
  // The records are read in memory order, as the arena holds them.
  walkRecords([&next, pending](const Entry* record) {
    if (record != pending) {
      const unsigned int index = next.indexOf(record->hash());
      next.reserveOneMore(index);
      next.add(index);
    }
  });
  if (pending != nullptr)
    next.reserveOneMore(next.indexOf(pending->hash()));
  // Only now, with nothing left to fail, does the sequence advance.
  mBuckets.swap(next);
  mPreviousBucketCount = mBucketCount;
  mBucketCount = count;
  ++mRehashCount;
  return count;
}

void Table::printStats(std::ostream& out) const {
  unsigned int buckets = 0;
  unsigned int largest = 0;
  unsigned int smallest = kMaxSize;
  unsigned int used = 0;
  unsigned int rehashes = 0;
  {
    // The figures of one moment; the stream, which may block, is written without the lock.
    const Hold hold(mLock);
    buckets = mBuckets.count();
    for (unsigned int b = 0; b < buckets; ++b) {
      const unsigned int size = mBuckets.size(b);
      largest = size > largest ? size : largest;
      smallest = size < smallest ? size : smallest;
      used += size != 0 ? 1 : 0;
    }
    rehashes = mRehashCount;
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
  out << kBuckets << buckets << std::endl;
  out << kLargest << largest << std::endl;
  out << kSmallest << smallest << std::endl;
  out << kUsed << used << std::endl;
  out << kRehashes << rehashes << std::endl;
}

}  // namespace vesk::table_string
