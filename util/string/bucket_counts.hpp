// The number of records in each bucket of the interning table, and remainders by the bucket
// count without a division.
#ifndef VESK_UTIL_STRING_BUCKET_COUNTS_HPP
#define VESK_UTIL_STRING_BUCKET_COUNTS_HPP

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vesk::detail {

/// Remainders by a fixed 32-bit divisor through two multiplications instead of a division
/// (exact for every 32-bit dividend). (7, 3) -> 1; (0xFFFFFFFF, 2089) -> 1465.
class Modulus {
public:
  /// `divisor` must not be 0.
  explicit Modulus(std::uint32_t divisor) : mFactor(factor(divisor)), mDivisor(divisor) {}

  /// `value` modulo the divisor.
  std::uint32_t operator()(std::uint32_t value) const {
#ifdef __SIZEOF_INT128__
    const std::uint64_t fraction = mFactor * value;
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(fraction) * mDivisor) >> 64);
#else
    return value % mDivisor;
#endif
  }

private:
  static std::uint64_t factor(std::uint32_t divisor) {
    assert(divisor != 0);
    return ~std::uint64_t{0} / divisor + 1;
  }

  std::uint64_t mFactor;
  std::uint32_t mDivisor;
};

/// The number of records in each of a fixed number of buckets: one byte per bucket, and for
/// the few buckets of 255 records or more (texts that share a hash, as an input can choose
/// them) an exact count kept aside.
class BucketCounts {
public:
  /// `count` empty buckets; throws std::bad_alloc when they cannot be allocated.
  explicit BucketCounts(unsigned int count);
  BucketCounts(const BucketCounts&) = delete;
  BucketCounts& operator=(const BucketCounts&) = delete;
  ~BucketCounts();

  /// The number of buckets.
  unsigned int count() const { return mCount; }
  /// The bucket of `hash`: `hash` modulo count().
  unsigned int indexOf(unsigned int hash) const { return mModulus(hash); }
  /// The buckets' bytes, each a bucket's count unless 255: for hints to the processor.
  const std::uint8_t* sizes() const { return mSizes; }
  /// The number of records in bucket `index` (< count()).
  unsigned int size(unsigned int index) const {
    return mSizes[index] != kCounted ? mSizes[index] : counted(index);
  }
  /// Whether reserveOneMore(`index`) and add(`index`) (and size, but for its answer) use the
  /// counts kept aside, which all buckets share: from 254 records on.
  bool countsAside(unsigned int index) const { return mSizes[index] >= kCounted - 1; }
  /// Makes sure that add(`index`) cannot fail; throws std::bad_alloc and changes nothing
  /// if it cannot.
  void reserveOneMore(unsigned int index) {
    if (mSizes[index] == kCounted - 1)
      mLarge.reserve(mLarge.size() + 1);
  }
  /// One more record in bucket `index`, for which reserveOneMore was called.
  void add(unsigned int index) {
    if (mSizes[index] < kCounted - 1)
      ++mSizes[index];
    else
      addToLarge(index);
  }
  /// Adds the records of `other`, of as many buckets, bucket by bucket. Throws
  /// std::bad_alloc when an exact count cannot be made room for; some are then added.
  void addAll(const BucketCounts& other);
  /// Exchanges the contents of two counts.
  void swap(BucketCounts& other);

private:
  // A bucket byte of this value: the size is in mLarge.
  static constexpr std::uint8_t kCounted = 255;
  unsigned int counted(unsigned int index) const;
  // add for a bucket of kCounted - 1 records or more.
  void addToLarge(unsigned int index);

  std::uint8_t* mSizes;
  unsigned int mCount;
  Modulus mModulus;
  // (bucket, size) for each bucket of kCounted records or more, sorted by bucket.
  std::vector<std::pair<unsigned int, unsigned int>> mLarge;
};

/// Adds records to a BucketCounts by their hashes, each bucket's count asked for some records
/// before it is added to, so that the misses overlap: the counts of millions of records are
/// larger than the processor's caches.
class CountAdder {
public:
  explicit CountAdder(BucketCounts& counts) : mCounts(counts) {}
  CountAdder(const CountAdder&) = delete;
  CountAdder& operator=(const CountAdder&) = delete;
  /// One more record of hash `hash`; throws std::bad_alloc as BucketCounts::reserveOneMore.
  void add(unsigned int hash) {
    unsigned int& index = mAhead[mSeen++ % kAhead];
    if (mSeen > kAhead)
      addAt(index);
    index = mCounts.indexOf(hash);
    __builtin_prefetch(mCounts.sizes() + index, 1);
  }
  /// Adds the records still waiting; throws std::bad_alloc as add.
  void finish() {
    for (std::size_t k = mSeen > kAhead ? mSeen - kAhead : 0; k < mSeen; ++k)
      addAt(mAhead[k % kAhead]);
    mSeen = 0;
  }

private:
  static constexpr unsigned int kAhead = 16;
  void addAt(unsigned int index) {
    mCounts.reserveOneMore(index);
    mCounts.add(index);
  }
  BucketCounts& mCounts;
  std::size_t mSeen = 0;
  unsigned int mAhead[kAhead];
};

}  // namespace vesk::detail

#endif
