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

void BucketCounts::addAll(const BucketCounts& other) {
  assert(other.mCount == mCount);
  // A run of buckets whose sums all stay below 255, as most do, is added in steps that the
  // compiler makes vector ones; any other, bucket by bucket, and any count aside one by one.
  constexpr unsigned int kRun = 64;
  for (unsigned int b = 0; b < mCount; b += kRun) {
    const unsigned int run = mCount - b < kRun ? mCount - b : kRun;
    std::uint8_t* into = mSizes + b;
    const std::uint8_t* added = other.mSizes + b;
    unsigned int large = 0;
    for (unsigned int k = 0; k < run; ++k)
      large |= (into[k] + added[k] + 1u) & 0x100u;
    if (large == 0) {
      for (unsigned int k = 0; k < run; ++k)
        into[k] = static_cast<std::uint8_t>(into[k] + added[k]);
      continue;
    }
    for (unsigned int k = b; k < b + run; ++k)
      for (unsigned int n = other.size(k); n > 0; --n) {
        reserveOneMore(k);
        add(k);
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
