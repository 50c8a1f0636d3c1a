// Interning from two threads at once, on a table of 1,000,000 identifiers of 8 to 16 bytes:
// lookups of present texts on one thread and on two, against absl::flat_hash_set<std::string>
// under one std::shared_mutex and against 64 such sets each under its own std::mutex; nine
// lookups to one new text, on one thread and on two; and new texts alone, on one thread and on
// two, which with the host hash of a text give the inputs of a model of the table's lock on
// more threads. Each thread looks up its own copy of the texts, shuffled its own way. The time
// of a run is the clock's, over the operations of all its threads: with two threads that scale,
// half the time of one.
#include "bench_support.hpp"
#include "identifiers.hpp"
#include "report_context.hpp"
#include "testing/threads.hpp"

#include <vesk/host/host_util.h>
#include <vesk/string.hpp>

#include <absl/container/flat_hash_set.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
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
// operation of thread `t` of a side (0 ours, 1 the peer's) on `key`. Counters op_ns and
// peer_op_ns: the time on the clock per operation of each side, all its threads together.
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
  const double peer_seconds = vesk::bench::in_turns(
      state, [&] { side(0, kMostThreads); }, [&] { side(1, peerThreads); });
  const double operations =
      static_cast<double>(state.iterations()) * static_cast<double>(chunk * kMostThreads);
  if (operations > 0) {
    state.counters["op_ns"] = state.counters["per_peer"] * peer_seconds * 1e9 / operations;
    state.counters["peer_op_ns"] = peer_seconds * 1e9 / operations;
  }
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

// New texts only, on one thread and on two, each in a child process of its own forked from
// this one while the table holds the present texts alone, so that both meet the same table and
// the same growths: 1,000,000 new identifiers of 8 to 16 bytes (batch 1 of identifiers()), which
// take the table from 10^6 texts to 2 x 10^6, through a doubling of its index and growths of
// its buckets that both count in full. Each thread interns its own share of the texts in order.
// The children take turns at going first; an iteration's time is the two threads'. Counters
// op_ns and peer_op_ns: the time on the clock per new text on two threads and on one; per_peer
// their ratio.
void BM_NewTexts(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  intern_present();
  static const std::vector<std::string> fresh = identifiers(1);
  const auto seconds_on = [](unsigned int threads) {
    return vesk::bench::in_child(
        [threads] {
          const Clock::time_point start = Clock::now();
          vesk::testing::run_together(threads, [threads](unsigned int t) {
            const std::size_t share = fresh.size() / threads;
            for (std::size_t i = t * share; i < (t + 1) * share; ++i)
              benchmark::DoNotOptimize(intern(fresh[i]));
            return 0ul;
          });
          return std::chrono::duration<double>(Clock::now() - start).count();
        },
        -1.0);
  };
  double one_total = 0;
  double two_total = 0;
  bool two_first = false;
  for (auto _ : state) {
    const double first = seconds_on(two_first ? 2 : 1);
    const double second = seconds_on(two_first ? 1 : 2);
    const double one = two_first ? second : first;
    const double two = two_first ? first : second;
    two_first = !two_first;
    if (one < 0 || two < 0) {
      state.SkipWithError("a child process failed");
      return;
    }
    one_total += one;
    two_total += two;
    state.SetIterationTime(two);
  }
  const double texts = static_cast<double>(state.iterations()) * static_cast<double>(fresh.size());
  state.counters["op_ns"] = two_total * 1e9 / texts;
  state.counters["peer_op_ns"] = one_total * 1e9 / texts;
  state.counters["per_peer"] = two_total / one_total;
}

// The host hash of each present text on one thread, as an insertion computes it before the
// lock; counter op_ns is the time per text.
void BM_HostHashOfTexts(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const std::vector<std::string>& keys = keys_of(0);
  const Clock::time_point start = Clock::now();
  for (auto _ : state)
    for (const std::string& key : keys)
      benchmark::DoNotOptimize(
          host_hash_n_bytes(0, static_cast<unsigned int>(key.size()), key.data()));
  const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
  state.counters["op_ns"] =
      spent.count() / (static_cast<double>(state.iterations()) * static_cast<double>(keys.size()));
}

BENCHMARK(BM_LookupsOneThread)->UseManualTime()->Iterations(10);
BENCHMARK_TEMPLATE(BM_LookupsAgainst, SharedMutexSet)->UseManualTime()->Iterations(10);
BENCHMARK_TEMPLATE(BM_LookupsAgainst, ShardedSet)->UseManualTime()->Iterations(10);
// Before the mix, which adds texts to the table.
BENCHMARK(BM_NewTexts)->UseManualTime()->Iterations(2);
BENCHMARK(BM_MixOneThread)->UseManualTime()->Iterations(30);
BENCHMARK(BM_HostHashOfTexts);

// The note of the model of the lock, for the report.
constexpr const char* kModelNote =
    "Interning on more threads than this machine has, modelled from the figures of this run "
    "(means of the repetitions; the new texts are interned in child processes that each start "
    "from the table of 10^6 texts and take it to 2 x 10^6, so that a doubling of the index and "
    "growths of the bucket counts, amortised, count as lock time). The time the lock is held per "
    "new text is taken two ways and the larger used: one thread's time per new text less the "
    "host hash and a lookup of a present text (the lookup that misses before the lock, in a "
    "table of 1 to 2 million texts, costs more than one in the table of 10^6, so this charges "
    "the lock with the difference), and Amdahl's serial fraction of two threads interning new "
    "texts only, times one thread's time (capped at the whole of it where two such threads take "
    "longer than one). An operation does Z of work of its own and holds the lock for D. Amdahl's "
    "law keeps every other thread idle while one holds the lock; the closed queue (mean-value "
    "analysis) lets them work meanwhile; both level off at (Z + D) / D. Both leave out what "
    "makes the check at two threads fall short of them: under contention the lock's cache line, "
    "and the lines an insertion writes under it (the arena's tail, the index's count, bucket "
    "counts), move from core to core at each handoff, which adds to D as threads are added (more "
    "across sockets); the lookups, which wait mostly for memory, share its bandwidth and "
    "latency with every other core; page faults of fresh arena memory fall under the lock; and "
    "every inserter waits out a doubling of the index, which the model spreads over the "
    "insertions. Where the ceiling with 10 % new texts lies below 16 times one thread (the load "
    "table gives it), what would lift it is a lock per region of the index (regions chosen by "
    "the key's top bits, each with slots of its own that double under its own lock, and a growth "
    "of the bucket counts taking every region's lock in order), an arena per region or per "
    "thread, and bucket counts as atomic integers: each lock then sees a share of the "
    "insertions, and the ceiling rises about as many times as there are regions, until the "
    "shared counts become the next queue. On one thread that costs little: an atomic increment "
    "per insertion instead of a plain one, a region's lock instead of the table's, one more load "
    "per lookup to find the region's slots, and a partly filled arena block per region. It would "
    "give up the guarantee that the buckets, the growths and the report are those of one thread "
    "interning the texts in the order in which they got the lock: insertions in different "
    "regions have no common order, so two of them could each find a bucket one short of full "
    "and together fill it past the point where one thread would have grown the table, the report "
    "would add up only "
    "while no insertion is under way, and records would no longer be visited in the order of "
    "their insertion.";

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

  report::LockModelInputs inputs{
      {"`TableString` of a present text, 1 thread", "BM_LookupsOneThread", "peer_op_ns"},
      {"`TableString` of a present text, 2 threads", "BM_LookupsOneThread", "op_ns"},
      {"`TableString` of a new text, 1 thread", "BM_NewTexts", "peer_op_ns"},
      {"`TableString` of a new text, 2 threads", "BM_NewTexts", "op_ns"},
      {{"host hash of the text, before the lock", "BM_HostHashOfTexts", "op_ns"},
       {"lookup before the lock, taken as long as one of a present text", "BM_LookupsOneThread",
        "peer_op_ns"}},
      0.1,
      {"`TableString`, 9 present texts to 1 new", "BM_MixOneThread", "peer_op_ns"},
      {"`TableString`, 9 present texts to 1 new, 2 threads", "BM_MixOneThread", "op_ns"}};
  report::lock_model("interning past two threads", kModelNote, inputs, {2, 8, 16, 64}, {0.01, 0.1});
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
