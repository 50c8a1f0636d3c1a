// A mutex for sections held a fraction of a microsecond: a thread that finds it held tries
// again for a while before it sleeps.
#ifndef VESK_UTIL_BASE_SPINNING_MUTEX_HPP
#define VESK_UTIL_BASE_SPINNING_MUTEX_HPP

#include <mutex>

namespace vesk::detail {

/// A std::mutex that a thread finding it held tries again some 64 times, pausing between
/// tries (some microseconds in all), before it waits in std::mutex::lock. A section held for
/// less time than a thread takes to sleep and be woken then costs the waiter only the wait,
/// and a long one (a table's growth) puts it to sleep as std::mutex does. Meets
/// BasicLockable.
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
  void unlock() { mMutex.unlock(); }

  /// Tells the processor that this is a wait loop, so that it spends less on it and leaves
  /// the core to its other thread.
  static void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
  }

private:
  static constexpr int kAttempts = 64;
  static constexpr int kPauses = 16;

  std::mutex mMutex;
};

}  // namespace vesk::detail

#endif
