// What the benchmark programs share: inputs that are the same on every run, the timing of ours
// and a peer in turns, work in a child process, the sizes of the curves, and the main that
// declares what the report shows.
#ifndef VESK_BENCH_BENCH_SUPPORT_HPP
#define VESK_BENCH_BENCH_SUPPORT_HPP

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vesk::bench {

/// `size` pseudo-random bytes, the same on every run.
inline std::vector<unsigned char> random_bytes(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  std::mt19937_64 generator(42);
  for (auto& byte : bytes)
    byte = static_cast<unsigned char>(generator());
  return bytes;
}

/// The processor time, in seconds, that the host of this virtual machine has taken from its
/// processors since they started, all of them together: the steal column of /proc/stat, whole
/// ticks of the system's clock. 0 where the system does not tell.
inline double stolen_seconds() {
  std::ifstream stat("/proc/stat");
  std::string cpu;
  stat >> cpu;
  unsigned long long times[8] = {};
  for (unsigned long long& time : times)
    stat >> time;
  const long ticks = sysconf(_SC_CLK_TCK);
  return stat && ticks > 0 ? static_cast<double>(times[7]) / static_cast<double>(ticks) : 0;
}

/// Turns of ours and a peer on more than one thread, each made again while the host of this
/// virtual machine takes the processors during it. Such a turn times the host's other work:
/// a thread that waits for its processor holds up the threads it works with, and this host
/// took from 0 to over a third of the processors' time from one second to the next. A turn
/// is quiet when the host took at most 2 % of its time on the clock, or a tick of the
/// system's clock (which is what the host's time is counted in). Both sides are made again
/// together, so a ratio is always of two runs side by side; whether a turn is made again
/// depends on the host alone, not on either side's time. Counters (see report): retried, the
/// turns made again per iteration; stolen_pct, what the host took during the turns kept, in
/// percent of their time.
class QuietTurns {
public:
  /// The most times one turn is made: the last is kept however the host disturbed it.
  static constexpr int kMostTries = 8;

  /// Runs `turn()` until it is quiet or has run kMostTries times; returns what the last run
  /// returned.
  template <class Turn>
  auto run(Turn turn) {
    using Clock = std::chrono::steady_clock;
    const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    for (int tries = 1;; ++tries) {
      const double stolen_before = stolen_seconds();
      const Clock::time_point start = Clock::now();
      auto result = turn();
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      const double stolen = stolen_seconds() - stolen_before;
      if (stolen <= std::max(0.02 * seconds, tick) || tries == kMostTries) {
        mSeconds += seconds;
        mStolen += stolen;
        return result;
      }
      ++mRetried;
    }
  }
  /// Sets the counters retried and stolen_pct of `state`.
  void report(benchmark::State& state) const {
    const double iterations = static_cast<double>(state.iterations());
    state.counters["retried"] = iterations > 0 ? mRetried / iterations : 0;
    state.counters["stolen_pct"] = mSeconds > 0 ? 100 * mStolen / mSeconds : 0;
  }

private:
  double mRetried = 0;
  double mSeconds = 0;
  double mStolen = 0;
};

/// Runs `ours` and `peer` once in every iteration of `state`, taking turns at going first, so
/// that the machine's drift (its memory speed swings over minutes here) falls on both alike.
/// `prepare`, untimed, makes each turn's input first. The iteration's time is ours
/// (register the benchmark with UseManualTime); counter per_peer is our time over the peer's
/// in the same iterations, and counter peer_ns the peer's time per iteration in nanoseconds.
/// With `quiet`, each turn is one of its quiet turns (see QuietTurns). Returns the peer's
/// total, in seconds.
template <class Ours, class Peer, class Prepare>
double in_turns(benchmark::State& state, Ours ours, Peer peer, Prepare prepare,
                QuietTurns* quiet = nullptr) {
  using Clock = std::chrono::steady_clock;
  const auto timed = [](auto& run) {
    const Clock::time_point start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  struct Times {
    double ours;
    double peer;
  };
  double ours_total = 0;
  double peer_total = 0;
  bool ours_first = true;
  for (auto _ : state) {
    const auto turn = [&] {
      prepare();
      Times times{0, 0};
      if (ours_first) {
        times.ours = timed(ours);
        times.peer = timed(peer);
      } else {
        times.peer = timed(peer);
        times.ours = timed(ours);
      }
      return times;
    };
    const Times times = quiet != nullptr ? quiet->run(turn) : turn();
    ours_first = !ours_first;
    ours_total += times.ours;
    peer_total += times.peer;
    state.SetIterationTime(times.ours);
  }
  if (quiet != nullptr)
    quiet->report(state);
  state.counters["per_peer"] = peer_total > 0 ? ours_total / peer_total : 0;
  state.counters["peer_ns"] =
      state.iterations() > 0 ? peer_total * 1e9 / static_cast<double>(state.iterations()) : 0;
  return peer_total;
}

/// in_turns with nothing to prepare.
template <class Ours, class Peer>
double in_turns(benchmark::State& state, Ours ours, Peer peer) {
  return in_turns(state, ours, peer, [] {});
}

/// What `turns` in turns of ours and a peer gave (see take_turns): the median time of a turn of
/// each, in seconds, and the ratios of ours' time over the peer's turn by turn: their median,
/// quartiles and extremes.
struct TurnFigures {
  double ours_median;
  double peer_median;
  double ratio_median;
  double ratio_q1;
  double ratio_q3;
  double ratio_min;
  double ratio_max;
  int turns;
};

/// Runs `ours` and then `peer`, `turns` times, for work that cannot run under a
/// benchmark::State (in a child process of its own, say). Unlike in_turns, ours always goes
/// first, so that each runs right after the other and never after itself: where either's
/// memory fits the processor's last cache but not both (a container of 10^6 texts here), the
/// one that ran last finds its memory there, and with the order alternating the ratios fall
/// into two groups, ours' turns after itself and the peer's (0.66 and 1.28 at 10^6 texts).
template <class Ours, class Peer>
TurnFigures take_turns(int turns, Ours ours, Peer peer) {
  using Clock = std::chrono::steady_clock;
  const auto timed = [](auto& run) {
    const Clock::time_point start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  std::vector<double> ours_times, peer_times, ratios;
  for (int turn = 0; turn < turns; ++turn) {
    const double ours_time = timed(ours);
    const double peer_time = timed(peer);
    ours_times.push_back(ours_time);
    peer_times.push_back(peer_time);
    ratios.push_back(peer_time > 0 ? ours_time / peer_time : 0);
  }
  if (turns <= 0)
    return TurnFigures{0, 0, 0, 0, 0, 0, 0, 0};
  for (auto* values : {&ours_times, &peer_times, &ratios})
    std::sort(values->begin(), values->end());
  const auto at = [turns](const std::vector<double>& sorted, int quarters) {
    return sorted[static_cast<std::size_t>(quarters * (turns - 1) / 4)];
  };
  return TurnFigures{at(ours_times, 2), at(peer_times, 2), at(ratios, 2), at(ratios, 1),
                     at(ratios, 3),     ratios.front(),    ratios.back(), turns};
}

/// Runs `work` in a child process forked from this one, which starts with a copy of everything
/// this process holds (the process-wide interning table included) and leaves it unchanged, and
/// returns what `work` returned (plain bytes, sent back through a pipe), or `failed` when the
/// child did not finish. Fork only while this process runs no other thread.
template <class Result, class Work>
Result in_child(Work work, Result failed) {
  int channel[2];
  if (pipe(channel) != 0)
    return failed;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    Result result = failed;
    try {
      result = work();
    } catch (...) {
    }
    const ssize_t written = write(channel[1], &result, sizeof result);
    _exit(written == static_cast<ssize_t>(sizeof result) ? 0 : 1);
  }
  close(channel[1]);
  Result result = failed;
  if (child < 0 || read(channel[0], &result, sizeof result) != static_cast<ssize_t>(sizeof result))
    result = failed;
  close(channel[0]);
  if (child > 0)
    waitpid(child, nullptr, 0);
  return result;
}

/// In a child of in_child: makes this process's own copy now of every page it still shares
/// with its parent and may write (MADV_POPULATE_WRITE over each private writable mapping), so
/// that work timed after it pays for its own writes and not for the fork's copies on first
/// write, each of which, on more than one thread, also interrupts the other threads to flush
/// their address translations. Where the system cannot, the pages are copied as written.
inline void copy_shared_pages() {
#ifdef MADV_POPULATE_WRITE
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range;
    std::string permissions;
    fields >> range >> permissions;
    if (permissions != "rw-p")
      continue;
    const std::size_t dash = range.find('-');
    const std::uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
    const std::uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
    madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
  }
#endif
}

/// The first `size` bytes of one process-wide pseudo-random buffer, for the sizes of the
/// curves (up to 1 GiB): made once at the largest size asked for yet, so that the benchmarks
/// of one size after another do not spend their time making inputs. The pointer stays valid
/// until a larger size is asked for.
inline const unsigned char* shared_random_bytes(std::size_t size) {
  static std::vector<unsigned char> bytes;
  if (bytes.size() < size) {
    bytes.assign(size, 0);
    std::mt19937_64 generator(42);
    for (std::size_t i = 0; i < size; i += 8) {
      const std::uint64_t word = generator();
      for (std::size_t k = 0; k < 8 && i + k < size; ++k)
        bytes[i + k] = static_cast<unsigned char>(word >> (8 * k));
    }
  }
  return bytes.data();
}

/// The minimum time of one repetition at each size of a curve, in seconds. The curves have
/// dozens of sizes each, and a short time is enough at every one: a call at the small sizes
/// takes nanoseconds to microseconds, so even 0.05 s repeats it thousands of times, and at the
/// large ones one call outlasts it anyway.
inline constexpr double kCurveMinTime = 0.05;

/// True when VESK_BENCH_QUICK is set (to anything but 0): the curves stop at small sizes, so
/// that the whole run can be tried in a minute or two.
inline bool quick_run() {
  const char* quick = std::getenv("VESK_BENCH_QUICK");
  return quick != nullptr && *quick != '\0' && *quick != '0';
}

/// 1, 10, 100, ... up to `largest`, or up to `quick_largest` in a quick run.
inline std::vector<std::int64_t> decades(std::int64_t smallest, std::int64_t largest,
                                         std::int64_t quick_largest) {
  std::vector<std::int64_t> sizes;
  const std::int64_t last = quick_run() ? quick_largest : largest;
  for (std::int64_t n = smallest; n <= last; n *= 10)
    sizes.push_back(n);
  return sizes;
}

namespace detail {

// Whether the command line asks Google Benchmark for the list of benchmarks (set by run_main).
inline bool& listing_asked() {
  static bool asked = false;
  return asked;
}

}  // namespace detail

/// The names of the benchmarks that the program's --benchmark_filter selects, as Google
/// Benchmark lists them (with the suffixes of their settings), by its own matching: a listing
/// pass (--benchmark_list_tests) written into a string. Empty when the caller asked for the
/// listing itself. Call after benchmark::Initialize; what it makes ahead of the selected
/// benchmarks then stays exactly in step with what runs.
inline std::vector<std::string> selected_benchmarks(char** argv) {
  if (detail::listing_asked())
    return {};
  std::string flag = "--benchmark_list_tests=true";
  const auto set_listing = [&flag, argv] {
    char* arguments[] = {argv[0], flag.data(), nullptr};
    int count = 2;
    benchmark::Initialize(&count, arguments);
  };
  set_listing();
  std::ostringstream listed;
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&listed);
  reporter.SetErrorStream(&listed);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  flag = "--benchmark_list_tests=false";
  set_listing();
  std::vector<std::string> names;
  std::istringstream lines(listed.str());
  for (std::string line; std::getline(lines, line);)
    names.push_back(line);
  return names;
}

/// Google Benchmark's main, with `prepare` run once the arguments are read and before the first
/// benchmark: what a program reports, registers or makes ahead of its benchmarks.
/// `prepare` takes no arguments, or the arguments left after Google Benchmark's.
template <class Prepare>
int run_main(int argc, char** argv, Prepare prepare) {
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]).rfind("--benchmark_list_tests", 0) == 0)
      detail::listing_asked() = true;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  if constexpr (std::is_invocable_v<Prepare, int, char**>)
    prepare(argc, argv);
  else
    prepare();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace vesk::bench

#endif
