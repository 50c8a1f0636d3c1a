// A mutex for sections held a fraction of a microsecond: a thread that finds it held tries
// again for a while before it sleeps.
#ifndef VESK_UTIL_BASE_SPINNING_MUTEX_HPP
#define VESK_UTIL_BASE_SPINNING_MUTEX_HPP

#include <mutex>

#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define VESK_HAS_SINGLE_THREADED_FLAG 1
#endif

namespace vesk::detail {

/// A std::mutex that a thread finding it held tries again some 64 times, pausing between
/// tries (some microseconds in all), before it waits in std::mutex::lock. A section held for
/// less time than a thread takes to sleep and be woken then costs the waiter only the wait,
/// and a long one (a table's growth) puts it to sleep as std::mutex does. Meets Lockable.
class SpinningMutex {
public:
  void lock() {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (mMutex.try_lock())
        return;
      for (int pause = 0; pause < kPauses; ++pause)
        relax();
    }
    mMutex.lock();
  }
  bool try_lock() { return mMutex.try_lock(); }
  void unlock() { mMutex.unlock(); }

private:
  static constexpr int kAttempts = 64;
  static constexpr int kPauses = 16;

  // Tells the processor that this is a wait loop, so that it spends less on it and leaves
  // the core to its other thread.
  static void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
  }

  std::mutex mMutex;
};

/// Whether the process has had one thread only, from the C library's own flag, which the
/// creation of a second thread clears before that thread runs; false where the library keeps
/// no such flag.
inline bool process_is_single_threaded() {
#ifdef VESK_HAS_SINGLE_THREADED_FLAG
  return __libc_single_threaded != 0;
#else
  return false;
#endif
}

/// Holds a SpinningMutex from construction to destruction, unless the process has a single
/// thread at construction: no other thread can then enter the section, and the lock's two
/// atomic operations are saved, each of which also keeps the processor from overlapping the
/// memory accesses before it with those after. Only for sections that start no thread and
/// run no caller's code, so that the process still has one thread at the section's end and
/// the mutex released is the one taken.
class HoldUnlessSingleThreaded {
public:
  explicit HoldUnlessSingleThreaded(SpinningMutex& mutex)
      : mHeld(process_is_single_threaded() ? nullptr : &mutex) {
    if (mHeld != nullptr)
      mHeld->lock();
  }
  HoldUnlessSingleThreaded(const HoldUnlessSingleThreaded&) = delete;
  HoldUnlessSingleThreaded& operator=(const HoldUnlessSingleThreaded&) = delete;
  ~HoldUnlessSingleThreaded() {
    if (mHeld != nullptr)
      mHeld->unlock();
  }

private:
  SpinningMutex* mHeld;
};

}  // namespace vesk::detail

#endif
