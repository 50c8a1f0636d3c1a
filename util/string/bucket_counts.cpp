// The number of records in each bucket of the interning table: a byte per bucket, an exact
// count aside for the few of 255 records or more.
#include "util/string/bucket_counts.hpp"

#include "util/base/mapped_memory.hpp"

#include <algorithm>
#include <cassert>

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

void BucketCounts::swap(BucketCounts& other) {
  std::swap(mSizes, other.mSizes);
  std::swap(mCount, other.mCount);
  std::swap(mModulus, other.mModulus);
  mLarge.swap(other.mLarge);
}

}  // namespace vesk::detail
