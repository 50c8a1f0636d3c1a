// What a benchmark program tells bench/report.py to show: its tables of ours against a peer, the
// lines of the summary, its curves and its models, written into the context of Google
// Benchmark's JSON output.
// A comparison is declared here once, beside the benchmarks it pairs; the report names none.
#ifndef VESK_BENCH_REPORT_CONTEXT_HPP
#define VESK_BENCH_REPORT_CONTEXT_HPP

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vesk::bench::report {

/// One side of a comparison: `what` is the page's words for it; `benchmark` the run's name as
/// the JSON output gives it without the suffixes of its settings ("BM_HostHash/64"); the figure
/// is the benchmark's median time, or the median of its counter `counter` when that is set. A
/// counter whose name ends in "_ns" is a time in nanoseconds.
struct Figure {
  std::string what;
  std::string benchmark;
  std::string counter = {};
};

/// How a row's ratio is taken, and where else it shows.
struct Options {
  /// The page's words for the peer in the README's summary; empty: the row is not summarised.
  std::string summary = {};
  /// A counter of ours' benchmark that is the ratio itself (per_peer of in_turns); empty: the
  /// ratio of the two figures.
  std::string ratio = {};
  /// Also shows the ratio of the means, for costs (a container's growth) that fall into some
  /// repetitions only and that the medians leave out.
  bool means = false;
  /// The summary shows the ratio of the means rather than the row's ratio.
  bool summarise_means = false;
};

/// One series of a curve: the runs of `family` with one more argument, the curve's x ("BM_Md5"
/// for "BM_Md5/16"), or the counter `counter` of the runs. The library's series are compared
/// with each peer's (`peer` set) in the curve's table.
struct Series {
  std::string label;
  std::string family;
  std::string counter = {};
  bool peer = false;
};

/// What a curve draws of each run: the x over the time, per second ("rate": bytes per second
/// where x is a size); the time per x ("time_per_x"); or the series' counter ("counter", a time
/// when its name ends in "_ns").
struct Panel {
  std::string title;
  std::string x_label;
  std::string y_label;
  std::string measure;
  bool y_log = true;
  std::vector<Series> series;
};

/// The measured inputs of a model of a table whose lookups take no lock and whose insertions
/// take one of `regions` locks, or rarely all of them, past the threads a machine has (see
/// lock_model). Each figure is a time per operation in nanoseconds, as counters of the
/// benchmarks name them.
struct LockModelInputs {
  /// An operation that takes no lock (finding a present text) on one thread, and the same
  /// operations on two threads: the time on the clock per operation, both threads together.
  Figure hit;
  Figure hit_two_threads;
  /// An operation that takes the lock (interning a new text) on one thread, and on two.
  Figure insert;
  Figure insert_two_threads;
  /// The parts of an insertion that run without the lock, each measured alone; the lock is
  /// held for the rest of `insert`.
  std::vector<Figure> outside_lock;
  /// A mix of both on one thread and on two, `mix_share` of its operations insertions: the
  /// model's prediction for two threads is checked against it.
  double mix_share;
  Figure mix;
  Figure mix_two_threads;
  /// The locks an insertion takes one of, each as likely: the table's regions. 1 is a single
  /// lock.
  int regions = 1;
  /// The time per insertion that one thread holds every lock at once, measured; empty: it is
  /// derived from `insert_two_threads`. The threads waiting meanwhile share that work, up to
  /// `every_lock_sharers` of them in all.
  Figure every_lock = {};
  int every_lock_sharers = 1;
};

namespace detail {

inline std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + '"';
}

inline std::string field(const char* key, const std::string& value) {
  return quoted(key) + ":" + quoted(value);
}

inline std::string figure(const Figure& f) {
  return "{" + field("what", f.what) + "," + field("benchmark", f.benchmark) + "," +
         field("counter", f.counter) + "}";
}

// Adds one declaration, in order: the context is a sorted map, so the keys are numbered.
inline void declare(const std::string& json) {
  static int next = 0;
  char key[32];
  std::snprintf(key, sizeof key, "vesk.report.%04d", next++);
  benchmark::AddCustomContext(key, json);
}

}  // namespace detail

/// Starts a table with its title and a note on how its figures were measured; the rows
/// declared next belong to it. With `summary_what`, the summary shows the median of the
/// table's ratios (and their range) as `summary_what` against `summary_peer`.
inline void table(const std::string& title, const std::string& note,
                  const std::string& summary_what = {}, const std::string& summary_peer = {}) {
  detail::declare("{" + detail::field("kind", "table") + "," + detail::field("title", title) + "," +
                  detail::field("note", note) + "," + detail::field("summary_what", summary_what) +
                  "," + detail::field("summary_peer", summary_peer) + "}");
}

/// A row of the table declared last: `ours` against `peer`.
inline void compare(const Figure& ours, const Figure& peer, const Options& options = {}) {
  detail::declare(
      "{" + detail::field("kind", "row") + ",\"ours\":" + detail::figure(ours) +
      ",\"peer\":" + detail::figure(peer) + "," + detail::field("summary", options.summary) + "," +
      detail::field("ratio", options.ratio) + ",\"means\":" + (options.means ? "true" : "false") +
      ",\"summarise_means\":" + (options.summarise_means ? "true" : "false") + "}");
}

/// A row of the table declared last for a benchmark that ran ours and the peer in turns (see
/// in_turns): the peer's time is the one measured beside ours, and the ratio theirs in the
/// same iterations.
inline void compare_in_turns(const std::string& what, const std::string& benchmark,
                             const std::string& peer_what, Options options = {}) {
  options.ratio = "per_peer";
  compare({what, benchmark}, {peer_what, benchmark, "peer_ns"}, options);
}

/// A line of the summary alone: `ours` against `peer`, whose words there are `peer.what`.
inline void summarise(const Figure& ours, const Figure& peer) {
  detail::declare("{" + detail::field("kind", "summary") + ",\"ours\":" + detail::figure(ours) +
                  ",\"peer\":" + detail::figure(peer) + "}");
}

/// A picture of `panels` side by side, saved as `picture`, each panel with a table of its
/// points under it.
inline void curve(const std::string& title, const std::string& note, const std::string& picture,
                  const std::vector<Panel>& panels) {
  std::string json = "{" + detail::field("kind", "curve") + "," + detail::field("title", title) +
                     "," + detail::field("note", note) + "," + detail::field("picture", picture) +
                     ",\"panels\":[";
  for (const Panel& panel : panels) {
    json += (&panel == panels.data() ? "{" : ",{") + detail::field("title", panel.title) + "," +
            detail::field("x_label", panel.x_label) + "," +
            detail::field("y_label", panel.y_label) + "," +
            detail::field("measure", panel.measure) +
            ",\"y_log\":" + (panel.y_log ? "true" : "false") + ",\"series\":[";
    for (const Series& s : panel.series)
      json += (&s == panel.series.data() ? "{" : ",{") + detail::field("label", s.label) + "," +
              detail::field("family", s.family) + "," + detail::field("counter", s.counter) +
              ",\"peer\":" + (s.peer ? "true" : "false") + "}";
    json += "]}";
  }
  detail::declare(json + "]}");
}

/// A model of how the table scales to `threads` threads with `shares` of its operations
/// insertions, from `inputs`, the means of the repetitions (a table's growths fall into some
/// repetitions only): the locks' hold time per insertion, taken from one thread and, by
/// Amdahl's law, from two threads inserting, and with several regions the part of it held
/// under every lock at once; then the speedup over one thread by Amdahl's law and by a closed
/// queue at the locks (mean-value analysis), checked against the mix measured on two threads.
/// The report shows the inputs, the predictions and the check, with `note`.
inline void lock_model(const std::string& title, const std::string& note,
                       const LockModelInputs& inputs, const std::vector<int>& threads,
                       const std::vector<double>& shares) {
  const auto numbers = [](const auto& values) {
    std::string out = "[";
    for (const auto& v : values)
      out += (&v == values.data() ? "" : ",") + std::to_string(v);
    return out + "]";
  };
  std::string outside = "[";
  for (const Figure& f : inputs.outside_lock)
    outside += (&f == inputs.outside_lock.data() ? "" : ",") + detail::figure(f);
  outside += "]";
  detail::declare(
      "{" + detail::field("kind", "lock_model") + "," + detail::field("title", title) + "," +
      detail::field("note", note) + ",\"hit\":" + detail::figure(inputs.hit) +
      ",\"hit_two_threads\":" + detail::figure(inputs.hit_two_threads) +
      ",\"insert\":" + detail::figure(inputs.insert) +
      ",\"insert_two_threads\":" + detail::figure(inputs.insert_two_threads) +
      ",\"outside_lock\":" + outside + ",\"mix_share\":" + std::to_string(inputs.mix_share) +
      ",\"mix\":" + detail::figure(inputs.mix) + ",\"mix_two_threads\":" +
      detail::figure(inputs.mix_two_threads) + ",\"regions\":" + std::to_string(inputs.regions) +
      (inputs.every_lock.benchmark.empty()
           ? std::string()
           : ",\"every_lock\":" + detail::figure(inputs.every_lock) +
                 ",\"every_lock_sharers\":" + std::to_string(inputs.every_lock_sharers)) +
      ",\"threads\":" + numbers(threads) + ",\"shares\":" + numbers(shares) + "}");
}

}  // namespace vesk::bench::report

#endif
