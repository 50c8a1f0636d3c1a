// The number of records in each bucket of the interning table: a byte per bucket, an exact
// count aside for the few of 255 records or more.
#include "util/string/bucket_counts.hpp"

#include "util/base/mapped_memory.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace vesk::detail {

BucketCounts::BucketCounts(unsigned int count)
    : mSizes(static_cast<std::uint8_t*>(map_zeroed(count))), mCount(count), mModulus(count) {}

BucketCounts::~BucketCounts() { unmap(mSizes, mCount); }

namespace {

// The entry of `index` in a list of (bucket, size) sorted by bucket, or where it would go.
template <class Large>
auto large_entry(Large& large, unsigned int index) {
  return std::lower_bound(large.begin(), large.end(), index,
                          [](const auto& entry, unsigned int b) { return entry.first < b; });
}

}  // namespace

// The buckets of kCounted records or more are searched by halving: an input can make many of
// them, one per hash it repeats, and each text it adds must still cost little.
unsigned int BucketCounts::counted(unsigned int index) const {
  const auto entry = large_entry(mLarge, index);
  assert(entry != mLarge.end() && entry->first == index);
  return entry->second;
}

void BucketCounts::addToLarge(unsigned int index) {
  std::uint8_t& size = mSizes[index];
  if (size == kCounted - 1) {
    size = kCounted;
    // reserveOneMore made the room: inserting moves entries but allocates nothing.
    mLarge.insert(large_entry(mLarge, index), {index, unsigned{kCounted}});
  } else {
    ++large_entry(mLarge, index)->second;
  }
}

void BucketCounts::addAll(const BucketCounts& other) {
  assert(other.mCount == mCount);
  for (unsigned int b = 0; b < mCount; ++b) {
    // Most buckets of another thread's share are empty: eight at a time.
    if (b % 8 == 0 && b + 8 <= mCount) {
      std::uint64_t eight;
      std::memcpy(&eight, other.mSizes + b, sizeof eight);
      if (eight == 0) {
        b += 7;
        continue;
      }
    }
    const unsigned int added = other.mSizes[b];
    if (added == 0)
      continue;
    if (added < kCounted && mSizes[b] + added <= kCounted - 1u) {
      mSizes[b] = static_cast<std::uint8_t>(mSizes[b] + added);
      continue;
    }
    for (unsigned int k = other.size(b); k > 0; --k) {
      reserveOneMore(b);
      add(b);
    }
  }
}

void BucketCounts::swap(BucketCounts& other) {
  std::swap(mSizes, other.mSizes);
  std::swap(mCount, other.mCount);
  std::swap(mModulus, other.mModulus);
  mLarge.swap(other.mLarge);
}

}  // namespace vesk::detail
