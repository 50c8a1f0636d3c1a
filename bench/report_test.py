#!/usr/bin/env python3
"""Runs report.py over the small set of results in testdata/ and checks the page it writes."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


class ReportOfFixedResults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.TemporaryDirectory()
        environment = dict(os.environ, VESK_BENCH_QUICK="0")
        subprocess.run([sys.executable, os.path.join(HERE, "report.py"),
                        os.path.join(HERE, "testdata"), "first_bench", "second_bench",
                        "--out", cls.out.name, "--no-readme"],
                       check=True, env=environment, capture_output=True)
        with open(os.path.join(cls.out.name, "BENCHMARKS.md")) as f:
            cls.page = f.read()
        cls.summary = cls.page.split("## Summary", 1)[1].split("\n## ", 1)[0]

    @classmethod
    def tearDownClass(cls):
        cls.out.cleanup()

    def test_rows_show_what_the_program_declared(self):
        for row in (
                # the ratio of two medians
                "| `ours`, 16 B | 40 ns | peer, 16 B | 50 ns | **0.80** |  |",
                # a peer that did not run
                "| `ours`, 16 B | 40 ns | absent peer | n/a | n/a |  |",
                # in turns: the ratio counter of the same iterations, and the ratio of the means
                "| ours in turns | 2 ms | peer in turns | 2.5 ms | **0.75** | 1.10 |",
                # counters that are no times
                "| ours, heap bytes | 60.0 | peer, heap bytes | 75.0 | **0.80** |"):
            self.assertIn(row, self.page)

    def test_the_machine_shows_the_turns_made_again_of_the_medians(self):
        self.assertIn("the host took the processors (share of the kept turns' time it took) | "
                      "BM_Turns 0.25 (1.2 %) |", self.page)

    def test_the_summary_takes_its_lines_in_the_order_declared(self):
        # The median of a table's rows stands where the table was declared.
        lines = ["| `ours`, 16 B | peer | **0.80** |",
                 "| ours in turns | peer in turns | **1.10** |",
                 "| every counter row (median row; 0.80 to 0.80) | peers | **0.80** |",
                 "| `ours`, 1 KiB | peer | **2.00** |"]
        positions = [self.summary.find(line) for line in lines]
        self.assertNotIn(-1, positions, self.summary)
        self.assertEqual(positions, sorted(positions))

    def test_a_curve_is_drawn_and_tabled_as_speeds(self):
        self.assertTrue(os.path.exists(os.path.join(self.out.name, "benchmark-curves", "rates.png")))
        self.assertIn("| bytes | ours | peer | ours ÷ peer (speed) |", self.page)
        self.assertIn("| 16 B | 400 MB/s | 320 MB/s | **1.25** |", self.page)
        self.assertIn("| 1 KiB | 1.02 GB/s | 2.05 GB/s | **0.50** |", self.page)

    def test_a_lock_model_shows_its_inputs_predictions_and_check(self):
        model = self.page.split("## Model: A lock", 1)[1]
        for row in (
                # one thread's 400 ns less 20 and 80 outside the lock, above Amdahl's
                # (2 x 250 / 400 - 1) x 400 = 100
                "| **lock held per insertion: the larger of the two, used below** | 300 ns |",
                # Z = 0.9 x 80 + 0.1 x (400 - 300), D = 0.1 x 300
                "| 10 % | 82 ns | 30 ns | 0.268 | 3.7 |",
                # Amdahl 1 / (s + (1 - s) / n); the queue by mean-value analysis, which at 64
                # threads has reached the ceiling
                "| 2 | 1.58 | 1.87 |",
                "| 64 | 3.58 | 3.73 |",
                "| mix, 2 threads (10 % insertions) | 1.58 | 1.87 | 1.60 |",
                "| hit, 2 threads (no lock) | 2.00 | 2.00 | 2.00 |"):
            self.assertIn(row, model)

    def test_a_lock_model_of_regions_spreads_the_lock_over_them(self):
        model = self.page.split("## Model: Locks by region", 1)[1].split("\n## ", 1)[0]
        for row in (
                # H = 300 as above; the 100 of Amdahl's is what the busiest of the 4 locks
                # holds, (300 - G) / 4 + G, so G = (100 - 75) / (3 / 4)
                "| of which under every region's lock, G: Amdahl's taken as the busiest lock's "
                "(H − G) / R + G and solved, at least 0 | 33.3 ns |",
                "| of which under its region's lock alone, H − G | 267 ns |",
                # Z = 82 as above, D_r = 0.1 x 266.7 / 4, D_a = 0.1 x 33.3; one thread takes
                # 82 + 4 x 6.67 + 3.33 = 112, of which the busiest lock 10
                "| 10 % | 82 ns | 6.67 ns | 3.33 ns | 0.089 | 11.2 |",
                # Amdahl 1 / (s + (1 - s) / n), s = 10 / 112. The queue at 2 threads: one
                # thread leaves Q_r = 6.67 / 112 at each region's lock and Q_a = 3.33 / 112 at
                # every lock, so R_a = 3.33 x 1.0298 = 3.43, and at the throughput X of two
                # threads each region's lock serves 6.67 / (1 - 3.33 X / 2), the other
                # thread's share: X = 2 / 114.5 gives R_r = 6.87 x 1.0595 = 7.28,
                # 82 + 4 x 7.28 + 3.43 = 114.5 again, and a speedup of 2 x 112 / 114.5 = 1.96
                "| 2 | 1.84 | 1.96 |",
                "| 64 | 9.66 | ",
                "| mix, 2 threads (10 % insertions) | 1.84 | 1.96 | 1.60 |"):
            self.assertIn(row, model)
        # The queue lets threads work while others wait but cannot keep the busiest lock
        # busier than all the time: at 64 threads it lies between Amdahl's and the ceiling.
        queue = float(model.split("| 64 | 9.66 | ", 1)[1].split(" ", 1)[0])
        self.assertTrue(9.66 < queue < 11.2, queue)

    def test_a_lock_model_takes_the_time_under_every_lock_measured_and_shared(self):
        model = self.page.split("## Model: Locks by region, measured", 1)[1].split("\n## ", 1)[0]
        for row in (
                # G measured, 40 of the H = 300 by subtraction; the rest over the 4 regions
                "| of which under every region's lock, G: passes | 40 ns |",
                "| of which under its region's lock alone, H − G | 260 ns |",
                # Z = 82, D_r = 0.1 x 260 / 4, D_a = 0.1 x 40; one thread takes 82 + 26 + 4 =
                # 112; on many threads the busiest lock holds 6.5 + 4 / 2, shared by 2
                "| 10 % | 82 ns | 6.5 ns | 4 ns | 0.076 | 13.2 |",
                # Amdahl's at 2 threads: of one thread's 112 ns, 6.5 + 4 / 2 serial:
                # 1 / (0.0759 + 0.9241 / 2)
                "| 2 | 1.86 |"):
            self.assertIn(row, model)

    def test_a_benchmark_no_declaration_names_is_still_shown(self):
        others = self.page.split("## Other figures", 1)[1]
        self.assertIn("| first_bench | `BM_Unpaired` | 7 ns |", others)
        self.assertNotIn("BM_Ours", others)


if __name__ == "__main__":
    unittest.main()
