// A pass that the thread holding every lock of the table shares with waiting threads.
#include "util/string/shared_pass.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using vesk::detail::PassWork;
using vesk::detail::SharedPass;

constexpr std::size_t kPieces = 8;

// Each piece takes a millisecond, so that a helper comes while the owner is at one. The owner
// works alone until it admits the helper, which it does from its third piece on.
struct Work final : PassWork {
  void work(SharedPass& pass, unsigned int helper) noexcept override {
    const bool owner = helper == SharedPass::kOwner;
    for (std::size_t k = pass.take(); k < pass.pieces(); k = pass.take()) {
      if (owner)
        ownerAlone = k < 2 || !pass.admit();
      for (int tenth = 0; tenth < 10; ++tenth) {
        if (!owner)
          helperMetOwnerAlone = helperMetOwnerAlone || ownerAlone;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      if (owner)
        ownerAlone = false;
      ++done[k];
      helped = helped || !owner;
    }
  }
  std::atomic<bool> ownerAlone{false};
  std::atomic<bool> helperMetOwnerAlone{false};
  std::atomic<bool> helped{false};
  std::atomic<int> done[kPieces] = {};
};

// A helper starts only once admitted, never while the owner works alone; every piece is done
// once; run returns only after the helper's last piece, which ends after the owner's.
TEST(SharedPass, HelpersWorkOnlyOnceAdmittedAndRunWaitsForThem) {
  SharedPass pass;
  Work work;
  std::atomic<bool> finished{false};
  std::thread helper([&] {
    while (!finished)
      pass.help();
  });
  pass.run(work, kPieces);
  int counted[kPieces];
  for (std::size_t k = 0; k < kPieces; ++k)
    counted[k] = work.done[k];
  finished = true;
  helper.join();
  EXPECT_TRUE(work.helped);
  EXPECT_FALSE(work.helperMetOwnerAlone);
  for (std::size_t k = 0; k < kPieces; ++k)
    EXPECT_EQ(counted[k], 1) << "piece " << k;
  EXPECT_FALSE(pass.help()) << "no pass is open";
}

}  // namespace
