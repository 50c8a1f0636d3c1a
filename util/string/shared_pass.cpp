// A pass over the interning table's records shared with the threads that wait for its locks.
#include "util/string/shared_pass.hpp"

#include "util/base/spinning_mutex.hpp"

namespace vesk::detail {

void SharedPass::run(PassWork& work, std::size_t pieces) {
  mWork = &work;
  mPieces = pieces;
  mNext.store(0, std::memory_order_relaxed);
  mJoined.store(0, std::memory_order_relaxed);
  mWanted.store(false, std::memory_order_relaxed);
  mAdmitted.store(false, std::memory_order_relaxed);
  mOpen.store(true);
  work.work(*this, kOwner);
  mOpen.store(false);
  // Helpers still at their last piece, or waiting to be admitted, who then find no piece.
  while (mActive.load() != 0)
    SpinningMutex::relax();
}

bool SharedPass::admit(bool always) {
  if (always || mWanted.load(std::memory_order_relaxed))
    mAdmitted.store(true, std::memory_order_release);
  return mAdmitted.load(std::memory_order_relaxed);
}

bool SharedPass::help() {
  if (!mOpen.load(std::memory_order_relaxed))
    return false;
  mActive.fetch_add(1);
  bool helped = false;
  if (mOpen.load() && mNext.load(std::memory_order_relaxed) < mPieces) {
    const unsigned int helper = mJoined.fetch_add(1, std::memory_order_relaxed);
    if (helper < kHelpers) {
      mWanted.store(true, std::memory_order_relaxed);
      // The owner admits between pieces, or has finished its pieces and waits for mActive.
      while (!mAdmitted.load(std::memory_order_acquire) &&
             mNext.load(std::memory_order_relaxed) < mPieces)
        SpinningMutex::relax();
      if (mAdmitted.load(std::memory_order_acquire)) {
        mWork->work(*this, helper);
        helped = true;
      }
    }
  }
  mActive.fetch_sub(1, std::memory_order_release);
  return helped;
}

}  // namespace vesk::detail
