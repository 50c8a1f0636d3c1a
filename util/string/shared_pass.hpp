// A pass over the interning table's records that threads waiting for the table's locks help
// the thread holding them all with.
#ifndef VESK_UTIL_STRING_SHARED_PASS_HPP
#define VESK_UTIL_STRING_SHARED_PASS_HPP

#include <atomic>
#include <cstddef>

namespace vesk::detail {

class SharedPass;

/// Work in numbered pieces that the thread holding every lock of the interning table shares
/// with threads waiting for one of them: a growth of the bucket counts or a doubling of the
/// index reads every record, millions at times, while every other insertion waits.
class PassWork {
public:
  /// Does pieces of the work, each number that `pass.take()` gives below `pass.pieces()`,
  /// until it gives none: on the owner's thread (`helper` is SharedPass::kOwner) or on a
  /// helper's (`helper` < SharedPass::kHelpers, on one thread at a time).
  virtual void work(SharedPass& pass, unsigned int helper) noexcept = 0;

protected:
  ~PassWork() = default;
};

/// The pass under way, if any, of a table. The owner, holding every lock, runs it; a thread
/// waiting for a lock helps. Helpers start work only once the owner admits them (admit),
/// between two of its pieces: until then the owner may work in ways that only one thread
/// can. Every piece is done once, by whoever takes it; run returns once every piece is done
/// and every helper has left, and everything they wrote happens before.
class SharedPass {
public:
  /// The most helpers of one pass.
  static constexpr unsigned int kHelpers = 7;
  /// The number of the owner's work.
  static constexpr unsigned int kOwner = kHelpers;

  /// Does `work`'s `pieces` pieces on this thread, with whatever help it admits meanwhile.
  void run(PassWork& work, std::size_t pieces);
  /// Helps with the pass under way, if there is one with pieces left, once admitted; false
  /// if there was none. Call without holding any of the table's locks.
  bool help();
  /// For the owner: admits the helpers that want in, now or earlier, and says whether any
  /// may work from now on. With `always`, admits helpers yet to come too.
  bool admit(bool always = false);
  /// A piece's number, unique in the pass; pieces() or more when none is left.
  std::size_t take() { return mNext.fetch_add(1, std::memory_order_relaxed); }
  /// The pieces of the pass under way.
  std::size_t pieces() const { return mPieces; }

private:
  // A helper counts itself in mActive before it looks at mOpen, and the owner closes mOpen
  // before it waits for mActive to fall to 0, all in one total order (sequentially
  // consistent): a helper that sees the pass open is waited for, and one that comes later
  // leaves without touching it. The rest is published by mOpen's store and read after it;
  // what the owner wrote before admitting, by mAdmitted's.
  std::atomic<bool> mOpen{false};
  std::atomic<bool> mWanted{false};
  std::atomic<bool> mAdmitted{false};
  std::atomic<unsigned int> mActive{0};
  std::atomic<unsigned int> mJoined{0};
  std::atomic<std::size_t> mNext{0};
  std::size_t mPieces = 0;
  PassWork* mWork = nullptr;
};

}  // namespace vesk::detail

#endif
