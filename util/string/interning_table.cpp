// Interned-text records and the process-wide table that keeps one record per distinct text.
#include "util/string/interning_table.hpp"

#include "util/string/text_compare.hpp"

#include "vesk/host/host_util.h"

#include <cassert>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>
#include <thread>

namespace vesk::table_string {

namespace {

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

namespace {
// The tables made so far, for each table's serial.
std::atomic<std::uint64_t> gTablesMade{0};
}  // namespace

Table::Placing::Placing(unsigned int count, const std::uint8_t* sizes)
    : modulus(count), regionFactor((std::uint64_t{kRegions} << 32) / count), counts(sizes) {}

Table::Table()
    : mSerial(gTablesMade.fetch_add(1, std::memory_order_relaxed) + 1),
      mBuckets(kInitialBucketCount),
      mBucketCount(kInitialBucketCount),
      mPreviousBucketCount(kInitialPreviousBucketCount),
      mRehashCount(0) {
  mPlacings[0] = Placing(kInitialBucketCount, mBuckets.sizes());
  mPlacing.store(&mPlacings[0], std::memory_order_release);
  shareOut(0);
}

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
  if (const Entry* found = mRecords.find(key, sameText(text, size))) {
    out = found;
    return;
  }
  insertInto(out, text, size, key);
}

__attribute__((noinline)) void Table::insertInto(const Entry*& out, const char* text,
                                                 unsigned int size, std::uint64_t key) {
  out = insert(text, size, key);
}

void Table::lockRegion(const Region& region) const {
  using Clock = std::chrono::steady_clock;
  constexpr unsigned int kPausedTries = 64;
  constexpr unsigned int kPauses = 16;
  Clock::time_point yieldingSince;
  for (unsigned int tries = 0;; ++tries) {
    if (region.lock.try_lock())
      return;
    if (mPass.help()) {
      tries = 0;
    } else if (tries < kPausedTries) {
      for (unsigned int pause = 0; pause < kPauses; ++pause)
        detail::SpinningMutex::relax();
    } else if (tries == kPausedTries || mAllHeld.load(std::memory_order_relaxed) ||
               Clock::now() - yieldingSince < std::chrono::milliseconds(1)) {
      if (tries == kPausedTries)
        yieldingSince = Clock::now();
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
}

// The arena's lock comes last: it is taken alone, or under every region's.
void Table::lockAll() const {
  for (const Region& region : mRegions)
    lockRegion(region);
  mArenaLock.lock();
  mAllHeld.store(true, std::memory_order_relaxed);
}

void Table::unlockAll() const {
  mAllHeld.store(false, std::memory_order_relaxed);
  mArenaLock.unlock();
  for (unsigned int r = kRegions; r-- > 0;)
    mRegions[r].lock.unlock();
}

std::size_t Table::recordsHoldingAll() const {
  std::size_t records = 0;
  for (const Region& region : mRegions)
    records += region.records;
  return records;
}

std::size_t Table::recordCount() const {
  const HoldAll hold(*this);
  return recordsHoldingAll();
}

void Table::printStats(std::ostream& out) const {
  unsigned int buckets = 0;
  unsigned int largest = 0;
  unsigned int smallest = kMaxSize;
  unsigned int used = 0;
  unsigned int rehashes = 0;
  {
    // The figures of one moment; the stream, which may block, is written without the locks.
    const HoldAll hold(*this);
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
