// The lock of a section that a process of one thread enters without it.
#include "util/base/spinning_mutex.hpp"

#include "tests/support/child_process.hpp"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

namespace {

using vesk::detail::HoldUnlessSingleThreaded;
using vesk::detail::SpinningMutex;

// Whether another thread, started after the section was entered, finds the mutex held.
bool held_for_a_later_thread(SpinningMutex& mutex) {
  return std::async(std::launch::async,
                    [&mutex] {
                      if (!mutex.try_lock())
                        return true;
                      mutex.unlock();
                      return false;
                    })
      .get();
}

// The section holds the mutex exactly when the process has had a second thread: each row in
// a child forked from this thread, which no other thread has shared.
TEST(HoldUnlessSingleThreaded, HoldsTheMutexOnceASecondThreadExists) {
  for (const bool second_thread : {false, true}) {
    const std::string report = vesk::testing::in_child([second_thread]() -> std::string {
      std::promise<void> finish;
      std::thread other;
      if (second_thread)
        other = std::thread([done = finish.get_future()] { done.wait(); });
      const bool alone = vesk::detail::process_is_single_threaded();
      SpinningMutex mutex;
      bool held = false;
      {
        const HoldUnlessSingleThreaded hold(mutex);
        held = held_for_a_later_thread(mutex);
      }
      finish.set_value();
      if (other.joinable())
        other.join();
      if (second_thread && alone)
        return "one thread reported with two";
      return held == !alone && !held_for_a_later_thread(mutex) ? "" : "wrong hold";
    });
    EXPECT_EQ(report, "") << (second_thread ? "two threads" : "one thread");
  }
}

}  // namespace
