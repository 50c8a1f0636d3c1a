// Several threads started together on one piece of work, for the tests and the benchmarks.
#ifndef VESK_TESTING_THREADS_HPP
#define VESK_TESTING_THREADS_HPP

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace vesk::testing {

/// Starts `count` threads running `work(thread number)`, released together so that they
/// overlap as much as the machine lets them, and returns the sum of the mismatches they
/// report.
inline unsigned long run_together(unsigned int count,
                                  const std::function<unsigned long(unsigned int)>& work) {
  std::atomic<bool> go{false};
  std::vector<unsigned long> mismatches(count, 0);
  std::vector<std::thread> threads;
  for (unsigned int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load(std::memory_order_acquire))
        std::this_thread::yield();
      mismatches[t] = work(t);
    });
  }
  go.store(true, std::memory_order_release);
  unsigned long total = 0;
  for (unsigned int t = 0; t < count; ++t) {
    threads[t].join();
    total += mismatches[t];
  }
  return total;
}

}  // namespace vesk::testing

#endif
