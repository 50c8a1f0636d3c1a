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

// Each iteration: kChunk operations on each of two threads, ours, in turns (see in_turns) with
// as many operations of the peer, on one thread or two; the ratio is of the times on the
// clock. Every iteration goes on through the keys where the last left off.
constexpr std::size_t kChunk = 200000;

// `operation(keys, i)` for the next `count` keys of thread `t`'s copy, from where `next`
// says, which it advances.
template <class Operation>
void run_keys(int t, std::size_t count, std::size_t& next, Operation operation) {
  const std::vector<std::string>& keys = keys_of(t);
  for (std::size_t n = 0; n < count; ++n) {
    operation(keys[next]);
    next = next + 1 == keys.size() ? 0 : next + 1;
  }
}

// `operation` over kChunk keys on each of two threads, or over 2 kChunk keys on one.
template <class Operation>
void on_threads(int threads, std::array<std::size_t, kMostThreads>& next, Operation operation) {
  vesk::testing::run_together(static_cast<unsigned int>(threads), [&](unsigned int t) {
    run_keys(static_cast<int>(t), kChunk * kMostThreads / static_cast<std::size_t>(threads),
             next[t], operation);
    return 0ul;
  });
}

template <class Ours, class Peer>
void two_threads_in_turns(benchmark::State& state, Ours ours, int peerThreads, Peer peer) {
  intern_present();
  keys_of(0);
  static std::array<std::size_t, kMostThreads> next{};
  vesk::bench::in_turns(
      state, [&] { on_threads(kMostThreads, next, ours); },
      [&] { on_threads(peerThreads, next, peer); });
  state.counters["per_operation_ns"] = benchmark::Counter(
      static_cast<double>(kChunk * kMostThreads) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

const auto lookup = [](const std::string& key) { benchmark::DoNotOptimize(intern(key)); };

void BM_LookupsOneThread(benchmark::State& state) {
  two_threads_in_turns(state, lookup, 1, lookup);
}

void BM_LookupsSharedMutex(benchmark::State& state) {
  static const SharedMutexSet set;
  two_threads_in_turns(state, lookup, kMostThreads,
                       [](const std::string& key) { benchmark::DoNotOptimize(set.contains(key)); });
}

void BM_LookupsSharded(benchmark::State& state) {
  static const ShardedSet set;
  two_threads_in_turns(state, lookup, kMostThreads,
                       [](const std::string& key) { benchmark::DoNotOptimize(set.contains(key)); });
}

// Nine lookups of present texts, then one new text, and again. A new text is 14 bytes: a
// character no identifier has, a number of the thread's own and 12 digits (6 bits each) of
// the number of texts made with that number in the whole run, so that each is new.
class Mix {
public:
  explicit Mix(char thread) : mText{'~', thread} {}
  void operator()(const std::string& key) {
    if (++mStep != 10) {
      benchmark::DoNotOptimize(intern(key));
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

void BM_MixOneThread(benchmark::State& state) {
  // Each thread of each side its own texts, and its own cache line.
  struct alignas(64) Own {
    Mix mix;
  };
  static std::array<Own, 3> mixes{{{Mix('a')}, {Mix('b')}, {Mix('c')}}};
  intern_present();
  keys_of(0);
  static std::array<std::size_t, kMostThreads> next{};
  vesk::bench::in_turns(
      state,
      [&] {
        vesk::testing::run_together(kMostThreads, [&](unsigned int t) {
          run_keys(static_cast<int>(t), kChunk, next[t],
                   [&](const std::string& key) { mixes[t].mix(key); });
          return 0ul;
        });
      },
      [&] {
        run_keys(0, kChunk * kMostThreads, next[0],
                 [&](const std::string& key) { mixes[2].mix(key); });
      });
}

BENCHMARK(BM_LookupsOneThread)->UseManualTime()->Iterations(10);
BENCHMARK(BM_LookupsSharedMutex)->UseManualTime()->Iterations(10);
BENCHMARK(BM_LookupsSharded)->UseManualTime()->Iterations(10);
BENCHMARK(BM_MixOneThread)->UseManualTime()->Iterations(10);

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  const std::string ours = "`TableString` of a present text, 2 threads";
  report::table("Interning from two threads",
                "A table of 1,000,000 identifiers of 8 to 16 bytes; each thread looks up its own "
                "copy of the texts, shuffled its own way, 200,000 operations per thread in each "
                "iteration, in turns with as many operations of the peer. Time on the clock for "
                "the same number of operations: against one thread, 0.5 is twice the work done "
                "in the same time. The mix is nine lookups to one new text.");
  report::compare_in_turns(ours, "BM_LookupsOneThread", "the same lookups on 1 thread",
                           {"`TableString` of a present text, 1 thread"});
  report::compare_in_turns(
      ours, "BM_LookupsSharedMutex",
      "`absl::flat_hash_set<std::string>::find` under one `std::shared_mutex`, 2 threads",
      {"`absl::flat_hash_set::find` under one `std::shared_mutex`, 2 threads"});
  report::compare_in_turns(
      ours, "BM_LookupsSharded",
      "64 `absl::flat_hash_set<std::string>`, each under its own `std::mutex`, 2 threads",
      {"64 `absl::flat_hash_set`, each under its own `std::mutex`, 2 threads"});
  report::compare_in_turns("`TableString`, 9 present texts to 1 new, 2 threads", "BM_MixOneThread",
                           "the same mix on 1 thread", {"the same mix on 1 thread"});
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
