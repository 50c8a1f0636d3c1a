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
                        os.path.join(HERE, "testdata"), "hash_bench", "data_bench", "string_bench",
                        "file_bench",
                        "--out", cls.out.name, "--no-readme"],
                       check=True, env=environment, capture_output=True)
        with open(os.path.join(cls.out.name, "BENCHMARKS.md")) as f:
            cls.page = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.out.cleanup()

    def test_pairs_are_the_ratio_of_their_medians(self):
        self.assertIn("| `vesk_md5_bytes`, 16 B | 40 ns | OpenSSL `MD5()`, 16 B | 50 ns | **0.80** |",
                      self.page)
        self.assertIn("| OpenSSL `EVP_Digest` (MD5), 16 B | 80 ns | **0.50** |", self.page)

    def test_pairs_in_turns_take_the_ratio_of_the_same_iterations(self):
        self.assertIn("| `create_directory`, 30 levels | 1.5 ms | a `mkdir` loop in the same "
                      "process, in alternation | 1.2 ms | **1.25** |", self.page)
        self.assertIn("| REAL → INTEGER | 2 ms | memcpy of 8-byte elements | 2.5 ms | **0.80** |",
                      self.page)

    def test_the_summary_names_each_figure_once(self):
        summary = self.page.split("## Summary", 1)[1].split("\n## ", 1)[0]
        self.assertIn("| `vesk_md5_bytes`, 16 B | OpenSSL `MD5()` | **0.80** |", summary)
        self.assertIn("| `create_directory`, 30 levels | `mkdir -p` | **0.50** |", summary)
        self.assertEqual(summary.count("`vesk_md5_bytes`, 16 B |"), 1)

    def test_figures_of_counters_are_read_from_the_results(self):
        self.assertIn("| `TableString` | 60.0 | 61.0 |", self.page)
        self.assertIn("| `TableString` memory per text (heap) | `absl::flat_hash_set<std::string>` "
                      "| **0.80** |", self.page)
        self.assertIn("| 10^4 | `TableString` | 700 ns | 150 ns | 64.0 | **0.70** | **0.50** | **1.10** |",
                      self.page)

    def test_a_missing_peer_is_shown_as_such(self):
        self.assertIn("| `vesk_md5_bytes`, 16 MiB | n/a | OpenSSL `MD5()`, 16 MiB | n/a | n/a |",
                      self.page)

    def test_a_benchmark_no_pair_names_is_still_shown(self):
        others = self.page.split("## Other figures", 1)[1]
        self.assertIn("| hash_bench | `BM_UnpairedFixture` | 7 ns |", others)


if __name__ == "__main__":
    unittest.main()
