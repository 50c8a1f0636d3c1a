// Interning from two threads at once, on a table of 1,000,000 identifiers of 8 to 16 bytes:
// lookups of present texts on one thread and on two, against absl::flat_hash_set<std::string>
// under one std::shared_mutex and against 64 such sets each under its own std::mutex; nine
// lookups to one new text, on one thread and on two, and on eight threads against two; new
// texts alone, on one thread and on two, which with the host hash of a text and one thread's
// time under every lock, insertion by insertion, give the inputs of a model of the table's
// locks on more threads, and on two threads against the 64 sets; and a present text and a new
// one by turns, on one thread and on two. Each thread looks up its own copy of the texts,
// shuffled its own way (or, past two threads, a copy it shares with others at a place of its
// own). The time of a run is the clock's, over the operations of all its threads: with two
// threads that scale, half the time of one.
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
#include <utility>
#include <vector>

namespace {

using vesk::bench::identifiers;
using AbslSet = absl::flat_hash_set<std::string>;

// The most threads of any side of a benchmark, and the copies of the present texts they share.
constexpr int kMostThreads = 8;
constexpr int kKeyCopies = 2;

// Copy `copy` of the present texts, shuffled its own way: two threads that look up separate
// copies read separate memory, and their lookups land in unrelated places. Thread `t` looks up
// copy t % kKeyCopies.
const std::vector<std::string>& keys_of(int copy) {
  static const std::array<std::vector<std::string>, kKeyCopies> keys = [] {
    std::array<std::vector<std::string>, kKeyCopies> out;
    for (int k = 0; k < kKeyCopies; ++k) {
      out[k] = identifiers(0);
      std::shuffle(out[k].begin(), out[k].end(), std::mt19937_64(7 + k));
    }
    return out;
  }();
  return keys[copy];
}

// 1,000,000 identifiers of 8 to 16 bytes that the table does not hold (batch 1 of
// identifiers()), for the benchmarks that intern new texts in child processes.
const std::vector<std::string>& new_texts() {
  static const std::vector<std::string> texts = identifiers(1);
  return texts;
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
  // Adds a copy of `text` unless its set holds it already; true when it was new. An absl set
  // takes no hash on insertion, so the text is hashed twice: once to pick its set, once in it.
  bool insert(const std::string& text) {
    Shard& shard = shardOf(mShards[0].set.hash_function()(text));
    const std::lock_guard<std::mutex> hold(shard.lock);
    return shard.set.insert(text).second;
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

// Each iteration: `operationsPerSide` operations of ours, shared evenly among `ourThreads` threads,
// in turns (see in_turns) with as many operations of the peer on `peerThreads` threads, each
// thread going on through its copy of the keys where the thread of its number left off; the
// ratio is of the times on the clock, which include starting the threads (tens of
// microseconds, against milliseconds of work). Threads that share a copy start a share of it
// apart, so that no two look up the same texts at once. `operation(side, t, key)` is one
// operation of thread `t` of a side (0 ours, 1 the peer's) on `key`. Counters op_ns and
// peer_op_ns: the time on the clock per operation of each side, all its threads together.
template <class Operation>
void threads_in_turns(benchmark::State& state, int ourThreads, int peerThreads,
                      std::size_t operationsPerSide, Operation operation) {
  intern_present();
  keys_of(0);
  static std::array<std::size_t, kMostThreads> next = [] {
    std::array<std::size_t, kMostThreads> out{};
    for (int t = 0; t < kMostThreads; ++t)
      out[t] = static_cast<std::size_t>(t / kKeyCopies) * vesk::bench::kTexts /
               (kMostThreads / kKeyCopies);
    return out;
  }();
  const auto side = [&](int number, int threads) {
    vesk::testing::run_together(static_cast<unsigned int>(threads), [&](unsigned int t) {
      const std::vector<std::string>& keys = keys_of(static_cast<int>(t) % kKeyCopies);
      // Counted here and stored back once: the threads' places share a cache line.
      std::size_t at = next[t];
      for (std::size_t n = operationsPerSide / static_cast<std::size_t>(threads); n != 0; --n) {
        operation(number, t, keys[at]);
        at = at + 1 == keys.size() ? 0 : at + 1;
      }
      next[t] = at;
      return 0ul;
    });
  };
  vesk::bench::QuietTurns quiet;
  const double peer_seconds = vesk::bench::in_turns(
      state, [&] { side(0, ourThreads); }, [&] { side(1, peerThreads); }, [] {}, &quiet);
  const double operations =
      static_cast<double>(state.iterations()) * static_cast<double>(operationsPerSide);
  if (operations > 0) {
    state.counters["op_ns"] = state.counters["per_peer"] * peer_seconds * 1e9 / operations;
    state.counters["peer_op_ns"] = peer_seconds * 1e9 / operations;
  }
}

// The lookups: 200,000 per thread of ours in each iteration, on two threads.
constexpr std::size_t kLookups = 200000;
constexpr int kTwo = 2;

void lookup(const std::string& key) { benchmark::DoNotOptimize(intern(key)); }

void BM_LookupsOneThread(benchmark::State& state) {
  threads_in_turns(state, kTwo, 1, kLookups * kTwo,
                   [](int, unsigned int, const std::string& key) { lookup(key); });
}

// The peer `Set` (SharedMutexSet or ShardedSet) holding the present texts, made once.
template <class Set>
Set& present_set() {
  static Set set;
  return set;
}

// Ours against `Set`, each on two threads.
template <class Set>
void BM_LookupsAgainst(benchmark::State& state) {
  const Set& set = present_set<Set>();
  threads_in_turns(state, kTwo, kTwo, kLookups * kTwo,
                   [&set](int side, unsigned int, const std::string& key) {
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
  threads_in_turns(
      state, kTwo, 1, kMixed * kTwo,
      [](int side, unsigned int t, const std::string& key) { mixes[side == 0 ? t : 2].mix(key); });
}

// Each iteration: `ours` and `peer`, each in a child process of its own forked from this one
// (see in_child) while the table holds the present texts alone, so that both meet the same
// table and the same growths, each returning the seconds its work took or a negative number
// when it failed. They take turns at going first; an iteration's time is ours. Counters
// op_ns and peer_op_ns: the time on the clock per operation of each, `operations` in each
// run of either; per_peer their ratio, and peer_ns the peer's time per iteration. Each
// iteration's pair of children is a quiet turn (see QuietTurns), after which this process
// runs `advance()`, untimed.
// `work`, run by a child once it has its own copy of the pages it shares with this process:
// the time is that of the work, not of the fork's copies on first write (see
// copy_shared_pages).
template <class Work>
auto own_pages(Work work) {
  return [work] {
    vesk::bench::copy_shared_pages();
    return work();
  };
}

template <class Ours, class Peer, class Advance>
void children_in_turns(benchmark::State& state, std::size_t operations, Ours ours, Peer peer,
                       Advance advance) {
  // Made before the first fork, so that no child makes them in its time.
  intern_present();
  keys_of(0);
  new_texts();
  double ours_total = 0;
  double peer_total = 0;
  bool ours_first = true;
  vesk::bench::QuietTurns quiet;
  for (auto _ : state) {
    const auto [ours_time, peer_time] = quiet.run([&] {
      std::pair<double, double> times;
      if (ours_first) {
        times.first = vesk::bench::in_child(own_pages(ours), -1.0);
        times.second = vesk::bench::in_child(own_pages(peer), -1.0);
      } else {
        times.second = vesk::bench::in_child(own_pages(peer), -1.0);
        times.first = vesk::bench::in_child(own_pages(ours), -1.0);
      }
      return times;
    });
    ours_first = !ours_first;
    advance();
    if (ours_time < 0 || peer_time < 0) {
      state.SkipWithError("a child process failed");
      return;
    }
    ours_total += ours_time;
    peer_total += peer_time;
    state.SetIterationTime(ours_time);
  }
  const double iterations = static_cast<double>(state.iterations());
  const double all = iterations * static_cast<double>(operations);
  state.counters["op_ns"] = ours_total * 1e9 / all;
  state.counters["peer_op_ns"] = peer_total * 1e9 / all;
  state.counters["per_peer"] = ours_total / peer_total;
  state.counters["peer_ns"] = peer_total * 1e9 / iterations;
  quiet.report(state);
}

// children_in_turns, this process's table the same in every iteration.
template <class Ours, class Peer>
void children_in_turns(benchmark::State& state, std::size_t operations, Ours ours, Peer peer) {
  children_in_turns(state, operations, ours, peer, [] {});
}

// The seconds on the clock that `threads` threads, started together, take to run
// `work(t, threads)` each, `t` the thread's number.
template <class Work>
double seconds_on(unsigned int threads, Work work) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  vesk::testing::run_together(threads, [&work, threads](unsigned int t) {
    work(t, threads);
    return 0ul;
  });
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Thread `t` of `threads`: its share of the new texts, in order, each interned once.
void intern_new_share(unsigned int t, unsigned int threads) {
  const std::vector<std::string>& fresh = new_texts();
  const std::size_t share = fresh.size() / threads;
  for (std::size_t i = t * share; i < (t + 1) * share; ++i)
    benchmark::DoNotOptimize(intern(fresh[i]));
}

// New texts only, on two threads against one: the 1,000,000 new identifiers take the table from
// 10^6 texts to 2 x 10^6, through a doubling of its index and growths of its buckets that both
// count in full. Each thread interns its own share of the texts in order. Counters op_ns and
// peer_op_ns: the time on the clock per new text on two threads and on one; per_peer their
// ratio.
void BM_NewTexts(benchmark::State& state) {
  children_in_turns(
      state, new_texts().size(), [] { return seconds_on(kTwo, intern_new_share); },
      [] { return seconds_on(1, intern_new_share); });
}

// The same new texts on two threads, ours against ShardedSet: the 64 absl sets, holding the
// present texts (made here, before the children are forked, like the table), take in the same
// texts, each thread its same share in order. Both sides write pages that the child shares
// with this process until then, and pay alike for copying them.
void BM_NewTextsAgainstSharded(benchmark::State& state) {
  present_set<ShardedSet>();
  children_in_turns(
      state, new_texts().size(), [] { return seconds_on(kTwo, intern_new_share); },
      [] {
        return seconds_on(kTwo, [](unsigned int t, unsigned int threads) {
          ShardedSet& set = present_set<ShardedSet>();
          const std::vector<std::string>& fresh = new_texts();
          const std::size_t share = fresh.size() / threads;
          for (std::size_t i = t * share; i < (t + 1) * share; ++i)
            benchmark::DoNotOptimize(set.insert(fresh[i]));
        });
      });
}

// Thread `t` of `threads`: by turns a present text from its copy of the keys and a new text
// from its share, as many of each as the share holds.
void half_new_share(unsigned int t, unsigned int threads) {
  const std::vector<std::string>& fresh = new_texts();
  const std::vector<std::string>& keys = keys_of(static_cast<int>(t) % kKeyCopies);
  const std::size_t share = fresh.size() / threads;
  for (std::size_t i = 0; i < share; ++i) {
    lookup(keys[i]);
    benchmark::DoNotOptimize(intern(fresh[t * share + i]));
  }
}

// Half present texts, half new, on two threads against one: 1,000,000 lookups of present texts
// and the 1,000,000 new texts of BM_NewTexts, alternating, the same 2,000,000 operations on
// either side. per_peer is the two threads' time over the one thread's.
void BM_HalfNewTexts(benchmark::State& state) {
  children_in_turns(
      state, 2 * new_texts().size(), [] { return seconds_on(kTwo, half_new_share); },
      [] { return seconds_on(1, half_new_share); });
}

// Interns new text `number` of the mix of eight threads and of two: 14 bytes, a character
// that no other text of these benchmarks has, then 13 digits (6 bits each) of the number.
vesk::TableString intern_mixed(std::uint64_t number) {
  char text[14] = {'!'};
  for (std::size_t d = 1; d < sizeof text; ++d)
    text[d] = static_cast<char>('0' + ((number >> (6 * (d - 1))) & 63));
  return intern(std::string_view(text, sizeof text));
}

// The mix: nine lookups of present texts, then one new text, and again, 800,000 operations in
// each iteration on either side, whose new texts are numbered from mix_batch() on.
constexpr std::size_t kMixedInAll = 800000;
constexpr std::size_t kMixedNew = kMixedInAll / 10;
std::uint64_t& mix_batch() {
  static std::uint64_t first = 0;
  return first;
}

// Thread `t` of `threads`: its share of the mix, its lookups from a place of its own in its
// copy of the keys, its new texts a share of the batch's.
void mix_share(unsigned int t, unsigned int threads) {
  const std::vector<std::string>& keys = keys_of(static_cast<int>(t) % kKeyCopies);
  std::size_t at = t * keys.size() / threads;
  std::uint64_t fresh = mix_batch() + t * (kMixedNew / threads);
  for (std::size_t n = kMixedInAll / threads / 10; n != 0; --n) {
    for (int k = 0; k < 9; ++k) {
      lookup(keys[at]);
      at = at + 1 == keys.size() ? 0 : at + 1;
    }
    benchmark::DoNotOptimize(intern_mixed(fresh++));
  }
}

// The mix on eight threads, on this machine's two cores, against the same mix on two threads:
// the same 800,000 operations on either side (100,000 per thread on eight threads, 400,000 on
// two), each in a child process of its own forked at the same point of the table's life (see
// children_in_turns). Eight threads contend for the cores as well as for the locks: one may
// be descheduled holding a region's lock, or in the middle of a growth, while the others wait
// for it. After each iteration this process interns the batch's new texts itself, untimed, so
// that the table grows over the run and both sides meet each of its growths and doublings:
// both take in the same new texts. per_peer is the eight threads' time over the two threads'.
void BM_MixEightThreads(benchmark::State& state) {
  constexpr unsigned int kEight = 8;
  static_assert(kEight <= kMostThreads, "each thread keeps its place in the keys");
  children_in_turns(
      state, kMixedInAll, [] { return seconds_on(kEight, mix_share); },
      [] { return seconds_on(kTwo, mix_share); },
      [] {
        for (std::size_t k = 0; k < kMixedNew; ++k)
          intern_mixed(mix_batch() + k);
        mix_batch() += kMixedNew;
      });
}

// What one thread holds every lock for while it interns the new texts of BM_NewTexts: each
// insertion is timed, and one of 5 ms or more is taken for one that grew the bucket counts or
// doubled the index, which read every record under every lock. Others take well under a
// millisecond, but those that ready a fresh block of records (without a lock) and those that
// the system preempts, which this charges to the locks: it errs towards a longer time.
// Counters: every_lock_ns, the time of those insertions per new text; passes, their number
// per run; op_ns, the time per new text, the clock's reading included. Each run is a quiet
// turn (see QuietTurns).
void BM_NewTextsUnderEveryLock(benchmark::State& state) {
  struct Times {
    double all;
    double passes;
    double count;
  };
  intern_present();
  new_texts();
  // One thread's new texts, each timed.
  const auto timed_texts = [] {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kPassAtLeast(5);
    Times out{0, 0, 0};
    Clock::time_point before = Clock::now();
    for (const std::string& text : new_texts()) {
      benchmark::DoNotOptimize(intern(text));
      const Clock::time_point after = Clock::now();
      const std::chrono::duration<double> spent = after - before;
      out.all += spent.count();
      if (spent >= kPassAtLeast) {
        out.passes += spent.count();
        out.count += 1;
      }
      before = after;
    }
    return out;
  };
  Times total{0, 0, 0};
  vesk::bench::QuietTurns quiet;
  for (auto _ : state) {
    const Times times = quiet.run([&] {
      return vesk::bench::in_child(own_pages(timed_texts), Times{-1, 0, 0});
    });
    if (times.all < 0) {
      state.SkipWithError("a child process failed");
      return;
    }
    state.SetIterationTime(times.all);
    total = {total.all + times.all, total.passes + times.passes, total.count + times.count};
  }
  const double texts =
      static_cast<double>(state.iterations()) * static_cast<double>(new_texts().size());
  state.counters["op_ns"] = total.all * 1e9 / texts;
  state.counters["every_lock_ns"] = total.passes * 1e9 / texts;
  state.counters["passes"] = total.count / static_cast<double>(state.iterations());
  quiet.report(state);
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
// Before the mixes, which add texts to the table.
BENCHMARK(BM_NewTexts)->UseManualTime()->Iterations(2);
BENCHMARK(BM_NewTextsAgainstSharded)->UseManualTime()->Iterations(2);
BENCHMARK(BM_HalfNewTexts)->UseManualTime()->Iterations(2);
BENCHMARK(BM_NewTextsUnderEveryLock)->UseManualTime()->Iterations(2);
BENCHMARK(BM_MixOneThread)->UseManualTime()->Iterations(30);
BENCHMARK(BM_MixEightThreads)->UseManualTime()->Iterations(8);
BENCHMARK(BM_HostHashOfTexts);

// The regions of the table's buckets, each with a lock of its own: the table's figure, which
// the library keeps to itself.
constexpr int kIndexRegions = 32;
// The threads that share a growth's or a doubling's reading of the records: the one holding
// every lock and up to 7 waiting for one.
constexpr int kPassSharers = 8;

// The note of the model of the locks, for the report.
constexpr const char* kModelNote =
    "Interning on more threads than this machine has, modelled from the figures of this run "
    "(means of the repetitions; the new texts are interned in child processes that each start "
    "from the table of 10^6 texts and take it to 2 x 10^6, so that a doubling of the index and "
    "growths of the bucket counts, amortised, count as lock time). The table's buckets fall "
    "into 32 regions of neighbouring buckets, each with a lock; a new text takes the lock of "
    "its bucket's region only, counts itself into its bucket with a plain increment, claims a "
    "slot of the shared index by one atomic step on the slot's group and cuts its record from "
    "a 4 KiB chunk of its thread's own, unless its bucket holds 8 already (the table may "
    "grow), its region has used its share of the index's room (the index may double) or its "
    "record needs a block of its own: then it is inserted again holding every lock. The time "
    "a new text holds locks, H, is one thread's time per new text less the host hash and a "
    "lookup of a present text (the lookup that misses before the lock, in a table of 1 to 2 "
    "million texts, costs more than one in the table of 10^6, so this charges the locks with "
    "the difference). The part of H held under every lock at once, G, is measured: one "
    "thread interning the new texts times each, and the insertions of 5 ms or more, the "
    "growths of the bucket counts and the doubling of the index, which read every record, "
    "are counted as G (with any other insertion the system held up that long: G errs towards "
    "a lower ceiling). The threads waiting for a lock meanwhile share that reading, up to 8 "
    "threads in all, so that on n threads it takes G / min(n, 8) on the clock. (Amdahl's "
    "serial fraction of two threads interning new texts only, shown too, charges the locks "
    "with whatever else keeps two threads apart, and with the sharing it leaves out.) An "
    "operation does Z of work of its own, holds its region's lock for D_r on average over the "
    "32, and every lock at once for D_a, of which n threads share up to 8. Amdahl's law keeps "
    "every other thread idle while one holds the busiest lock, for D_r + D_a / min(n, 8) of "
    "each operation; the closed queue (mean-value analysis) lets them work meanwhile, with a "
    "server for each region's lock and one for the steps that hold them all, which keep each "
    "region's lock from the others for that time; "
    "both level off at (Z + 32 D_r + D_a) / (D_r + D_a / 8), the load table's ceiling. Both leave "
    "out what makes the check at two threads fall short of them: under contention a lock's "
    "cache line, and the lines an insertion writes under it (its bucket's count, its region's "
    "count of records), move from core to core at each handoff, which adds to D_r as threads "
    "are added (more across sockets); the index's groups, which insertions of every region "
    "write at random, and the arena's lock, taken once per 4 KiB chunk, cost little while few "
    "threads meet there and are no server of the model; a step under every lock first waits "
    "for each region's holder in turn, which the queue does not count; the regions share the "
    "insertions evenly only on average (texts of one hash share a region); the lookups, which "
    "wait mostly for memory, share its bandwidth and latency with every other core; and page "
    "faults of fresh index slots fall under every lock. On one thread the regions cost an "
    "atomic step per slot claimed and a region's lock instead of the table's; lookups are "
    "those of one index as before. They give up one order of all insertions: the buckets, the "
    "growths and the report are those of one thread interning the texts in some order (for a "
    "single thread its own), not necessarily that in which they got a lock; the report, which "
    "holds every lock, waits for the insertions under way; and records are visited chunk by "
    "chunk, each thread's in the order of its insertions.";

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  const std::string ours = "`TableString` of a present text, 2 threads";
  report::table(
      "Interning from two threads",
      "A table of 1,000,000 identifiers of 8 to 16 bytes; each thread looks up its own copy of the "
      "texts, shuffled its own way: 200,000 lookups per thread in each iteration (25,000 "
      "operations of the mix, nine lookups to one new text), in turns with as many of the peer. "
      "The mix on eight threads against two is 800,000 operations a side (100,000 per thread on "
      "eight, which share two such copies at places of their own), each side in a child "
      "process of its own forked at the same point of the table's life, both taking in the "
      "same new texts, which the table then takes in untimed: both meet its growths alike. "
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
  row("`TableString`, 9 present texts to 1 new, 8 threads", "BM_MixEightThreads",
      "the same mix on 2 threads", "the same mix on 2 threads");

  report::table(
      "Interning new texts from two threads",
      "Each side in a child process of its own, forked from this one while the table (or the "
      "peer) holds 1,000,000 identifiers of 8 to 16 bytes, takes in 1,000,000 new ones, which "
      "double the table's index; each thread its own share of them, in order, with a lookup of "
      "a present text before each in the row of both by turns. The two sides "
      "take turns at going first. Time on the clock for the same operations: against one "
      "thread, 0.5 is twice the work done in the same time.");
  row("`TableString` of a new text, 2 threads", "BM_NewTexts", "the same texts on 1 thread",
      "the same new texts on 1 thread");
  row("`TableString` of a new text, 2 threads", "BM_NewTextsAgainstSharded",
      "`absl::flat_hash_set<std::string>::insert` into 64 sets, each under its own "
      "`std::mutex`, 2 threads",
      "`absl::flat_hash_set::insert` into 64 sets, each under its own `std::mutex`, 2 threads");
  row("`TableString`, a present text and a new one by turns, 2 threads", "BM_HalfNewTexts",
      "the same operations on 1 thread", "the same operations on 1 thread");

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
      {"`TableString`, 9 present texts to 1 new, 2 threads", "BM_MixOneThread", "op_ns"},
      kIndexRegions,
      {"one thread's insertions of 5 ms or more (growths and doublings, under every lock)",
       "BM_NewTextsUnderEveryLock", "every_lock_ns"},
      kPassSharers};
  report::lock_model("interning past two threads", kModelNote, inputs, {2, 8, 16, 32, 64, 128},
                     {0.01, 0.1});
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
