#!/usr/bin/env python3
"""Turns the JSON results of the benchmark programs into BENCHMARKS.md, the pictures of its
curves and the summary table of README.md.

    report.py RESULTS PROGRAM... [--out DIR] [--no-readme]

RESULTS holds PROGRAM.json (Google Benchmark's JSON output), PROGRAM.txt (its console output)
and PROGRAM.load-before / PROGRAM.load-after (the load average around the run) for each
program; scripts/run-benchmarks writes them. The compiler and the flags of the run come from
the environment variables VESK_BENCH_COMPILER and VESK_BENCH_FLAGS. A quick run
(VESK_BENCH_QUICK set to anything but 0) writes beside the results and leaves README.md alone.
"""
import argparse
import datetime
import json
import os
import re
import subprocess

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", help="the folder of the programs' results")
    parser.add_argument("programs", nargs="+", help="the benchmark programs, in the order run")
    parser.add_argument("--out", help="where BENCHMARKS.md and benchmark-curves/ go "
                                      "(default: the working folder, or RESULTS in a quick run)")
    parser.add_argument("--no-readme", action="store_true",
                        help="leave README.md's summary as it is")
    return parser.parse_args(argv)


def show_scaled(value, units, smallest):
    """`value` in the first of `units` ((name, scale), largest first) that it reaches, else in
    `smallest`, to three significant digits."""
    for unit, scale in units:
        if value >= scale:
            return f"{value / scale:.3g} {unit}"
    return f"{value:.3g} {smallest}"


def main(argv=None):
    args = parse_arguments(argv)
    results, programs = args.results, args.programs
    # A quick run (VESK_BENCH_QUICK) writes its page and pictures beside the raw results and leaves
    # the tree's BENCHMARKS.md and README alone.
    quick = os.environ.get("VESK_BENCH_QUICK", "0") not in ("", "0")
    out_dir = args.out or (results if quick else ".")
    readme_path = None if quick or args.no_readme else "README.md"

    # ----- results --------------------------------------------------------------------------------

    medians = {}   # (program, benchmark name) -> median time in nanoseconds
    means = {}     # (program, benchmark name) -> mean time in nanoseconds
    labels = {}    # (program, benchmark name) -> label of the run
    counters = {}  # (program, benchmark name) -> the median run's user counters
    mean_counters = {}  # (program, benchmark name) -> the mean run's user counters
    contexts = {}
    used = set()
    UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


    def plain_name(run_name):
        """The benchmark's name without the suffixes of its settings."""
        return re.sub(r"/(iterations:\d+|real_time|manual_time|min_time:[^/]+|repeats:\d+)", "", run_name)


    for program in programs:
        try:
            with open(os.path.join(results, program + ".json")) as f:
                data = json.load(f)
        except (OSError, ValueError):
            # A --benchmark_filter that matches nothing in a program leaves its file empty.
            continue
        contexts[program] = data["context"]
        for run in data["benchmarks"]:
            # A benchmark that runs once (the largest trees of the removal curve) has no aggregates;
            # its one run stands for both.
            single = run.get("run_type") == "iteration" and run.get("repetitions") == 1
            if not single and (run.get("run_type") != "aggregate"
                               or run.get("aggregate_name") not in ("median", "mean")):
                continue
            if run.get("error_occurred"):
                continue
            name = plain_name(run["run_name"])
            # Real time where the benchmark asks for it (child processes, file system), else CPU
            # time, which the other programs sharing the machine disturb less.
            use_real = "/real_time" in run["run_name"] or "/manual_time" in run["run_name"]
            time = (run["real_time"] if use_real else run["cpu_time"]) * UNIT_NS[run.get("time_unit", "ns")]
            if single:
                means[(program, name)] = time
            elif run["aggregate_name"] == "mean":
                means[(program, name)] = time
                mean_counters[(program, name)] = run
                continue
            medians[(program, name)] = time
            if run.get("label"):
                labels[(program, name)] = run["label"]
            counters[(program, name)] = run


    def median(program, name):
        key = (program, name)
        if key not in medians:
            return None
        used.add(key)
        return medians[key]


    def show_time(ns):
        return "n/a" if ns is None else show_scaled(ns, (("s", 1e9), ("ms", 1e6), ("µs", 1e3)), "ns")


    def ratio(ours, peer):
        return None if ours is None or peer is None or peer == 0 else ours / peer


    def show_ratio(r):
        return "n/a" if r is None else f"**{r:.2f}**"


    def size_name(n):
        for unit, scale in (("Gi", 1 << 30), ("Mi", 1 << 20), ("Ki", 1 << 10)):
            if n >= scale and n % scale == 0:
                return f"{n // scale} {unit}B"
        return f"{n} B"


    # ----- comparisons ----------------------------------------------------------------------------

    sections = []   # (title, note, header, rows)
    summary = []    # (what, peer, ratio)


    def section(title, note, header, rows):
        sections.append((title, note, header, rows))


    def pair_rows(program, pairs, with_means=False):
        """One row per pair; with_means adds the ratio of the means, for figures where a cost (a
        container's growth) falls into some repetitions only and the median leaves it out."""
        rows = []
        for what, ours_name, peer_what, peer_name in pairs:
            ours, peer = median(program, ours_name), median(program, peer_name)
            row = [what, show_time(ours), peer_what, show_time(peer), show_ratio(ratio(ours, peer))]
            if with_means:
                mean_ratio = ratio(means.get((program, ours_name)), means.get((program, peer_name)))
                row.append("n/a" if mean_ratio is None else f"{mean_ratio:.2f}")
            rows.append(row)
        return rows


    PAIR_HEADER = ["library", "time", "peer", "time", "library ÷ peer"]

    def turns_row(program, name, what, peer_what):
        """The row of a pair that took turns inside benchmark `name` (see in_turns in bench/),
        and its ratio: the ratio is theirs in the same iterations, and the peer's time the one
        measured beside ours."""
        ours = median(program, name)
        r = counters.get((program, name), {}).get("per_peer")
        return [what, show_time(ours), peer_what, show_time(ours / r if ours and r else None),
                show_ratio(r)], r

    # hash_bench: MD5 against OpenSSL, CrcHasher against one call of the host hash.
    md5_pairs = []
    for size in (16, 16 << 20):
        md5_pairs.append((f"`vesk_md5_bytes`, {size_name(size)}", f"BM_VeskMd5Bytes/{size}",
                          f"OpenSSL `MD5()`, {size_name(size)}", f"BM_OpenSslMd5/{size}"))
        md5_pairs.append((f"`vesk_md5_bytes`, {size_name(size)}", f"BM_VeskMd5Bytes/{size}",
                          f"OpenSSL `EVP_Digest` (MD5), {size_name(size)}", f"BM_OpenSslEvpDigest/{size}"))
    md5_pairs.append(("`MD5Hasher::addBytes` + `hashValue`, 16 MiB", f"BM_Md5HasherAddBytes/{16 << 20}",
                      "OpenSSL `MD5()`, 16 MiB", f"BM_OpenSslMd5/{16 << 20}"))
    section("MD5 against OpenSSL", "Random bytes, one digest per iteration.", PAIR_HEADER,
            pair_rows("hash_bench", md5_pairs))
    for size in (16, 16 << 20):
        summary.append((f"`vesk_md5_bytes`, {size_name(size)}", "OpenSSL `MD5()`",
                        ratio(median("hash_bench", f"BM_VeskMd5Bytes/{size}"),
                              median("hash_bench", f"BM_OpenSslMd5/{size}"))))

    crc_pairs = [
        ("`CrcHasher::addBytes`, 16 MiB", f"BM_CrcHasherAddBytes/{16 << 20}",
         "`host_hash_n_bytes`, one call, 16 MiB", f"BM_HostHashOneCall/{16 << 20}"),
    ]
    hasher_rows = pair_rows("hash_bench", crc_pairs)
    # addData(REAL) and the host call over 8 MiB take turns within each iteration: each finds its
    # array evicted by the other's, as an array of gigabytes would be, and the machine's drift
    # falls on both alike. The ratio is theirs in the same iterations.
    real_row, real_per_call = turns_row("hash_bench", f"BM_CrcHasherAddDataReal/{1 << 20}",
                                        "`CrcHasher::addData(REAL)`, 1 Mi doubles",
                                        "`host_hash_n_bytes`, one call, 8 MiB, in alternation")
    hasher_rows.append(real_row)
    section("CrcHasher against the host hash in one call",
            "The hasher cuts the stream into 1024-byte blocks (and reorders the bytes of each double).",
            PAIR_HEADER, hasher_rows)
    summary.append(("`CrcHasher::addData(REAL)`, 1 Mi doubles", "`host_hash_n_bytes`, one call, in alternation",
                    real_per_call))

    # host_bench: the host hash against zlib's crc32 (ISA-L and libdeflate alongside), strtod.
    crc_rows = []
    lengths = sorted({int(name.split("/")[1]) for (program, name) in medians
                      if program == "host_bench" and name.startswith("BM_HostHash/")})
    for length in lengths:
        ours = median("host_bench", f"BM_HostHash/{length}")
        zlib = median("host_bench", f"BM_ZlibCrc32/{length}")
        isal = median("host_bench", f"BM_IsalCrc32/{length}")
        deflate = median("host_bench", f"BM_LibdeflateCrc32/{length}")
        crc_rows.append([size_name(length), show_time(ours), show_time(zlib), show_ratio(ratio(ours, zlib)),
                         f"{ratio(ours, isal):.2f}" if ratio(ours, isal) else "n/a",
                         f"{ratio(ours, deflate):.2f}" if ratio(ours, deflate) else "n/a"])
    section("CRC-32: `host_hash_n_bytes` against zlib `crc32`",
            "Random bytes, one call per iteration; ISA-L's and libdeflate's CRC-32 are shown beside.",
            ["length", "host_hash_n_bytes", "zlib crc32", "host ÷ zlib", "host ÷ ISA-L", "host ÷ libdeflate"],
            crc_rows)
    for length in (64, 16 << 20):
        summary.append((f"`host_hash_n_bytes` (CRC-32), {size_name(length)}", "zlib `crc32`",
                        ratio(median("host_bench", f"BM_HostHash/{length}"),
                              median("host_bench", f"BM_ZlibCrc32/{length}"))))

    section("String to double against glibc `strtod`",
            "4096 doubles of every magnitude printed with %.17g; time per number.", PAIR_HEADER,
            pair_rows("host_bench", [("`host_strtod` (behind `vesk_string_to_double`)", "BM_HostStrtod",
                                      "glibc `strtod`", "BM_GlibcStrtod")]))
    summary.append(("`host_strtod` (behind `vesk_string_to_double`)", "glibc `strtod`",
                    ratio(median("host_bench", "BM_HostStrtod"), median("host_bench", "BM_GlibcStrtod"))))

    # data_bench: convert_data against memcpy of the larger array; SubsRef::assign against a loop.
    TYPES = ["LOGICAL", "REAL", "INTEGER", "UINTEGER", "STRING"]
    SIZES = [1, 8, 4, 4, 1]
    convert_rows, convert_ratios = [], []
    for source in range(5):
        for target in range(5):
            width = max(SIZES[source], SIZES[target])
            row, r = turns_row("data_bench", f"BM_ConvertData/{source}/{target}",
                               f"{TYPES[source]} → {TYPES[target]}", f"memcpy of {width}-byte elements")
            if r is not None:
                convert_ratios.append(r)
            convert_rows.append(row)
    section("`convert_data` against `memcpy`",
            "4 Mi elements (values that reach every rule: NaNs, values past the 32-bit ranges); the peer "
            "copies as many bytes as the larger of the two arrays, in alternation with the conversion.", PAIR_HEADER, convert_rows)
    if convert_ratios:
        ordered = sorted(convert_ratios)
        middle = ordered[len(ordered) // 2]
        summary.append((f"`convert_data`, 25 type pairs (median pair; {ordered[0]:.2f} to {ordered[-1]:.2f})",
                        "`memcpy`", middle))

    gather_pairs = []
    for element, type_value in (("std::uint8_t", 0), ("std::int32_t", 2), ("double", 1)):
        gather_pairs.append((f"`SubsRef::assign`, {element}", f"BM_SubsRefAssign<{element}>/{type_value}",
                             f"hand-written gather loop, {element}", f"BM_HandGather<{element}>"))
    section("`SubsRef::assign` against a hand-written gather",
            "1 Mi random positions in an array of 4 Mi elements.", PAIR_HEADER,
            pair_rows("data_bench", gather_pairs))

    # string_bench: interning against absl::flat_hash_set and std::unordered_set.
    string_pairs = [
        ("`TableString` of a present text", "BM_FindTableString",
         "`absl::flat_hash_set<std::string>::find`", "BM_FindPeer<AbslSet>"),
        ("`TableString` of a present text", "BM_FindTableString",
         "`std::unordered_set<std::string>::find`", "BM_FindPeer<StdSet>"),
        ("`TableString` of 1,000,000 new texts", "BM_InsertTableString",
         "`absl::flat_hash_set<std::string>::insert`", "BM_InsertPeer<AbslSet>"),
        ("`TableString` of 1,000,000 new texts", "BM_InsertTableString",
         "`std::unordered_set<std::string>::insert`", "BM_InsertPeer<StdSet>"),
    ]
    # The table's and absl's passes over every present text take turns within each iteration; the
    # ratio is theirs in the same iterations, which the machine's drift between benchmarks does not
    # reach.
    turns_pass = median("string_bench", "BM_FindInTurns")
    turns_ratio = counters.get(("string_bench", "BM_FindInTurns"), {}).get("per_peer")
    turns_absl_ns = counters.get(("string_bench", "BM_FindInTurns"), {}).get("absl_ns")
    # Batches of new texts go into the table and into a growing absl set in turns too.
    insert_turns = counters.get(("string_bench", "BM_InsertInTurns"), {})
    insert_turns_batch = median("string_bench", "BM_InsertInTurns")
    insert_turns_absl_ns = insert_turns.get("absl_ns")
    insert_turns_mean_absl_ns = mean_counters.get(("string_bench", "BM_InsertInTurns"), {}).get("absl_ns")
    insert_turns_means = ratio(means.get(("string_bench", "BM_InsertInTurns")),
                               insert_turns_mean_absl_ns * 1e6 if insert_turns_mean_absl_ns else None)
    string_rows = pair_rows("string_bench", string_pairs, with_means=True)
    string_rows.insert(1, ["`TableString` of a present text, whole passes in turns with absl's",
                           show_time(turns_pass / 1e6 if turns_pass else None),
                           "`absl::flat_hash_set<std::string>::find`, in the same iterations",
                           show_time(turns_absl_ns), show_ratio(turns_ratio), "n/a"])
    string_rows.insert(4, ["`TableString` of 1,000,000 new texts, batches in turns with absl's",
                           show_time(insert_turns_batch),
                           "`absl::flat_hash_set<std::string>::insert` into a set already holding "
                           "earlier texts, in the same iterations",
                           show_time(insert_turns_absl_ns * 1e6 if insert_turns_absl_ns else None),
                           show_ratio(insert_turns.get("per_peer")),
                           "n/a" if insert_turns_means is None else f"{insert_turns_means:.2f}"])
    section("Interning against absl",
            "1,000,000 distinct identifiers of 8 to 16 bytes; a lookup key is a separate copy of the text. "
            "The table already holds the present texts and every earlier batch when a batch is interned; "
            "the growing absl set is in the same state, the other sets start empty. A set that grows "
            "rehashes in some batches only, so the ratio of the means is shown beside the medians'.",
            PAIR_HEADER + ["ratio of means"], string_rows)
    summary.append(("`TableString` lookup of a present text", "`absl::flat_hash_set::find`",
                    ratio(median("string_bench", "BM_FindTableString"),
                          median("string_bench", "BM_FindPeer<AbslSet>"))))
    summary.append(("`TableString` lookup of a present text, passes in turns", "`absl::flat_hash_set::find`",
                    turns_ratio))
    summary.append(("`TableString` of 1,000,000 new texts", "`absl::flat_hash_set::insert`, new set",
                    ratio(median("string_bench", "BM_InsertTableString"),
                          median("string_bench", "BM_InsertPeer<AbslSet>"))))
    # Of the totals: a growth of either container falls into some batches only.
    summary.append(("`TableString` of 1,000,000 new texts, batches in turns (ratio of means)",
                    "`absl::flat_hash_set::insert`, set already holding earlier texts",
                    insert_turns_means))

    # string_bench: texts of one CRC-32 against ordinary texts of the same length, each set in a
    # fresh table; time and the memory each adds per text.
    flood, plain = "BM_InternOneHash", "BM_InternOrdinarySameLength"
    flood_time, plain_time = median("string_bench", flood), median("string_bench", plain)


    def per_text(name, counter):
        return counters.get(("string_bench", name), {}).get(counter)


    flood_rows = [["time", show_time(flood_time), show_time(plain_time),
                   show_ratio(ratio(flood_time, plain_time))]]
    for counter, what in (("resident_per_text", "resident bytes per text"),
                          ("heap_per_text", "heap bytes per text")):
        ours, theirs = per_text(flood, counter), per_text(plain, counter)
        flood_rows.append([what, "n/a" if ours is None else f"{ours:.1f}",
                           "n/a" if theirs is None else f"{theirs:.1f}", show_ratio(ratio(ours, theirs))])
    section("Interning texts of one hash",
            "300,000 texts of 12 bytes that all have one CRC-32 (the host hash), as an input can make them, "
            "against 300,000 ordinary identifiers of 12 bytes; each set is interned into a fresh table in a "
            "child process, whose processor time is shown. The bucket count stays bounded, and lookups go "
            "through an index keyed by a secret, whatever the hashes. Heap bytes count mapped arrays whole; the "
            "resident bytes count only the pages in use.",
            ["", "one hash", "ordinary", "one hash ÷ ordinary"], flood_rows)
    summary.append(("`TableString` of 300,000 texts of one hash", "300,000 ordinary texts",
                    ratio(flood_time, plain_time)))

    # string_bench: the bytes per text of each container, as counters of one benchmark.
    CONTAINERS = (("TableString", "`TableString`"), ("absl", "absl `flat_hash_set<std::string>`"),
                  ("std", "`std::unordered_set<std::string>`"))
    memory = counters.get(("string_bench", "BM_MemoryPerText"), {})
    median("string_bench", "BM_MemoryPerText")
    memory_rows = []
    for key, container in CONTAINERS:
        heap, resident = memory.get(key + "_heap"), memory.get(key + "_resident")
        memory_rows.append([container, "n/a" if heap is None else f"{heap:.1f}",
                            "n/a" if resident is None else f"{resident:.1f}"])
    if memory:
        section("Memory per interned text",
                "Each container built of the same 1,000,000 texts in a fresh child process; heap bytes "
                "in use and resident bytes, per text.", ["container", "heap bytes", "resident bytes"],
                memory_rows)
        summary.append(("`TableString` memory per text (heap)", "`absl::flat_hash_set<std::string>`",
                        ratio(memory.get("TableString_heap"), memory.get("absl_heap"))))

    # path_bench: the path functions against Boost.Filesystem.
    path_pairs = [
        ("`leaf`", "BM_VeskLeaf", "`path::filename`", "BM_BoostFilename"),
        ("`basename`", "BM_VeskBasename", "`path::stem`", "BM_BoostStem"),
        ("`extension`", "BM_VeskExtension", "`path::extension`", "BM_BoostExtension"),
        ("`dirname`", "BM_VeskDirname", "`path::parent_path`", "BM_BoostParentPath"),
        ("all four", "BM_VeskAllFour", "all four on one `path`", "BM_BoostAllFour"),
    ]
    section("Path names against Boost.Filesystem",
            "Every path under /usr/include, as a std::string; time for the whole list.", PAIR_HEADER,
            pair_rows("path_bench", path_pairs))
    summary.append(("`leaf`, `basename`, `extension`, `dirname`", "Boost.Filesystem `path`",
                    ratio(median("path_bench", "BM_VeskAllFour"), median("path_bench", "BM_BoostAllFour"))))

    # file_bench: tree removal, deep creation and directory walks against the tools and readdir.
    file_pairs = [
        ("`remove_directory`, 20,000 files in 200 directories", "BM_RemoveTree_Vesk",
         "`rm -rf`", "BM_RemoveTree_RmRf"),
        ("`remove_directory`, 20,000 files in 200 directories", "BM_RemoveTree_Vesk",
         "a hand-written `openat`/`fdopendir`/`unlinkat` walk in the same process",
         "BM_RemoveTree_HandWalk"),
        ("`create_directory`, 30 levels", "BM_CreateDeep_Vesk", "`mkdir -p`", "BM_CreateDeep_MkdirP"),
        ("`DirectoryIterator`, 100,002 entries", "BM_Walk_DirectoryIterator",
         "`readdir` loop", "BM_Walk_Readdir"),
    ]
    file_rows = pair_rows("file_bench", file_pairs)
    # create_directory and the mkdir loop take turns within each iteration (the cost of a mkdir on
    # ext4 depends on the removals of the last minute): the ratio is theirs in the same iterations,
    # and the loop's time is the one measured beside create_directory's.
    create_row, per_loop = turns_row("file_bench", "BM_CreateDeep_Vesk", "`create_directory`, 30 levels",
                                     "a `mkdir` loop in the same process, in alternation")
    median("file_bench", "BM_CreateDeep_MkdirLoop")
    file_rows.insert(3, create_row)
    section("File system against `rm -rf`, `mkdir -p` and `readdir`",
            "Real time; `rm` and `mkdir` run as child processes, so their figures include a process start.",
            PAIR_HEADER, file_rows)
    summary.append(("`remove_directory`, 20,000 files", "`rm -rf`",
                    ratio(median("file_bench", "BM_RemoveTree_Vesk"), median("file_bench", "BM_RemoveTree_RmRf"))))
    summary.append(("`remove_directory`, 20,000 files", "hand-written descriptor walk",
                    ratio(median("file_bench", "BM_RemoveTree_Vesk"), median("file_bench", "BM_RemoveTree_HandWalk"))))
    summary.append(("`create_directory`, 30 levels", "`mkdir -p`",
                    ratio(median("file_bench", "BM_CreateDeep_Vesk"), median("file_bench", "BM_CreateDeep_MkdirP"))))
    summary.append(("`create_directory`, 30 levels", "`mkdir` loop in the same process, in alternation",
                    per_loop))
    summary.append(("`DirectoryIterator`, 100,002 entries", "`readdir`",
                    ratio(median("file_bench", "BM_Walk_DirectoryIterator"),
                          median("file_bench", "BM_Walk_Readdir"))))

    # ----- curves: how each cost grows with the work ------------------------------------------------

    curve_dir = os.path.join(out_dir, "benchmark-curves")
    os.makedirs(curve_dir, exist_ok=True)
    curves = []    # (title, note, picture file, header, rows)


    def count_name(n):
        return f"10^{len(str(n)) - 1}" if str(n).strip("0") == "1" else f"{n:,}"


    def plot(file_name, panels):
        """panels: [(title, x label, y label, {series: [(x, y)]}, y on a log scale)]; x always is."""
        figure, axes = plt.subplots(1, len(panels), figsize=(5.2 * len(panels), 4.2), squeeze=False)
        for axis, (title, x_label, y_label, series, y_log) in zip(axes[0], panels):
            for name, points in series.items():
                points = [(x, y) for x, y in points if y]
                if points:
                    axis.plot([x for x, _ in points], [y for _, y in points], marker="o", label=name)
            axis.set_xscale("log")
            if y_log:
                axis.set_yscale("log")
            else:
                axis.set_ylim(bottom=0)
            axis.set_title(title)
            axis.set_xlabel(x_label)
            axis.set_ylabel(y_label)
            axis.grid(True, which="both", alpha=0.3)
            axis.legend(fontsize="small")
        figure.tight_layout()
        figure.savefig(os.path.join(curve_dir, file_name), dpi=90)
        plt.close(figure)


    def show_rate(bytes_per_second):
        if not bytes_per_second:
            return "n/a"
        return show_scaled(bytes_per_second, (("GB/s", 1e9), ("MB/s", 1e6), ("kB/s", 1e3)), "B/s")


    def sizes_of(program, prefix):
        return sorted({int(name[len(prefix):]) for (p, name) in medians
                       if p == program and name.startswith(prefix) and name[len(prefix):].isdigit()})


    def rate(program, name, size):
        ns = median(program, name)
        return size / ns * 1e9 if ns else None


    # Interning: one benchmark per size, with counters for each container.
    intern_points = {}   # container -> [(texts, new ns, hit ns, heap bytes)]
    for texts in sizes_of("string_bench", "BM_InterningCurve/"):
        point = counters.get(("string_bench", f"BM_InterningCurve/{texts}"), {})
        median("string_bench", f"BM_InterningCurve/{texts}")
        for key, _ in CONTAINERS:
            if key + "_new_ns" in point:
                intern_points.setdefault(key, []).append(
                    (texts, point[key + "_new_ns"], point[key + "_hit_ns"], point[key + "_heap"]))
    if intern_points:
        names = dict(CONTAINERS)
        ours = {p[0]: p for p in intern_points.get("TableString", [])}
        absl_points = {p[0]: p for p in intern_points.get("absl", [])}
        rows = []
        for texts in sorted({p[0] for points in intern_points.values() for p in points}):
            for container, points in intern_points.items():
                for _, new_ns, hit_ns, heap in (p for p in points if p[0] == texts):
                    row = [count_name(texts), names.get(container, container), f"{new_ns:.0f} ns",
                           f"{hit_ns:.0f} ns", f"{heap:.1f}"]
                    if container == "TableString" and texts in absl_points:
                        peer = absl_points[texts]
                        row += [show_ratio(ratio(new_ns, peer[1])), show_ratio(ratio(hit_ns, peer[2])),
                                show_ratio(ratio(heap, peer[3]))]
                    else:
                        row += ["", "", ""]
                    rows.append(row)
        labels = {"TableString": "TableString", "absl": "absl::flat_hash_set", "std": "std::unordered_set"}
        plot("interning.png", [
            ("Interning a new text", "distinct texts", "CPU ns per new text",
             {labels[c]: [(p[0], p[1]) for p in pts] for c, pts in intern_points.items()}, True),
            ("Looking up a present text", "distinct texts", "CPU ns per hit",
             {labels[c]: [(p[0], p[2]) for p in pts] for c, pts in intern_points.items()}, True),
            ("Memory", "distinct texts", "heap bytes per text",
             {labels[c]: [(p[0], p[3]) for p in pts] for c, pts in intern_points.items()}, False),
        ])
        curves.append(("Interning, 10^4 to 10^7 texts",
                       "Identifiers of 8 to 16 bytes, each container built from empty in a fresh child "
                       "process and each text then looked up through a separate copy in shuffled order, in "
                       "three passes of which the median counts; CPU time per text and heap in use per "
                       "text (medians of five children up to 10^5 texts, of three at 10^6, one at 10^7; "
                       "the containers take turns, one child each). The ratios are the library's "
                       "against absl.",
                       "interning.png",
                       ["texts", "container", "per new text", "per hit", "heap bytes per text",
                        "new ÷ absl", "hit ÷ absl", "bytes ÷ absl"], rows))
        for texts in (1000000, 10000000):
            if texts in ours and texts in absl_points:
                summary.append((f"`TableString` lookup of a present text, {count_name(texts)} texts",
                                "`absl::flat_hash_set::find`", ratio(ours[texts][2], absl_points[texts][2])))

    # Hashing: bytes per second from 1 byte to 1 GiB.
    crc_sizes = [n for n in sizes_of("host_bench", "BM_HostHash/")
                 if (n & (n - 1)) == 0 and ((n.bit_length() - 1) % 4 == 0 or n == 1 << 30)]
    md5_sizes = sizes_of("hash_bench", "BM_VeskMd5Bytes/")
    if crc_sizes or md5_sizes:
        rows = []
        for n in sorted(set(crc_sizes) | set(md5_sizes)):
            host, zlib_rate, isal = (rate("host_bench", f"{b}/{n}", n)
                                     for b in ("BM_HostHash", "BM_ZlibCrc32", "BM_IsalCrc32"))
            vesk_md5, openssl = (rate("hash_bench", f"{b}/{n}", n) for b in ("BM_VeskMd5Bytes", "BM_OpenSslMd5"))
            speed = lambda a, b: f"{a / b:.2f}" if a and b else "n/a"
            rows.append([size_name(n), show_rate(host), show_rate(zlib_rate), show_rate(isal),
                         speed(host, zlib_rate), speed(host, isal),
                         show_rate(vesk_md5), show_rate(openssl), speed(vesk_md5, openssl)])
        plot("hashing.png", [
            ("CRC-32", "bytes per call", "bytes per second",
             {"host_hash_n_bytes": [(n, rate("host_bench", f"BM_HostHash/{n}", n)) for n in crc_sizes],
              "zlib crc32": [(n, rate("host_bench", f"BM_ZlibCrc32/{n}", n)) for n in crc_sizes],
              "ISA-L crc32_gzip_refl": [(n, rate("host_bench", f"BM_IsalCrc32/{n}", n)) for n in crc_sizes]},
             True),
            ("MD5", "bytes per digest", "bytes per second",
             {"vesk_md5_bytes": [(n, rate("hash_bench", f"BM_VeskMd5Bytes/{n}", n)) for n in md5_sizes],
              "OpenSSL MD5()": [(n, rate("hash_bench", f"BM_OpenSslMd5/{n}", n)) for n in md5_sizes]},
             True),
        ])
        curves.append(("Hashing, 1 B to 1 GiB",
                       "Random bytes, one call per iteration, CPU time; the ratios are of speeds (above 1 "
                       "the library is faster).", "hashing.png",
                       ["bytes", "host hash", "zlib crc32", "ISA-L", "host ÷ zlib (speed)", "host ÷ ISA-L (speed)",
                        "`vesk_md5_bytes`", "OpenSSL `MD5()`", "ours ÷ OpenSSL (speed)"], rows))

    # remove_directory against rm -rf.
    remove_sizes = sizes_of("file_bench", "BM_RemoveCurve_Vesk/")
    if remove_sizes:
        rows = []
        for n in remove_sizes:
            ours_ns, rm_ns = median("file_bench", f"BM_RemoveCurve_Vesk/{n}"), median("file_bench", f"BM_RemoveCurve_RmRf/{n}")
            rows.append([count_name(n), show_time(ours_ns), show_time(rm_ns),
                         f"{ours_ns / n / 1e3:.1f} µs" if ours_ns else "n/a",
                         f"{rm_ns / n / 1e3:.1f} µs" if rm_ns else "n/a", show_ratio(ratio(ours_ns, rm_ns))])
        plot("remove_directory.png", [
            ("Removing a tree", "files in the tree", "real µs per file",
             {"remove_directory": [(n, (median("file_bench", f"BM_RemoveCurve_Vesk/{n}") or 0) / n / 1e3) for n in remove_sizes],
              "rm -rf": [(n, (median("file_bench", f"BM_RemoveCurve_RmRf/{n}") or 0) / n / 1e3) for n in remove_sizes]},
             True),
        ])
        curves.append(("`remove_directory`, 10^2 to 10^6 files",
                       "Empty files, 100 to a directory and 100 directories to a directory above them; real "
                       "time, `rm -rf` in a child process (so its figure includes a process start). Each "
                       "size is removed in five repetitions (each the mean of 20 removals at 10^2 files, "
                       "of 5 at 10^3), 10^5 files three times, 10^6 once; every tree is made before "
                       "the first removal.",
                       "remove_directory.png",
                       ["files", "`remove_directory`", "`rm -rf`", "per file", "per file (rm)", "library ÷ peer"], rows))

    # convert_data against memcpy of the larger array.
    convert_sizes = sizes_of("data_bench", "BM_MemcpyCurve/")
    if convert_sizes:
        pairs = [("REAL → INTEGER", "1/2"), ("REAL → UINTEGER", "1/3"), ("INTEGER → REAL", "2/1")]
        rows = []
        for n in convert_sizes:
            peer = median("data_bench", f"BM_MemcpyCurve/{n}")
            row = [count_name(n), f"{peer / n:.3g} ns" if peer else "n/a"]
            for _, key in pairs:
                ours_ns = median("data_bench", f"BM_ConvertCurve/{key}/{n}")
                row += [f"{ours_ns / n:.3g} ns" if ours_ns else "n/a", show_ratio(ratio(ours_ns, peer))]
            rows.append(row)
        series = {f"convert_data {what}": [(n, (median("data_bench", f"BM_ConvertCurve/{key}/{n}") or 0) / n)
                                           for n in convert_sizes] for what, key in pairs}
        series["memcpy of 8-byte elements"] = [(n, (median("data_bench", f"BM_MemcpyCurve/{n}") or 0) / n)
                                               for n in convert_sizes]
        plot("convert_data.png", [("Converting an array", "elements", "CPU ns per element", series, True)])
        header = ["elements", "memcpy, 8 B each"]
        for what, _ in pairs:
            header += [what, "÷ memcpy"]
        curves.append(("`convert_data`, 10^3 to 10^8 elements",
                       "The same values as the table above, CPU time per element; the peer copies as many "
                       "8-byte elements, so from cache-resident arrays to memory-bound ones.",
                       "convert_data.png", header, rows))

    # Everything that no comparison above names, so that a new benchmark is never lost.
    other_rows = []
    for (program, name), ns in sorted(medians.items()):
        if (program, name) not in used:
            label = labels.get((program, name), "")
            other_rows.append([f"{program}", f"`{name}`", show_time(ns), label])

    # ----- machine ----------------------------------------------------------------------------------


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
        with open(path) as f:
            return f.read().strip()


    context = next(iter(contexts.values()), {})
    loads = ", ".join(f"{program} {read(os.path.join(results, program + '.load-before'))} → "
                      f"{read(os.path.join(results, program + '.load-after'))}" for program in programs)
    # The run's date: when the first program started, from its own record.
    started = contexts[programs[0]].get("date", "") if programs and programs[0] in contexts else ""
    try:
        now = datetime.datetime.fromisoformat(started).astimezone(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    except ValueError:
        now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    peers = ", ".join(f"{name} {package_version(package)}" for name, package in (
        ("glibc", "libc6"), ("OpenSSL", "libssl-dev"), ("zlib", "zlib1g-dev"), ("ISA-L", "libisal-dev"),
        ("libdeflate", "libdeflate-dev"), ("absl", "libabsl-dev"), ("Boost", "libboost-filesystem-dev"),
        ("coreutils", "coreutils"), ("Google Benchmark", "libbenchmark-dev")))

    machine = [
        ("Date", now),
        ("CPU", f"{cpu_model()}, {os.cpu_count()} logical cores"
                + (f", {context['mhz_per_cpu']} MHz" if context.get("mhz_per_cpu") else "")),
        ("Compiler", os.environ.get("VESK_BENCH_COMPILER", "unknown") + ", release preset (-O3)"),
        ("Peers", peers),
        ("Load average (1, 5, 15 min) before → after each program", loads),
        ("Flags", "`" + os.environ.get("VESK_BENCH_FLAGS", "").strip() + "`"),
    ]


    def table(header, rows):
        out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
        out += ["| " + " | ".join(row) + " |" for row in rows]
        return "\n".join(out)


    summary_table = table(["library", "peer", "library ÷ peer (time)"],
                          [[what, peer, show_ratio(r)] for what, peer, r in summary])

    # ----- BENCHMARKS.md ------------------------------------------------------------------------------

    doc = ["# Benchmarks", "",
           "Made by `scripts/run-benchmarks`, which builds the release preset, runs every program of "
           "`bench/` (Google Benchmark, 5 repetitions) and writes this file. Every figure is the median "
           "of the repetitions; the library and its peer run in the same process, one after the other. "
           "**library ÷ peer** is the ratio of their times: below 1 the library is faster, above 1 "
           "slower. Compare ratios of one run only: the machine is shared, and its load is noted below.",
           "", "## Machine", "", table(["", ""], [[k, v] for k, v in machine]), "",
           "## Summary", "", summary_table, ""]
    for title, note, header, rows in sections:
        doc += [f"## {title}", "", note, "", table(header, rows), ""]
    for title, note, picture, header, rows in curves:
        doc += [f"## Curve: {title}", "", note, "", f"![{title}](benchmark-curves/{picture})", "",
                table(header, rows), ""]
    if other_rows:
        doc += ["## Other figures", "", "Benchmarks with no peer named above (medians).", "",
                table(["program", "benchmark", "time", "label"], other_rows), ""]
    with open(os.path.join(out_dir, "BENCHMARKS.md"), "w") as f:
        f.write("\n".join(doc))

    # ----- README summary -------------------------------------------------------------------------

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
