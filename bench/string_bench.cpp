// Interning against its peers, on 1,000,000 distinct identifiers of 8 to 16 bytes:
// TableString construction (a text already present, a new text) against the find and insert
// of absl::flat_hash_set<std::string> and std::unordered_set<std::string>, and the memory each
// holds per text, measured in a fresh child process per container; and the same three costs for
// 10^4 to 10^7 texts as curves, each container built in a fresh child process. Also 300,000
// texts of one CRC-32, as an input can make them, against as many ordinary texts of the same
// length, each set interned into a fresh table.
#include "bench_support.hpp"
#include "identifiers.hpp"
#include "report_context.hpp"

#include <vesk/string.hpp>

#include "testing/crc32_forge.hpp"

#include <absl/container/flat_hash_set.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using vesk::bench::identifiers;
using vesk::bench::in_child;
using vesk::bench::kTexts;

// The present texts as separate copies in shuffled order, so a lookup's key is never the
// stored text itself and consecutive lookups land in unrelated places.
const std::vector<std::string>& present_keys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> out = identifiers(0);
    std::shuffle(out.begin(), out.end(), std::mt19937_64(7));
    return out;
  }();
  return keys;
}

// Interns each of `texts`, one handle at a time.
void intern_all(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    vesk::TableString handle(text.data(), static_cast<unsigned int>(text.size()));
    benchmark::DoNotOptimize(handle);
  }
}

// Interns the present texts once, whichever benchmark runs first.
void intern_present() {
  static const bool interned = [] {
    intern_all(identifiers(0));
    return true;
  }();
  benchmark::DoNotOptimize(interned);
}

void BM_FindTableString(benchmark::State& state) {
  intern_present();
  const auto& keys = present_keys();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& key = keys[i];
    vesk::TableString found(key.data(), static_cast<unsigned int>(key.size()));
    benchmark::DoNotOptimize(found);
    i = i + 1 == keys.size() ? 0 : i + 1;
  }
}

// The present texts in a set of the peer's, built once per process.
template <class Set>
const Set& present_set() {
  static const Set set = [] {
    Set out;
    for (std::string& text : identifiers(0))
      out.insert(std::move(text));
    return out;
  }();
  return set;
}

template <class Set>
void BM_FindPeer(benchmark::State& state) {
  const Set& set = present_set<Set>();
  const auto& keys = present_keys();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(set.find(keys[i]) != set.end());
    i = i + 1 == keys.size() ? 0 : i + 1;
  }
}

// The batches of BM_InsertTableString interned into the process-wide table so far.
std::vector<unsigned int>& table_batches() {
  static std::vector<unsigned int> batches;
  return batches;
}

// Each iteration interns one batch of texts the table has never seen, into the table that
// holds the present texts and every earlier batch.
void BM_InsertTableString(benchmark::State& state) {
  intern_present();
  static unsigned int batch = 100;
  for (auto _ : state) {
    state.PauseTiming();
    table_batches().push_back(batch);
    const std::vector<std::string> texts = identifiers(batch++);
    state.ResumeTiming();
    intern_all(texts);
  }
  state.counters["per_text"] = benchmark::Counter(
      static_cast<double>(kTexts),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Each iteration inserts one batch into an empty set, as the table's batches go into a table
// that does not yet hold them.
template <class Set>
void BM_InsertPeer(benchmark::State& state) {
  static unsigned int batch = 200;
  for (auto _ : state) {
    state.PauseTiming();
    const std::vector<std::string> texts = identifiers(batch++);
    auto* set = new Set();
    state.ResumeTiming();
    for (const std::string& text : texts)
      benchmark::DoNotOptimize(set->insert(text));
    state.PauseTiming();
    delete set;
    state.ResumeTiming();
  }
  state.counters["per_text"] = benchmark::Counter(
      static_cast<double>(kTexts),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Memory in use: the allocator's in-use bytes (chunk headers included, mmapped blocks too)
// plus the pages a container maps for itself, counted whole like the allocator's blocks;
// and the resident set.
struct Usage {
  double heap;
  double resident;
};

Usage usage() {
  const struct mallinfo2 info = mallinfo2();
  long pages = 0;
  long resident = 0;
  long shared = 0;
  long text = 0;
  long library = 0;
  long data = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident >> shared >> text >> library >> data;
  const auto page = static_cast<double>(sysconf(_SC_PAGESIZE));
  // The data pages hold the allocator's heap and its own mappings too; what is left of them
  // was mapped by the container itself.
  const double own_mappings = static_cast<double>(data) * page - static_cast<double>(info.arena) -
                              static_cast<double>(info.hblkhd);
  return {static_cast<double>(info.uordblks + info.hblkhd) + own_mappings,
          static_cast<double>(resident) * page};
}

constexpr std::size_t kFloodTexts = 300000;

// 12-byte texts that all have the CRC-32 0x5EED1234: 8 identifier characters and 4 bytes
// that steer the CRC.
const std::vector<std::string>& one_hash_texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out = identifiers(500, kFloodTexts, 8, 8);
    for (std::string& text : out)
      text = vesk::testing::with_crc32(text, 0x5EED1234u);
    return out;
  }();
  return texts;
}

// Ordinary identifiers of the same 12 bytes.
const std::vector<std::string>& ordinary_texts() {
  static const std::vector<std::string> texts = identifiers(501, kFloodTexts, 12, 12);
  return texts;
}

// True while this process has interned nothing, so that a child it forks starts with an
// empty table.
bool table_is_empty() {
  std::ostringstream out;
  vesk::TableString::stats(out);
  return out.str().find("at least one entry : 0\n") != std::string::npos;
}

// Interns `texts` in a child process, into its fresh table; the seconds taken and the
// memory added per text. Negative seconds when the child failed.
struct FreshRun {
  double seconds;
  Usage perText;
};

// The processor time of this process, which other programs on the machine disturb less
// than the time on the clock.
double process_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

FreshRun intern_in_child(const std::vector<std::string>& texts) {
  return in_child(
      [&texts] {
        // Free memory the parent left resident goes back first, so that the resident figure
        // grows with what the interning takes.
        malloc_trim(0);
        const Usage before = usage();
        const double start = process_seconds();
        intern_all(texts);
        const double stop = process_seconds();
        const Usage after = usage();
        const auto n = static_cast<double>(texts.size());
        return FreshRun{stop - start,
                        {(after.heap - before.heap) / n, (after.resident - before.resident) / n}};
      },
      FreshRun{-1, {0, 0}});
}

// Each iteration interns all the texts into a fresh table (in a child process) and counts the
// child's processor time; the counters give the heap and resident bytes added per text.
void intern_fresh(benchmark::State& state, const std::vector<std::string>& texts) {
  if (!table_is_empty()) {
    state.SkipWithError("the table of this process is no longer empty: run it first");
    return;
  }
  Usage total{0, 0};
  for (auto _ : state) {
    const FreshRun run = intern_in_child(texts);
    if (run.seconds < 0) {
      state.SkipWithError("the child process failed");
      return;
    }
    state.SetIterationTime(run.seconds);
    total.heap += run.perText.heap;
    total.resident += run.perText.resident;
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["heap_per_text"] = total.heap / iterations;
  state.counters["resident_per_text"] = total.resident / iterations;
}

void BM_InternOneHash(benchmark::State& state) { intern_fresh(state, one_hash_texts()); }

void BM_InternOrdinarySameLength(benchmark::State& state) { intern_fresh(state, ordinary_texts()); }

using AbslSet = absl::flat_hash_set<std::string>;
using StdSet = std::unordered_set<std::string>;

// Lookups of every present text, one whole pass of the table's and one of absl's in each
// iteration, in turns (see in_turns).
void BM_FindInTurns(benchmark::State& state) {
  intern_present();
  const AbslSet& set = present_set<AbslSet>();
  const auto& keys = present_keys();
  vesk::bench::in_turns(
      state, [&keys] { intern_all(keys); },
      [&keys, &set] {
        for (const std::string& key : keys)
          benchmark::DoNotOptimize(set.find(key) != set.end());
      });
}

// Each iteration interns one batch of new texts into the process-wide table, and inserts the
// same batch into an absl set that, like the table, already holds the present texts, the
// batches of BM_InsertTableString and every earlier batch of its own: in turns (see in_turns),
// as the machine's drift is larger than the difference. Growth falls into some batches only,
// and not into the same ones for the two containers, so the ratio is of the totals over the
// same batches.
void BM_InsertInTurns(benchmark::State& state) {
  intern_present();
  static AbslSet* const set = [] {
    auto* out = new AbslSet();
    for (std::string& text : identifiers(0))
      out->insert(std::move(text));
    for (const unsigned int batch : table_batches())
      for (std::string& text : identifiers(batch))
        out->insert(std::move(text));
    return out;
  }();
  static unsigned int batch = 300;
  std::vector<std::string> texts;
  vesk::bench::in_turns(
      state, [&texts] { intern_all(texts); },
      [&texts] {
        for (const std::string& text : texts)
          benchmark::DoNotOptimize(set->insert(text));
      },
      [&texts] { texts = identifiers(batch++); });
}

// Builds one container of kTexts texts in a child process and returns its bytes per text.
template <class Build>
Usage bytes_per_text(Build build) {
  return in_child(
      [&build] {
        const std::vector<std::string> texts = identifiers(1);
        const Usage before = usage();
        build(texts);
        const Usage after = usage();
        return Usage{(after.heap - before.heap) / kTexts,
                     (after.resident - before.resident) / kTexts};
      },
      Usage{0, 0});
}

// The heap and resident bytes per text of each container built of the same kTexts texts, each
// in a fresh child process: counters <container>_heap and <container>_resident (container
// TableString, absl or std). One iteration; its time is not a figure.
void BM_MemoryPerText(benchmark::State& state) {
  for (auto _ : state) {
    const Usage ours = bytes_per_text([](const std::vector<std::string>& texts) {
      for (const std::string& text : texts)
        vesk::TableString(text.data(), static_cast<unsigned int>(text.size()));
    });
    const Usage absl_set = bytes_per_text([](const std::vector<std::string>& texts) {
      auto* set = new AbslSet(texts.begin(), texts.end());
      benchmark::DoNotOptimize(set);
    });
    const Usage std_set = bytes_per_text([](const std::vector<std::string>& texts) {
      auto* set = new StdSet(texts.begin(), texts.end());
      benchmark::DoNotOptimize(set);
    });
    state.SetIterationTime(1e-9);
    for (const auto& [name, usage] : {std::pair<const char*, Usage>{"TableString", ours},
                                      {"absl", absl_set},
                                      {"std", std_set}}) {
      state.counters[std::string(name) + "_heap"] = usage.heap;
      state.counters[std::string(name) + "_resident"] = usage.resident;
    }
  }
}

// ----- the curves: 10^4 to 10^7 texts -----------------------------------------------------------

struct CurvePoint {
  double new_ns;  // CPU time per text of the building
  double hit_ns;  // CPU time per lookup of a present text, the key a separate copy
  double heap_bytes;  // heap in use per text
};

constexpr std::size_t kHitPasses = 3;

// In a fresh child process: the first `count` of `texts` put into an empty container one by one
// (`add`), then each looked up in shuffled order through a separate copy (`find`), in
// kHitPasses passes.
template <class Add, class Find>
CurvePoint curve_point(const std::vector<std::string>& texts, std::size_t count, Add add,
                       Find find) {
  return in_child(
      [&] {
        std::vector<std::string> keys(texts.begin(), texts.begin() + static_cast<long>(count));
        std::shuffle(keys.begin(), keys.end(), std::mt19937_64(7));
        const Usage before = usage();
        const double start = process_seconds() * 1e9;
        for (std::size_t i = 0; i < count; ++i)
          add(texts[i]);
        const double built = process_seconds() * 1e9;
        const Usage after = usage();
        // The hit time is the median of three passes: one pass over a small container is
        // short enough for a passing disturbance of the machine to double it.
        std::size_t found = 0;
        std::array<double, kHitPasses> passes{};
        for (double& pass : passes) {
          found = 0;
          const double lookup = process_seconds() * 1e9;
          for (const std::string& key : keys)
            found += find(key) ? 1 : 0;
          pass = process_seconds() * 1e9 - lookup;
        }
        std::sort(passes.begin(), passes.end());
        const auto n = static_cast<double>(count);
        return CurvePoint{(built - start) / n, passes[kHitPasses / 2] / n,
                          found == count ? (after.heap - before.heap) / n : -1};
      },
      CurvePoint{0, 0, 0});
}

// The median of each figure over the points of several children.
CurvePoint median_of(const std::vector<CurvePoint>& points) {
  std::vector<double> new_ns, hit_ns, heap;
  for (const CurvePoint& point : points) {
    new_ns.push_back(point.new_ns);
    hit_ns.push_back(point.hit_ns);
    heap.push_back(point.heap_bytes);
  }
  const auto middle = [](std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  return {middle(new_ns), middle(hit_ns), middle(heap)};
}

// curve_point for a peer set, made in the child on its first text and never released.
template <class Set>
CurvePoint set_point(const std::vector<std::string>& texts, std::size_t count) {
  Set* set = nullptr;
  return curve_point(
      texts, count,
      [&set](const std::string& text) {
        if (set == nullptr)
          set = new Set();
        set->insert(text);
      },
      [&set](const std::string& key) { return set->find(key) != set->end(); });
}

CurvePoint table_point(const std::vector<std::string>& texts, std::size_t count) {
  return curve_point(
      texts, count,
      [](const std::string& text) {
        vesk::TableString handle(text.data(), static_cast<unsigned int>(text.size()));
        benchmark::DoNotOptimize(handle);
      },
      [](const std::string& key) {
        vesk::TableString handle(key.data(), static_cast<unsigned int>(key.size()));
        benchmark::DoNotOptimize(handle);
        return true;
      });
}

// One point of each curve per size (the argument): counters <container>_new_ns, _hit_ns and
// _heap (container TableString, absl or std). The containers take turns, one child each per
// round, so that the machine's drift between rounds (its memory speed swings over minutes)
// falls on all of them alike; small sizes are quick and noisy: the median of five rounds,
// three at 10^6, 10^7 once. The iteration's time is the table's building.
void BM_InterningCurve(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  static const std::vector<std::string> texts = identifiers(
      2, static_cast<std::size_t>(vesk::bench::decades(10000, 10000000, 100000).back()));
  for (auto _ : state) {
    const int runs = count >= 10000000 ? 1 : count >= 1000000 ? 3 : 5;
    std::vector<CurvePoint> ours, absl_set, std_set;
    for (int run = 0; run < runs; ++run) {
      ours.push_back(table_point(texts, count));
      absl_set.push_back(set_point<AbslSet>(texts, count));
      std_set.push_back(set_point<StdSet>(texts, count));
    }
    const CurvePoint table = median_of(ours);
    state.SetIterationTime(table.new_ns * static_cast<double>(count) * 1e-9);
    for (const auto& [name, points] :
         {std::pair<const char*, const std::vector<CurvePoint>*>{"TableString", &ours},
          {"absl", &absl_set},
          {"std", &std_set}}) {
      const CurvePoint p = median_of(*points);
      state.counters[std::string(name) + "_new_ns"] = p.new_ns;
      state.counters[std::string(name) + "_hit_ns"] = p.hit_ns;
      state.counters[std::string(name) + "_heap"] = p.heap_bytes;
    }
  }
}

// ----- texts of one length in turns: 10^4 to 10^7 texts ----------------------------------------

// Lookups in each turn of BM_FixedLengthInTurns, of each container: passes over at most this
// many present texts, each a separate copy, shuffled.
constexpr std::size_t kLookupsPerTurn = 500000;
// Turns of each container per point: enough for quartiles of their ratios.
constexpr int kFixedLengthTurns = 21;

// Lookups in each turn of chained lookups (see fixed_length_point), of each container.
constexpr std::size_t kChainedLookups = 100000;

// The figures of the turns of one point, and the lookups of each container in a turn; those
// of its turns of chained lookups.
struct FixedLengthPoint {
  vesk::bench::TurnFigures figures;
  std::size_t lookups;
  vesk::bench::TurnFigures chained;
};

// In a fresh child process: `count` distinct identifiers of `length` bytes interned into the
// table and inserted into an absl set, then lookups of present texts in turns; zero turns
// when a lookup failed, or the child did.
FixedLengthPoint fixed_length_point(int length, std::size_t count) {
  const FixedLengthPoint failed{{0, 0, 0, 0, 0, 0, 0, 0}, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
  return in_child(
      [length, count, failed] {
        std::vector<std::string> texts =
            identifiers(600 + static_cast<unsigned int>(length), count, length, length);
        intern_all(texts);
        AbslSet set;
        for (const std::string& text : texts)
          set.insert(text);
        // Every count/kLookupsPerTurn-th text, copied: at 10^7 texts a turn still reaches
        // every part of both containers, and takes a fraction of a second.
        const std::size_t step = std::max<std::size_t>(1, count / kLookupsPerTurn);
        std::vector<std::string> keys;
        for (std::size_t i = 0; i < count; i += step)
          keys.emplace_back(texts[i].data(), texts[i].size());
        std::vector<std::string>().swap(texts);
        std::shuffle(keys.begin(), keys.end(), std::mt19937_64(7));
        const std::size_t passes = std::max<std::size_t>(1, kLookupsPerTurn / keys.size());
        const std::size_t records = vesk::TableString::count();
        std::size_t peer_found = 0;
        const auto ours = [&keys, passes] {
          for (std::size_t pass = 0; pass < passes; ++pass)
            intern_all(keys);
        };
        const auto peer = [&keys, &set, &peer_found, passes] {
          for (std::size_t pass = 0; pass < passes; ++pass)
            for (const std::string& key : keys)
              peer_found += set.find(key) != set.end() ? 1 : 0;
        };
        // One turn of each, untimed, so that the first timed turn does not fault in pages.
        ours();
        peer();
        const vesk::bench::TurnFigures figures =
            vesk::bench::take_turns(kFixedLengthTurns, ours, peer);
        const std::size_t lookups = passes * keys.size();
        // Chained lookups: each text is picked by what the lookup before found (its size less
        // the key's, always 0), so that no two lookups overlap and a turn takes the time of
        // one hit's whole chain of memory accesses, times kChainedLookups.
        std::size_t ended_at = 0;
        const auto ours_chained = [&keys, &ended_at] {
          std::size_t at = 0;
          for (std::size_t k = 0; k < kChainedLookups; ++k) {
            const std::string& key = keys[at];
            const vesk::TableString found(key.data(), static_cast<unsigned int>(key.size()));
            at += found.size() - key.size() + 1;
            at = at == keys.size() ? 0 : at;
          }
          ended_at += at;
        };
        const auto peer_chained = [&keys, &set, &ended_at] {
          std::size_t at = 0;
          for (std::size_t k = 0; k < kChainedLookups; ++k) {
            const std::string& key = keys[at];
            at += set.find(key)->size() - key.size() + 1;
            at = at == keys.size() ? 0 : at;
          }
          ended_at += at;
        };
        const vesk::bench::TurnFigures chained =
            vesk::bench::take_turns(kFixedLengthTurns, ours_chained, peer_chained);
        benchmark::DoNotOptimize(ended_at);
        if (vesk::TableString::count() != records ||
            peer_found != lookups * (kFixedLengthTurns + 1))
          return failed;
        return FixedLengthPoint{figures, lookups, chained};
      },
      failed);
}

// Lookups of present texts of one length (the first argument, in bytes) in a table and an
// absl set of as many texts (the second), each built in a fresh child process; the two take
// kFixedLengthTurns turns, ours first in each (see take_turns). Counters: ours_ns and
// peer_ns, the time per lookup of the median turn of each; per_peer, the median of the turns'
// ratios of our time over absl's; ratio_q1, ratio_q3, ratio_min and ratio_max, their spread;
// ours_chained_ns, peer_chained_ns and chained_per_peer, the same of turns of chained lookups,
// each waiting for the one before. The iteration's time is our median turn.
void BM_FixedLengthInTurns(benchmark::State& state) {
  if (!table_is_empty()) {
    state.SkipWithError("the table of this process is no longer empty: run it first");
    return;
  }
  const auto length = static_cast<int>(state.range(0));
  const auto count = static_cast<std::size_t>(state.range(1));
  for (auto _ : state) {
    const FixedLengthPoint point = fixed_length_point(length, count);
    const vesk::bench::TurnFigures& figures = point.figures;
    if (figures.turns == 0) {
      state.SkipWithError("the child process failed");
      return;
    }
    state.SetIterationTime(figures.ours_median);
    const double per_lookup = 1e9 / static_cast<double>(point.lookups);
    state.counters["ours_ns"] = figures.ours_median * per_lookup;
    state.counters["peer_ns"] = figures.peer_median * per_lookup;
    state.counters["per_peer"] = figures.ratio_median;
    state.counters["ratio_q1"] = figures.ratio_q1;
    state.counters["ratio_q3"] = figures.ratio_q3;
    state.counters["ratio_min"] = figures.ratio_min;
    state.counters["ratio_max"] = figures.ratio_max;
    const double per_chained = 1e9 / static_cast<double>(kChainedLookups);
    state.counters["ours_chained_ns"] = point.chained.ours_median * per_chained;
    state.counters["peer_chained_ns"] = point.chained.peer_median * per_chained;
    state.counters["chained_per_peer"] = point.chained.ratio_median;
  }
}

// The lengths either side of std::string's 15-byte inline buffer, and the numbers of texts.
constexpr std::array<int, 4> kFixedLengths = {12, 15, 18, 30};

std::vector<std::int64_t> fixed_length_counts() {
  if (vesk::bench::quick_run())
    return {10000};
  return {10000, 1000000, 10000000};
}

// First, while the process has interned nothing: each child starts with an empty table. One
// repetition each, whatever the run asks: the curves take their medians themselves.
BENCHMARK(BM_MemoryPerText)->UseManualTime()->Iterations(1)->Repetitions(1);
BENCHMARK(BM_InterningCurve)
    ->Apply([](benchmark::internal::Benchmark* b) {
      for (const std::int64_t size : vesk::bench::decades(10000, 10000000, 100000))
        b->Arg(size);
    })
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FixedLengthInTurns)
    ->Apply([](benchmark::internal::Benchmark* b) {
      for (const int length : kFixedLengths)
        for (const std::int64_t count : fixed_length_counts())
          b->Args({length, count});
    })
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);
// Still before anything is interned in this process, then the rest.
BENCHMARK(BM_InternOneHash)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InternOrdinarySameLength)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindTableString);
BENCHMARK_TEMPLATE(BM_FindPeer, AbslSet);
BENCHMARK_TEMPLATE(BM_FindPeer, StdSet);
BENCHMARK(BM_FindInTurns)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertTableString)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_InsertPeer, AbslSet)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_InsertPeer, StdSet)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertInTurns)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  const std::string present = "`TableString` of a present text";
  const std::string fresh = "`TableString` of 1,000,000 new texts";
  const std::string absl_find = "`absl::flat_hash_set<std::string>::find`";
  const std::string absl_insert = "`absl::flat_hash_set<std::string>::insert`";
  report::table(
      "Interning against absl",
      "1,000,000 distinct identifiers of 8 to 16 bytes; a lookup key is a separate copy "
      "of the text. The table already holds the present texts and every earlier batch "
      "when a batch is interned; the growing absl set holds the same texts, the other "
      "sets start empty. A set that grows rehashes in some batches only, so the ratio of "
      "the means is shown beside the medians'. Where a new text's time goes, from "
      "processor-time samples of 10^6 new texts interned into a table of 2 x 10^6 (a "
      "batch in which neither container grows: about 200 ns per text, absl's insert 108 "
      "ns): 42 % the probe of the first group, which waits for a line of the index (32 "
      "MiB of it); 18 % later groups, for texts whose first group is full; 15 % the "
      "host's calloc of arena blocks, which first sorts the heap's free chunks that "
      "making the batch left; 20 % the insertion under the lock, over a quarter of it waiting "
      "for the bucket's count, which the growth rule must read. absl's insert of a "
      "short text waits for no memory it cannot find in the caches: its probe reads "
      "control bytes, one per slot (4 MiB at this size), and the slot it fills is a "
      "store, which the processor does not wait for. Control bytes apart from the "
      "record addresses, tried, cut the time per new text by a fifth and made each hit "
      "read one line more, 7 % slower at 12 bytes and 10 to 15 % at 30: not taken, as hits "
      "are most of interning. This machine is a virtual one whose host backs a page only "
      "when the guest first writes it, and again after the guest has freed it: a fresh "
      "huge page is cleared at 0.4 to 1.4 GB/s, one the guest recycles at 8 GB/s, so the "
      "doublings of the index and new arena blocks, which take fresh huge pages, make the "
      "figures of new texts swing by a fifth from run to run.");
  report::compare({present, "BM_FindTableString"}, {absl_find, "BM_FindPeer<AbslSet>"},
                  {"`absl::flat_hash_set::find`", "", true});
  // The table's and absl's passes over every present text take turns within each iteration.
  report::compare_in_turns("`TableString` of every present text, whole passes in turns with absl's",
                           "BM_FindInTurns", absl_find + ", in the same iterations",
                           {"`absl::flat_hash_set::find`, passes in turns"});
  report::compare({present, "BM_FindTableString"},
                  {"`std::unordered_set<std::string>::find`", "BM_FindPeer<StdSet>"},
                  {"", "", true});
  report::compare({fresh, "BM_InsertTableString"}, {absl_insert, "BM_InsertPeer<AbslSet>"},
                  {"`absl::flat_hash_set::insert`, new set", "", true});
  // Of the totals: a growth of either container falls into some batches only.
  report::compare_in_turns(fresh + ", batches in turns with absl's", "BM_InsertInTurns",
                           absl_insert +
                               " into a set already holding earlier texts, in the "
                               "same iterations",
                           {"`absl::flat_hash_set::insert`, set already holding earlier texts "
                            "(ratio of means)",
                            "", true, true});
  report::compare({fresh, "BM_InsertTableString"},
                  {"`std::unordered_set<std::string>::insert`", "BM_InsertPeer<StdSet>"},
                  {"", "", true});

  const std::string flood = "300,000 texts of one hash";
  const std::string plain = "300,000 ordinary texts";
  report::table("Interning texts of one hash",
                "300,000 texts of 12 bytes that all have one CRC-32 (the host hash), as an input "
                "can make them, against 300,000 ordinary identifiers of 12 bytes; each set is "
                "interned into a fresh table in a child process, whose processor time is shown. "
                "The bucket count stays bounded, and lookups go through an index keyed by a "
                "secret, whatever the hashes. Heap bytes count mapped arrays whole; the resident "
                "bytes count only the pages in use.");
  report::compare({"`TableString` of " + flood, "BM_InternOneHash"},
                  {plain, "BM_InternOrdinarySameLength"}, {plain});
  for (const auto& [counter, words] : {std::pair{"resident_per_text", ", resident bytes per text"},
                                       {"heap_per_text", ", heap bytes per text"}})
    report::compare({flood + words, "BM_InternOneHash", counter},
                    {plain + words, "BM_InternOrdinarySameLength", counter});

  report::table("Memory per interned text",
                "Each container built of the same 1,000,000 texts in a fresh child process; heap "
                "bytes in use and resident bytes, per text.");
  for (const char* kind : {"heap", "resident"}) {
    const std::string bytes = std::string(", ") + kind + " bytes per text";
    const std::string counter = std::string("_") + kind;
    report::compare(
        {"`TableString`" + bytes, "BM_MemoryPerText", "TableString" + counter},
        {"`absl::flat_hash_set<std::string>`" + bytes, "BM_MemoryPerText", "absl" + counter},
        {std::string(kind) == "heap" ? "`absl::flat_hash_set<std::string>`" : ""});
    report::compare(
        {"`TableString`" + bytes, "BM_MemoryPerText", "TableString" + counter},
        {"`std::unordered_set<std::string>`" + bytes, "BM_MemoryPerText", "std" + counter});
  }

  const auto containers = [](const char* figure) {
    return std::vector<report::Series>{
        {"TableString", "BM_InterningCurve", std::string("TableString_") + figure},
        {"absl::flat_hash_set", "BM_InterningCurve", std::string("absl_") + figure, true},
        {"std::unordered_set", "BM_InterningCurve", std::string("std_") + figure, true}};
  };
  report::curve(
      "Interning, 10^4 to 10^7 texts",
      "Identifiers of 8 to 16 bytes, each container built from empty in a fresh child process "
      "and each text then looked up through a separate copy in shuffled order, in three passes "
      "of which the median counts; CPU time per text and heap in use per text (medians of five "
      "children up to 10^5 texts, of three at 10^6, one at 10^7; the containers take turns, one "
      "child each).",
      "interning.png",
      {{"Interning a new text", "distinct texts", "CPU time per new text", "counter", true,
        containers("new_ns")},
       {"Looking up a present text", "distinct texts", "CPU time per hit", "counter", true,
        containers("hit_ns")},
       {"Memory", "distinct texts", "heap bytes per text", "counter", false, containers("heap")}});
  for (const auto& [texts, count] : {std::pair{"1000000", "10^6"}, {"10000000", "10^7"}}) {
    const std::string benchmark = std::string("BM_InterningCurve/") + texts;
    report::summarise({std::string("`TableString` lookup of a present text, ") + count + " texts",
                       benchmark, "TableString_hit_ns"},
                      {"`absl::flat_hash_set::find`", benchmark, "absl_hit_ns"});
  }

  report::table(
      "Looking up texts of one length, in turns with absl",
      "Distinct identifiers of 12, 15, 18 or 30 bytes (either side of std::string's 15-byte "
      "inline buffer), 10^4, 10^6 or 10^7 of them, interned into a table and inserted into an "
      "absl set in a fresh child process per row; then 21 turns, each of 500,000 lookups of "
      "present texts in the table and then as many in the set (passes over separate copies "
      "of up to 500,000 of them, shuffled), so that each container runs after the other, never "
      "after itself, which would find more of its memory in the processor's last cache. The "
      "figures are the time per lookup of each container's "
      "median turn; the ratio is the median of the 21 turns' ratios, whose quartiles and "
      "extremes the program prints (counters ratio_q1, ratio_q3, ratio_min, ratio_max).",
      "`TableString` of a present text of one length, 12 to 30 bytes, 10^4 to 10^7 texts",
      "`absl::flat_hash_set::find`, in turns");
  const auto each_point = [](auto row) {
    for (const int length : kFixedLengths) {
      for (const std::int64_t count : fixed_length_counts()) {
        const std::string texts = count == 10000 ? "10^4" : count == 1000000 ? "10^6" : "10^7";
        row("BM_FixedLengthInTurns/" + std::to_string(length) + "/" + std::to_string(count),
            "`TableString` of a present text of " + std::to_string(length) + " bytes, " + texts +
                " texts");
      }
    }
  };
  each_point([&absl_find](const std::string& benchmark, const std::string& what) {
    report::Options in_turns;
    in_turns.ratio = "per_peer";
    report::compare({what, benchmark, "ours_ns"},
                    {absl_find + ", in the same turns", benchmark, "peer_ns"}, in_turns);
  });

  report::table(
      "Looking up texts of one length, one lookup at a time",
      "The same tables and sets, after the turns above: 21 more turns of 100,000 lookups each, "
      "in which each lookup's text is picked by what the one before found, so that no two "
      "overlap and the time is that of a hit's whole chain of dependent memory accesses. Both "
      "containers make two: absl reads a group of control bytes (one byte per slot: 2 MiB at "
      "10^6 texts, much of which stays in the processor's caches) and then the slot that holds "
      "the std::string; the table reads a group of its index (a record's address and a control "
      "byte, 9 bytes per slot: 16 MiB at 10^6 texts) and then the record. A record cannot lie "
      "in the index as absl's string lies in its slot, for records never move and the index "
      "moves its slots when it doubles; so a hit of a short text cannot do with less than two "
      "misses, and this chain is its floor. A figure above divided into the one here gives how "
      "many lookups the container keeps in flight at once; the fewer instructions a hit runs, "
      "the more.");
  each_point([&absl_find](const std::string& benchmark, const std::string& what) {
    report::Options in_turns;
    in_turns.ratio = "chained_per_peer";
    report::compare({what + ", chained", benchmark, "ours_chained_ns"},
                    {absl_find + ", chained, in the same turns", benchmark, "peer_chained_ns"},
                    in_turns);
  });
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
