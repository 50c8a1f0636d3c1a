#!/usr/bin/env python3
"""Turns the JSON results of the benchmark programs into BENCHMARKS.md, the pictures of its
curves and the summary table of README.md.

    report.py RESULTS PROGRAM... [--out DIR] [--no-readme]

RESULTS holds PROGRAM.json (Google Benchmark's JSON output) and PROGRAM.load-before /
PROGRAM.load-after (the load average around the run) for each program; scripts/run-benchmarks
writes them. What to show comes from the programs themselves: each declares its tables, the
comparisons of the library against a peer in them, its lines of the summary, its curves and its
models in the context of its JSON output (bench/report_context.hpp), in the order the page shows
them.
The compiler and the flags of the run come from the environment variables VESK_BENCH_COMPILER
and VESK_BENCH_FLAGS. A quick run (VESK_BENCH_QUICK set to anything but 0) writes beside the
results and leaves README.md alone.
"""
import argparse
import datetime
import json
import os
import re
import statistics
import subprocess

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
DECLARATION = "vesk.report."
PAIR_HEADER = ["library", "figure", "peer", "figure", "library ÷ peer"]


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", help="the folder of the programs' results")
    parser.add_argument("programs", nargs="+", help="the benchmark programs, in the order run")
    parser.add_argument("--out", help="where BENCHMARKS.md and benchmark-curves/ go "
                                      "(default: the working folder, or RESULTS in a quick run)")
    parser.add_argument("--no-readme", action="store_true",
                        help="leave README.md's summary as it is")
    return parser.parse_args(argv)


# ----- showing figures ---------------------------------------------------------------------------

def show_scaled(value, units, smallest):
    """`value` in the first of `units` ((name, scale), largest first) that it reaches, else in
    `smallest`, to three significant digits."""
    for unit, scale in units:
        if value >= scale:
            return f"{value / scale:.3g} {unit}"
    return f"{value:.3g} {smallest}"


def show_time(ns):
    return "n/a" if ns is None else show_scaled(ns, (("s", 1e9), ("ms", 1e6), ("µs", 1e3)), "ns")


def show_rate(bytes_per_second):
    if not bytes_per_second:
        return "n/a"
    return show_scaled(bytes_per_second, (("GB/s", 1e9), ("MB/s", 1e6), ("kB/s", 1e3)), "B/s")


def show_value(value, is_time):
    if value is None:
        return "n/a"
    return show_time(value) if is_time else f"{value:.1f}"


def show_ratio(r):
    return "n/a" if r is None else f"**{r:.2f}**"


def ratio(ours, peer):
    return None if ours is None or peer is None or peer == 0 else ours / peer


def size_name(n):
    for unit, scale in (("Gi", 1 << 30), ("Mi", 1 << 20), ("Ki", 1 << 10)):
        if n >= scale and n % scale == 0:
            return f"{n // scale} {unit}B"
    return f"{n} B"


def count_name(n):
    return f"10^{len(str(n)) - 1}" if str(n).strip("0") == "1" else f"{n:,}"


def table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    out += ["| " + " | ".join(row) + " |" for row in rows]
    return "\n".join(out)


# ----- a lock past the threads measured ----------------------------------------------------------

def amdahl_speedup(serial, threads):
    """The speedup over one thread of `threads` threads when the fraction `serial` of the work
    runs one thread at a time (Amdahl's law)."""
    return 1.0 / (serial + (1.0 - serial) / threads)


def queue_speedup(work, demands, every, threads):
    """The speedup over one thread of `threads` threads, each doing `work` ns of its own per
    operation, holding lock k for `demands[k]` ns and all of them at once for `every` ns:
    mean-value analysis of the closed queue at the locks (at a server of demand D, response
    R(n) = D (1 + Q(n-1)); throughput X(n) = n / (Z + the sum of the responses); queue
    Q(n) = X(n) R(n)), over one thread's throughput 1 / (Z + the sum of the demands). The steps
    that hold every lock are a server of their own, and keep each lock from the others: lock
    k serves D_k / (1 - X(n) every (n - 1) / n), as if slowed by the share of its time that
    the other threads' such steps take (a shadow server), and no lock is busy more than all
    the time. As the slowing depends on X(n), X(n) is found by halving the range it lies in.
    Exact where `every` or every D_k is 0, and on one thread."""
    queues = [0.0] * len(demands)
    every_queue = throughput = 0.0
    for n in range(1, threads + 1):
        def responses(x):
            slowed = 1.0 - x * every * (n - 1) / n
            return ([demand / slowed * (1.0 + queue) for demand, queue in zip(demands, queues)],
                    every * (1.0 + every_queue))

        def cycle(x):
            locks, every_response = responses(x)
            return work + sum(locks) + every_response

        # x cycle(x) grows with x, from 0 to n at X(n), which lies below the throughput of no
        # slowing and at most 1 / (D_k + every), where lock k would be busy all the time.
        low, high = 0.0, n / cycle(0.0)
        if every or demands:
            high = min(high, 1.0 / (max(demands, default=0.0) + every))
        for _ in range(100):
            middle = (low + high) / 2
            low, high = (middle, high) if middle * cycle(middle) < n else (low, middle)
        throughput = low
        locks, every_response = responses(throughput)
        queues = [throughput * response for response in locks]
        every_queue = throughput * every_response
    return throughput * (work + sum(demands) + every)


def lock_hold_time(insert, outside, insert_two_threads):
    """The time an insertion holds the lock, in ns, two ways: one thread's insertion less the
    parts measured outside the lock; and Amdahl's serial fraction s = 2 / S(2) - 1 of two
    threads inserting, times one thread's insertion. Returns both and the larger, which the
    model uses: the first charges the lock with whatever the parts measured alone leave out, the
    second with whatever else keeps two threads from scaling."""
    by_subtraction = max(0.0, insert - outside)
    serial = min(1.0, max(0.0, 2.0 * insert_two_threads / insert - 1.0))
    by_amdahl = serial * insert
    return by_subtraction, by_amdahl, max(by_subtraction, by_amdahl)


def every_lock_time(hold, by_amdahl, regions):
    """Of the `hold` ns an insertion holds a lock, the part held under every region's lock at
    once, the rest under its own region's alone. With one region that is all of it. With more,
    Amdahl's serial time of two threads inserting (`by_amdahl`, at most `hold`) is taken as
    what the busiest lock holds per insertion, (hold - G) / regions + G, and solved for G; 0
    where the regions' locks alone would keep two threads further apart."""
    if regions == 1:
        return hold
    return max(0.0, (by_amdahl - hold / regions) / (1.0 - 1.0 / regions))


def share_name(share):
    return f"{share * 100:g} %"


def speedups(load, regions, threads, sharers=1):
    """(Amdahl's, the queue's) speedup over one thread of `threads` threads, each operation doing
    `work` ns without a lock, `region` ns under each of `regions` locks on average (its own
    region's, one in `regions`) and `every` ns under all of them at once, work that up to
    `sharers` threads share: it holds the locks for every / min(threads, sharers), and the
    rest of it is work the sharers do meanwhile. `load` is (work, region, every). Amdahl's law
    takes the busiest lock's time as the part that runs one thread at a time; the queue has a
    server for each region's lock and one for the steps that take every lock
    (queue_speedup)."""
    work, region, every = load
    one_thread = work + regions * region + every
    shared = every / min(threads, sharers)
    return (amdahl_speedup((region + shared) / one_thread, threads),
            queue_speedup(work + every - shared, [region] * regions if region else [], shared,
                          threads))


def lock_model_inputs(declaration, measured):
    """The rows of a lock_model's inputs, with the lock's hold time per insertion estimated both
    ways, the larger of the two, and of that the part held under every region's lock (None
    for both when a figure is missing). `measured` holds the figures' values by the
    declaration's keys."""
    hit, insert, outside = measured["hit"], measured["insert"], measured["outside_lock"]
    regions = declaration.get("regions", 1)
    rows = [[declaration["hit"]["what"], show_time(hit)],
            [declaration["insert"]["what"], show_time(insert)]]
    rows += [[figure["what"], show_time(value)]
             for figure, value in zip(declaration["outside_lock"], outside)]
    if None in (hit, insert, measured["insert_two_threads"], *outside):
        return rows, None, None
    by_subtraction, by_amdahl, hold = lock_hold_time(insert, sum(outside), measured["insert_two_threads"])
    measured_every = measured.get("every_lock")
    if "every_lock" in declaration and measured_every is None:
        return rows, None, None
    if measured_every is not None:
        hold = max(by_subtraction, measured_every)
        every = measured_every
    else:
        every = every_lock_time(hold, by_amdahl, regions)
    rows += [
        ["lock held per insertion: one thread's insertion less the parts without the lock",
         show_time(by_subtraction)],
        [declaration["insert_two_threads"]["what"] + ": speedup S(2) over one thread",
         f"{insert / measured['insert_two_threads']:.2f}"],
        ["lock held per insertion by Amdahl's law: (2 / S(2) − 1) × one thread's insertion",
         show_time(by_amdahl)],
        ["**lock held per insertion: the larger of the two, used below**" if measured_every is None
         else "**lock held per insertion: one thread's insertion less the parts without the lock, "
              "at least the time under every lock; used below**", show_time(hold)]]
    if measured_every is not None:
        rows += [
            ["regions, each with a lock of its own, R", str(regions)],
            [f"of which under every region's lock, G: {declaration['every_lock']['what']}",
             show_time(every)],
            ["threads that share the steps under every lock, at most",
             str(declaration["every_lock_sharers"])],
            ["of which under its region's lock alone, H − G", show_time(hold - every)]]
    elif regions > 1:
        rows += [
            ["regions, each with a lock of its own, R", str(regions)],
            ["of which under every region's lock, G: Amdahl's taken as the busiest lock's "
             "(H − G) / R + G and solved, at least 0", show_time(every)],
            ["of which under its region's lock alone, H − G", show_time(hold - every)]]
    return rows, hold, every


def lock_model_predictions(declaration, measured, hold, every):
    """The tables of a lock_model's load per operation for each share of insertions, of the
    predicted speedups, and of the check at two threads against the measured speedups."""
    hit, insert, shares, mix_share = (measured["hit"], measured["insert"], declaration["shares"],
                                      declaration["mix_share"])
    regions = declaration.get("regions", 1)
    sharers = declaration.get("every_lock_sharers", 1) if "every_lock" in declaration else 1
    # Per operation, the work of its own (a lookup, or an insertion's part without a lock),
    # each region's lock's on average, and that of all the locks at once.
    loads = {share: ((1 - share) * hit + share * (insert - hold),
                     share * (hold - every) / regions, share * every)
             for share in shares + [mix_share]}
    load_rows = []
    for share in shares:
        work, region, every_lock = loads[share]
        # On many threads, with the steps under every lock shared as widely as they can be.
        one_thread, busiest = work + regions * region + every_lock, region + every_lock / sharers
        shown = [show_time(work)] + (
            [show_time(busiest)] if regions == 1 else [show_time(region), show_time(every_lock)])
        load_rows.append([share_name(share)] + shown + [
            f"{busiest / one_thread:.3f}", f"{one_thread / busiest:.1f}" if busiest else "none"])
    if regions == 1:
        load_header = ["insertions", "work without the lock, Z", "lock, D",
                       "serial fraction D / (Z + D)", "ceiling (Z + D) / D"]
    else:
        load_header = ["insertions", "work without a lock, Z", "each region's lock, D_r",
                       "every lock at once, D_a",
                       f"serial fraction of the busiest lock (D_r + D_a) / (Z + {regions} D_r + D_a)",
                       f"ceiling (Z + {regions} D_r + D_a) / (D_r + D_a)"]
        if sharers > 1:
            load_header[-2:] = [
                f"serial fraction of the busiest lock (D_r + D_a / {sharers}) / "
                f"(Z + {regions} D_r + D_a)",
                f"ceiling (Z + {regions} D_r + D_a) / (D_r + D_a / {sharers})"]
    prediction_rows = [[str(n)] + [f"{x:.2f}" for share in shares
                                   for x in speedups(loads[share], regions, n, sharers)]
                       for n in declaration["threads"]]

    def measured_speedup(one, two):
        r = ratio(measured[one], measured[two])
        return "n/a" if r is None else f"{r:.2f}"

    check_rows = [
        [f"{declaration['mix_two_threads']['what']} ({share_name(mix_share)} insertions)"]
        + [f"{x:.2f}" for x in speedups(loads[mix_share], regions, 2, sharers)]
        + [measured_speedup("mix", "mix_two_threads")],
        [f"{declaration['hit_two_threads']['what']} (no lock)", "2.00", "2.00",
         measured_speedup("hit", "hit_two_threads")]]
    return [
        ("Load per operation", load_header, load_rows),
        ("Predicted speedup over one thread",
         ["threads"] + [f"{share_name(share)} insertions, {law}" for share in shares
                        for law in ("Amdahl", "queue")], prediction_rows),
        ("Check at two threads: speedup over one thread",
         ["operations", "Amdahl", "queue", "measured"], check_rows)]


# ----- results -----------------------------------------------------------------------------------

def plain_name(run_name):
    """The benchmark's name without the suffixes of its settings."""
    return re.sub(r"/(iterations:\d+|real_time|manual_time|min_time:[^/]+|repeats:\d+)", "", run_name)


class Results:
    """The runs of every program: for each benchmark its median and mean time in nanoseconds and
    the runs they come from (whose user counters are read as figures), and each program's
    declarations of what to show."""

    def __init__(self, folder, programs):
        self.runs = {"median": {}, "mean": {}}    # statistic -> (program, name) -> run
        self.times = {"median": {}, "mean": {}}   # statistic -> (program, name) -> ns
        self.contexts = {}
        self.declarations = []                    # (program, declaration), in order
        self.used = set()
        for program in programs:
            try:
                with open(os.path.join(folder, program + ".json")) as f:
                    data = json.load(f)
            except (OSError, ValueError):
                # A --benchmark_filter that matches nothing in a program leaves its file empty.
                continue
            self.contexts[program] = data["context"]
            for key in sorted(k for k in data["context"] if k.startswith(DECLARATION)):
                self.declarations.append((program, json.loads(data["context"][key])))
            for run in data["benchmarks"]:
                self.add(program, run)

    def add(self, program, run):
        if run.get("error_occurred"):
            return
        # A benchmark that runs once (the largest trees of the removal curve) has no aggregates;
        # its one run stands for both statistics.
        if run.get("run_type") == "iteration" and run.get("repetitions") == 1:
            statistics_of_run = ("median", "mean")
        elif run.get("run_type") == "aggregate" and run.get("aggregate_name") in ("median", "mean"):
            statistics_of_run = (run["aggregate_name"],)
        else:
            return
        name = plain_name(run["run_name"])
        # Real time where the benchmark asks for it (child processes, file system), else CPU
        # time, which the other programs sharing the machine disturb less.
        use_real = "/real_time" in run["run_name"] or "/manual_time" in run["run_name"]
        time = (run["real_time"] if use_real else run["cpu_time"]) * UNIT_NS[run.get("time_unit", "ns")]
        for statistic in statistics_of_run:
            self.runs[statistic][(program, name)] = run
            self.times[statistic][(program, name)] = time

    def value(self, program, benchmark, counter="", statistic="median"):
        """The benchmark's time in ns, or its counter `counter`; None when it did not run."""
        key = (program, benchmark)
        if key not in self.times[statistic]:
            return None
        self.used.add(key)
        if not counter:
            return self.times[statistic][key]
        return self.runs[statistic][key].get(counter)

    def family(self, program, family):
        """The x values of the runs of `family` with one more argument, in order."""
        prefix = family + "/"
        return sorted(int(name[len(prefix):]) for (p, name) in self.times["median"]
                      if p == program and name.startswith(prefix) and name[len(prefix):].isdigit())


def is_time(figure):
    return not figure["counter"] or figure["counter"].endswith("_ns")


# ----- the page's parts --------------------------------------------------------------------------

class Page:
    def __init__(self, results, curve_dir):
        self.results = results
        self.curve_dir = curve_dir
        self.sections = []   # (title, note, header, rows), then the curves' own
        self.summary = []    # (library, peer, ratio)
        self.table_ratios = None

    def build(self):
        open_table = None
        for program, declaration in self.results.declarations:
            kind = declaration["kind"]
            if kind == "table":
                self.close(open_table)
                # The median of the table's ratios takes its place in the summary now and its
                # figure once the table is complete.
                open_table = dict(declaration, rows=[], ratios=[], means=False,
                                  summary_line=len(self.summary))
                if declaration["summary_what"]:
                    self.summary.append((declaration["summary_what"], declaration["summary_peer"], None))
                self.sections.append(open_table)
            elif kind == "row":
                self.row(program, declaration, open_table)
            elif kind == "summary":
                ours, peer = declaration["ours"], declaration["peer"]
                self.summary.append((ours["what"], peer["what"],
                                     ratio(self.results.value(program, ours["benchmark"], ours["counter"]),
                                           self.results.value(program, peer["benchmark"], peer["counter"]))))
            elif kind == "curve":
                self.close(open_table)
                open_table = None
                self.curve(program, declaration)
            elif kind == "lock_model":
                self.close(open_table)
                open_table = None
                self.lock_model(program, declaration)
        self.close(open_table)

    def close(self, open_table):
        if open_table and open_table["summary_what"] and open_table["ratios"]:
            ordered = sorted(open_table["ratios"])
            self.summary[open_table["summary_line"]] = (
                f"{open_table['summary_what']} (median row; {ordered[0]:.2f} to {ordered[-1]:.2f})",
                open_table["summary_peer"], statistics.median_low(ordered))

    def row(self, program, declaration, open_table):
        results, ours, peer = self.results, declaration["ours"], declaration["peer"]

        def figures(statistic):
            return (results.value(program, ours["benchmark"], ours["counter"], statistic),
                    results.value(program, peer["benchmark"], peer["counter"], statistic))

        ours_value, peer_value = figures("median")
        r = (results.value(program, ours["benchmark"], declaration["ratio"]) if declaration["ratio"]
             else ratio(ours_value, peer_value))
        mean_ratio = ratio(*figures("mean"))
        cells = [ours["what"], show_value(ours_value, is_time(ours)), peer["what"],
                 show_value(peer_value, is_time(peer)), show_ratio(r)]
        if declaration["means"]:
            open_table["means"] = True
            cells.append("n/a" if mean_ratio is None else f"{mean_ratio:.2f}")
        open_table["rows"].append(cells)
        if r is not None:
            open_table["ratios"].append(r)
        if declaration["summary"]:
            self.summary.append((ours["what"], declaration["summary"],
                                 mean_ratio if declaration["summarise_means"] else r))

    def curve(self, program, declaration):
        """One picture of the panels side by side, and a table of each panel's points."""
        panels = declaration["panels"]
        figure, axes = plt.subplots(1, len(panels), figsize=(5.2 * len(panels), 4.2), squeeze=False)
        tables = []
        for axis, panel in zip(axes[0], panels):
            points = {s["label"]: self.points(program, panel["measure"], s) for s in panel["series"]}
            for label, series in points.items():
                shown = [(x, y) for x, y in sorted(series.items()) if y]
                if shown:
                    axis.plot([x for x, _ in shown], [y for _, y in shown], marker="o", label=label)
            axis.set_xscale("log")
            if panel["y_log"]:
                axis.set_yscale("log")
            else:
                axis.set_ylim(bottom=0)
            axis.set_title(panel["title"])
            axis.set_xlabel(panel["x_label"])
            axis.set_ylabel(panel["y_label"])
            axis.grid(True, which="both", alpha=0.3)
            axis.legend(fontsize="small")
            tables.append(self.curve_table(panel, points))
        figure.tight_layout()
        figure.savefig(os.path.join(self.curve_dir, declaration["picture"]), dpi=90)
        plt.close(figure)
        self.sections.append(dict(declaration, heading="Curve", tables=tables))

    def points(self, program, measure, series):
        """x -> the panel's measure of each run of the series."""
        out = {}
        for x in self.results.family(program, series["family"]):
            name = f"{series['family']}/{x}"
            if measure == "counter":
                out[x] = self.results.value(program, name, series["counter"])
                continue
            ns = self.results.value(program, name)
            out[x] = None if not ns else x / ns * 1e9 if measure == "rate" else ns / x
        return out

    def lock_model(self, program, declaration):
        """The model's tables from the means of the repetitions, which count a table's growths
        in full."""
        def mean(figure):
            return self.results.value(program, figure["benchmark"], figure["counter"], "mean")

        measured = {key: mean(declaration[key]) for key in
                    ("hit", "hit_two_threads", "insert", "insert_two_threads", "mix", "mix_two_threads")}
        measured["outside_lock"] = [mean(figure) for figure in declaration["outside_lock"]]
        if "every_lock" in declaration:
            measured["every_lock"] = mean(declaration["every_lock"])
        inputs, hold, every = lock_model_inputs(declaration, measured)
        tables = [("Inputs", ["input", "mean"], inputs)]
        if hold is not None:
            tables += lock_model_predictions(declaration, measured, hold, every)
        self.sections.append(dict(declaration, heading="Model", tables=tables))

    @staticmethod
    def curve_table(panel, points):
        measure = panel["measure"]
        ours = [s for s in panel["series"] if not s["peer"]]
        peers = [s for s in panel["series"] if s["peer"]]
        if measure == "rate":
            show, show_x, per = show_rate, size_name, " (speed)"
        else:
            timed = measure == "time_per_x" or all(is_time(s) for s in panel["series"])
            show, show_x, per = (lambda v: show_value(v, timed)), count_name, ""
        header = [panel["x_label"]] + [s["label"] for s in panel["series"]]
        header += [f"{o['label']} ÷ {p['label']}{per}" for o in ours for p in peers]
        rows = []
        for x in sorted({x for series in points.values() for x in series}):
            row = [show_x(x)] + [show(points[s["label"]].get(x)) for s in panel["series"]]
            row += [show_ratio(ratio(points[o["label"]].get(x), points[p["label"]].get(x)))
                    for o in ours for p in peers]
            rows.append(row)
        return panel["title"], header, rows

    def markdown(self):
        out = []
        for section in self.sections:
            if "tables" in section:
                out += [f"## {section['heading']}: {section['title']}", "", section["note"], ""]
                if "picture" in section:
                    out += [f"![{section['title']}](benchmark-curves/{section['picture']})", ""]
                for title, header, rows in section["tables"]:
                    out += [f"### {title}", "", table(header, rows), ""]
            elif section["rows"]:
                header = PAIR_HEADER + (["ratio of means"] if section["means"] else [])
                rows = [row + [""] * (len(header) - len(row)) for row in section["rows"]]
                out += [f"## {section['title']}", "", section["note"], "", table(header, rows), ""]
        return out

    def others(self):
        """Everything that no declaration names, so that a new benchmark is never lost."""
        rows = []
        for (program, name), ns in sorted(self.results.times["median"].items()):
            if (program, name) not in self.results.used:
                label = self.results.runs["median"][(program, name)].get("label", "")
                rows.append([program, f"`{name}`", show_time(ns), label])
        return rows


# ----- the machine -------------------------------------------------------------------------------

def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def package_version(package):
    try:
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True,
                              text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def read(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return "n/a"


def quiet_turns(results):
    """Each benchmark of quiet turns (counters retried and stolen_pct) with its turns made again
    per iteration and the share of the kept turns' time that the host took, medians."""
    shown = [f"{name} {run['retried']:.2g} ({run.get('stolen_pct', 0):.1f} %)"
             for (_, name), run in sorted(results.runs["median"].items()) if "retried" in run]
    return ", ".join(shown) or "none"


def machine(results, folder, programs):
    context = next(iter(results.contexts.values()), {})
    loads = ", ".join(f"{program} {read(os.path.join(folder, program + '.load-before'))} → "
                      f"{read(os.path.join(folder, program + '.load-after'))}" for program in programs)
    # The run's date: when the first program started, from its own record.
    started = results.contexts.get(programs[0], {}).get("date", "")
    try:
        date = datetime.datetime.fromisoformat(started).astimezone(datetime.timezone.utc)
    except ValueError:
        date = datetime.datetime.now(datetime.timezone.utc)
    peers = ", ".join(f"{name} {package_version(package)}" for name, package in (
        ("glibc", "libc6"), ("OpenSSL", "libssl-dev"), ("zlib", "zlib1g-dev"), ("ISA-L", "libisal-dev"),
        ("libdeflate", "libdeflate-dev"), ("absl", "libabsl-dev"), ("Boost", "libboost-filesystem-dev"),
        ("coreutils", "coreutils"), ("Google Benchmark", "libbenchmark-dev")))
    now = date.strftime("%Y-%m-%d %H:%M UTC")
    return now, [
        ("Date", now),
        ("CPU", f"{cpu_model()}, {os.cpu_count()} logical cores"
                + (f", {context['mhz_per_cpu']} MHz" if context.get("mhz_per_cpu") else "")),
        ("Compiler", os.environ.get("VESK_BENCH_COMPILER", "unknown") + ", release preset (-O3)"),
        ("Peers", peers),
        ("Load average (1, 5, 15 min) before → after each program", loads),
        ("Turns made again, per iteration, while the host took the processors (share of the "
         "kept turns' time it took)", quiet_turns(results)),
        ("Flags", "`" + os.environ.get("VESK_BENCH_FLAGS", "").strip() + "`"),
    ]


# ----- the files ---------------------------------------------------------------------------------

def main(argv=None):
    args = parse_arguments(argv)
    # A quick run (VESK_BENCH_QUICK) writes its page and pictures beside the raw results and leaves
    # the tree's BENCHMARKS.md and README alone.
    quick = os.environ.get("VESK_BENCH_QUICK", "0") not in ("", "0")
    out_dir = args.out or (args.results if quick else ".")
    readme_path = None if quick or args.no_readme else "README.md"
    curve_dir = os.path.join(out_dir, "benchmark-curves")
    os.makedirs(curve_dir, exist_ok=True)

    results = Results(args.results, args.programs)
    page = Page(results, curve_dir)
    page.build()
    now, machine_rows = machine(results, args.results, args.programs)
    summary_table = table(["library", "peer", "library ÷ peer (time)"],
                          [[what, peer, show_ratio(r)] for what, peer, r in page.summary])

    doc = ["# Benchmarks", "",
           "Made by `scripts/run-benchmarks`, which builds the release preset, runs every program of "
           "`bench/` (Google Benchmark, 5 repetitions) and writes this file. Every figure is the median "
           "of the repetitions; the library and its peer run in the same process, one after the other. "
           "**library ÷ peer** is the ratio of their times (of the figures named, where a row compares "
           "bytes): below 1 the library is faster or smaller, above 1 slower or larger. Compare ratios "
           "of one run only: the machine is shared, and its load is noted below.",
           "", "## Machine", "", table(["", ""], [[k, v] for k, v in machine_rows]), "",
           "## Summary", "", summary_table, ""]
    doc += page.markdown()
    others = page.others()
    if others:
        doc += ["## Other figures", "", "Benchmarks with no peer named above (medians).", "",
                table(["program", "benchmark", "time", "label"], others), ""]
    with open(os.path.join(out_dir, "BENCHMARKS.md"), "w") as f:
        f.write("\n".join(doc))

    begin, end = "<!-- benchmarks:begin -->", "<!-- benchmarks:end -->"
    readme = ""
    if readme_path:
        with open(readme_path) as f:
            readme = f.read()
    if begin in readme and end in readme:
        head, rest = readme.split(begin, 1)
        _, tail = rest.split(end, 1)
        block = (f"{begin}\n{summary_table}\n\n"
                 f"Measured {now} on {cpu_model()} ({os.cpu_count()} cores, shared); "
                 f"details in [BENCHMARKS.md](BENCHMARKS.md).\n{end}")
        with open(readme_path, "w") as f:
            f.write(head + block + tail)
    print("wrote " + os.path.join(out_dir, "BENCHMARKS.md"))


if __name__ == "__main__":
    main()
