// Interning from two threads at once, on a table of 1,000,000 identifiers of 8 to 16 bytes:
// lookups of present texts on one thread and on two, against absl::flat_hash_set<std::string>
// under one std::shared_mutex and against 64 such sets each under its own std::mutex; and nine
// lookups to one new text, on one thread and on two. Each thread looks up its own copy of the
// texts, shuffled its own way. The time of a run is the clock's, over the operations of all its
// threads: with two threads that scale, half the time of one.
#include "bench_support.hpp"
#include "identifiers.hpp"
#include "report_context.hpp"
#include "testing/threads.hpp"

#include <vesk/string.hpp>

#include <absl/container/flat_hash_set.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vesk::bench::identifiers;
using AbslSet = absl::flat_hash_set<std::string>;

constexpr int kMostThreads = 2;

// Thread `t`'s copy of the present texts, shuffled its own way: separate copies of the stored
// texts, and the threads' lookups land in unrelated places.
const std::vector<std::string>& keys_of(int t) {
  static const std::array<std::vector<std::string>, kMostThreads> keys = [] {
    std::array<std::vector<std::string>, kMostThreads> out;
    for (int k = 0; k < kMostThreads; ++k) {
      out[k] = identifiers(0);
      std::shuffle(out[k].begin(), out[k].end(), std::mt19937_64(7 + k));
    }
    return out;
  }();
  return keys[t];
}

vesk::TableString intern(std::string_view text) { return vesk::TableString(text); }

// The present texts in the process-wide table, interned once.
void intern_present() {
  static const bool interned = [] {
    for (const std::string& text : identifiers(0))
      intern(text);
    return true;
  }();
  benchmark::DoNotOptimize(interned);
}

// The present texts in one absl set, every lookup under a shared lock.
class SharedMutexSet {
public:
  SharedMutexSet() {
    for (std::string& text : identifiers(0))
      mSet.insert(std::move(text));
  }
  bool contains(const std::string& key) const {
    const std::shared_lock<std::shared_mutex> hold(mLock);
    return mSet.contains(key);
  }

private:
  mutable std::shared_mutex mLock;
  AbslSet mSet;
};

// The present texts in 64 absl sets, each under its own mutex on a cache line of its own; the
// top bits of a text's hash pick its set, and the set reuses the hash.
class ShardedSet {
public:
  ShardedSet() {
    for (std::string& text : identifiers(0)) {
      const std::size_t hash = mShards[0].set.hash_function()(text);
      shardOf(hash).set.insert(std::move(text));
    }
  }
  bool contains(const std::string& key) const {
    const std::size_t hash = mShards[0].set.hash_function()(key);
    const Shard& shard = shardOf(hash);
    const std::lock_guard<std::mutex> hold(shard.lock);
    return shard.set.find(key, hash) != shard.set.end();
  }

private:
  struct alignas(64) Shard {
    mutable std::mutex lock;
    AbslSet set;
  };
  Shard& shardOf(std::size_t hash) { return mShards[hash >> 58]; }
  const Shard& shardOf(std::size_t hash) const { return mShards[hash >> 58]; }
  std::array<Shard, 64> mShards;
};

// Each iteration: `chunk` operations on each of two threads, ours, in turns (see in_turns)
// with as many operations of the peer on one thread or two, going on through the keys where
// the last left off; the ratio is of the times on the clock. `operation(side, t, key)` is one
// operation of thread `t` of a side (0 ours, 1 the peer's) on `key`.
template <class Operation>
void two_threads_in_turns(benchmark::State& state, int peerThreads, std::size_t chunk,
                          Operation operation) {
  intern_present();
  keys_of(0);
  static std::array<std::size_t, kMostThreads> next{};
  const auto side = [&](int number, int threads) {
    vesk::testing::run_together(static_cast<unsigned int>(threads), [&](unsigned int t) {
      const std::vector<std::string>& keys = keys_of(static_cast<int>(t));
      // Counted here and stored back once: the threads' places share a cache line.
      std::size_t at = next[t];
      for (std::size_t n = chunk * kMostThreads / static_cast<std::size_t>(threads); n != 0; --n) {
        operation(number, t, keys[at]);
        at = at + 1 == keys.size() ? 0 : at + 1;
      }
      next[t] = at;
      return 0ul;
    });
  };
  vesk::bench::in_turns(
      state, [&] { side(0, kMostThreads); }, [&] { side(1, peerThreads); });
}

// The lookups: 200,000 per thread of ours in each iteration.
constexpr std::size_t kLookups = 200000;

void lookup(const std::string& key) { benchmark::DoNotOptimize(intern(key)); }

void BM_LookupsOneThread(benchmark::State& state) {
  two_threads_in_turns(state, 1, kLookups,
                       [](int, unsigned int, const std::string& key) { lookup(key); });
}

// Ours against `Set` (SharedMutexSet or ShardedSet), each on two threads.
template <class Set>
void BM_LookupsAgainst(benchmark::State& state) {
  static const Set set;
  two_threads_in_turns(state, kMostThreads, kLookups,
                       [](int side, unsigned int, const std::string& key) {
                         if (side == 0)
                           lookup(key);
                         else
                           benchmark::DoNotOptimize(set.contains(key));
                       });
}

// Nine lookups of present texts, then one new text, and again. A new text is 14 bytes: a
// character no identifier has, a letter of the thread's own and 12 digits (6 bits each) of
// the number of texts that thread has made in the whole run, so that each is new.
class Mix {
public:
  explicit Mix(char thread) : mText{'~', thread} {}
  void operator()(const std::string& key) {
    if (++mStep != 10) {
      lookup(key);
      return;
    }
    mStep = 0;
    ++mMade;
    for (int d = 0; d < 12; ++d)
      mText[2 + d] = static_cast<char>('0' + ((mMade >> (6 * d)) & 63));
    benchmark::DoNotOptimize(intern(std::string_view(mText, sizeof mText)));
  }

private:
  char mText[14];
  unsigned int mStep = 0;
  std::uint64_t mMade = 0;
};

// The mix: 25,000 operations per thread of ours in each iteration, and 30 iterations: some
// hold a growth of the table, which one thread does while the other waits for the lock.
constexpr std::size_t kMixed = 25000;

void BM_MixOneThread(benchmark::State& state) {
  // A Mix of its own for each thread of each side, on a cache line of its own.
  struct alignas(64) Own {
    Mix mix;
  };
  static std::array<Own, 3> mixes{{{Mix('a')}, {Mix('b')}, {Mix('c')}}};
  two_threads_in_turns(state, 1, kMixed, [](int side, unsigned int t, const std::string& key) {
    mixes[side == 0 ? t : 2].mix(key);
  });
}

BENCHMARK(BM_LookupsOneThread)->UseManualTime()->Iterations(10);
BENCHMARK_TEMPLATE(BM_LookupsAgainst, SharedMutexSet)->UseManualTime()->Iterations(10);
BENCHMARK_TEMPLATE(BM_LookupsAgainst, ShardedSet)->UseManualTime()->Iterations(10);
BENCHMARK(BM_MixOneThread)->UseManualTime()->Iterations(30);

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  const std::string ours = "`TableString` of a present text, 2 threads";
  report::table(
      "Interning from two threads",
      "A table of 1,000,000 identifiers of 8 to 16 bytes; each thread looks up its own copy of the "
      "texts, shuffled its own way: 200,000 lookups per thread in each iteration (25,000 "
      "operations of the mix, nine lookups to one new text), in turns with as many of the peer. "
      "Time on the clock for the same number of operations: against one thread, 0.5 is twice "
      "the work done in the same time.");
  const auto row = [&](const std::string& what, const char* benchmark, const std::string& peer,
                       const std::string& summary) {
    report::compare_in_turns(what, benchmark, peer, {summary});
  };
  row(ours, "BM_LookupsOneThread", "the same lookups on 1 thread",
      "`TableString` of a present text, 1 thread");
  row(ours, "BM_LookupsAgainst<SharedMutexSet>",
      "`absl::flat_hash_set<std::string>::find` under one `std::shared_mutex`, 2 threads",
      "`absl::flat_hash_set::find` under one `std::shared_mutex`, 2 threads");
  row(ours, "BM_LookupsAgainst<ShardedSet>",
      "64 `absl::flat_hash_set<std::string>`, each under its own `std::mutex`, 2 threads",
      "64 `absl::flat_hash_set`, each under its own `std::mutex`, 2 threads");
  row("`TableString`, 9 present texts to 1 new, 2 threads", "BM_MixOneThread",
      "the same mix on 1 thread", "the same mix on 1 thread");
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
