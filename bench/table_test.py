#!/usr/bin/env python3
"""The table maker: medians chosen from the reports, units, ratios and goals, failures shown."""
import json
import os
import subprocess
import tempfile
import unittest

import table


def bench(name, real_time, unit="ns", aggregate=None, cpu_time=None, **extra):
    b = {"name": name + ("_" + aggregate if aggregate else ""), "run_name": name, "real_time": real_time,
         "cpu_time": real_time if cpu_time is None else cpu_time, "time_unit": unit,
         "run_type": "aggregate" if aggregate else "iteration"}
    if aggregate:
        b["aggregate_name"] = aggregate
    b.update(extra)
    return b


class TableTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def report(self, name, benchmarks):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", encoding="utf-8") as f:
            json.dump({"context": {}, "benchmarks": benchmarks}, f)
        return path

    def test_the_median_of_each_benchmark_is_compared_whatever_its_unit(self):
        a = self.report("a.json", [
            bench("Fig", 900, "ns", "mean"), bench("Fig", 2, "us", "median"), bench("Fig", 50, "ns", "stddev"),
        ])
        b = self.report("b.json", [bench("Base", 1000, "ns", "median"), bench("Base", 1.5, "us", "mean")])
        medians, errors = table.load_medians([a, b])
        self.assertEqual(errors, {})
        cases = [
            (("x", "Fig", "Base", ("<=", 2.0)), ["2 us", "1 us", "2.00x", "<= 2.00x", "yes"]),
            (("x", "Fig", "Base", ("<=", 1.5)), ["2 us", "1 us", "2.00x", "<= 1.50x", "NO"]),
            (("x", "Base", "Fig", ("<=", 0.5)), ["1 us", "2 us", "0.50x", "<= 0.50x", "yes"]),
            (("x", "Fig", "Base", None), ["2 us", "1 us", "2.00x", "-", "-"]),
        ]
        for row, expected in cases:
            self.assertEqual(table.evaluate(row, medians, errors)[1:], expected, row)

    def test_single_runs_count_when_there_are_no_aggregates_and_real_time_is_no_part_of_the_name(self):
        a = self.report("a.json", [bench("Fig/real_time", 3, "ms"), bench("Base", 1, "ms")])
        medians, errors = table.load_medians([a])
        self.assertEqual(table.evaluate(("x", "Fig", "Base", ("<=", 2.0)), medians, errors)[3:], ["3.00x", "<= 2.00x", "NO"])

    def test_each_benchmark_is_timed_by_its_own_clock(self):
        # A process-running benchmark spends its time waiting (tiny CPU time): only real time
        # counts there. An in-process one counts its CPU time.
        a = self.report("a.json", [
            bench("Spawn/real_time", 200, "ms", "median", cpu_time=0.4),
            bench("Work", 900, "ms", "median", cpu_time=100),
            bench("Other", 100, "ms", "median", cpu_time=50),
        ])
        medians, errors = table.load_medians([a])
        self.assertEqual(table.evaluate(("x", "Spawn", "Work", None), medians, errors)[1:4], ["200 ms", "100 ms", "2.00x"])
        self.assertEqual(table.evaluate(("x", "Work", "Other", None), medians, errors)[3], "2.00x")

    def test_throughput_rows_compare_items_per_second(self):
        a = self.report("a.json", [
            bench("Async", 40, "ms", "median", items_per_second=2.5e6),
            bench("Bare", 10, "ms", "median", items_per_second=1e7),
            bench("NoItems", 10, "ms", "median"),
        ])
        medians, errors = table.load_medians([a])
        self.assertEqual(table.evaluate(("x", "Async", "Bare", ("throughput >=", 0.5)), medians, errors)[3:],
                         ["0.25x", "throughput >= 0.50x", "NO"])
        self.assertEqual(table.evaluate(("x", "Bare", "Async", ("throughput >=", 0.5)), medians, errors)[3:],
                         ["4.00x", "throughput >= 0.50x", "yes"])
        self.assertIn("NOT MEASURED", table.evaluate(("x", "NoItems", "Bare", ("throughput >=", 0.5)), medians, errors)[5])

    def test_failed_and_missing_benchmarks_are_shown_not_dropped(self):
        a = self.report("a.json", [
            {"name": "Broken", "run_name": "Broken", "error_occurred": True, "error_message": "wrong answer 4"},
            bench("Base", 1, "ns", "median"),
        ])
        medians, errors = table.load_medians([a])
        rows = [("broken row", "Broken", "Base", ("<=", 1.0)), ("absent row", "Base", "Absent", ("<=", 1.0))]
        text = table.table(rows, medians, errors)
        self.assertIn("NOT MEASURED (Broken: wrong answer 4)", text)
        self.assertIn("NOT MEASURED (Absent: not run)", text)
        # one header, one rule, one line per row, every line as wide as the others
        lines = text.splitlines()
        self.assertEqual(len(lines), 2 + len(rows))
        self.assertEqual(len({len(line) for line in lines}), 1)


    def test_the_document_gets_the_table_between_its_markers_and_keeps_the_rest(self):
        path = os.path.join(self.dir.name, "doc.md")
        for old in ("", "| stale |\n| table |\n"):
            with open(path, "w", encoding="utf-8") as f:
                f.write("# Method\n\n%s\n%s%s\n\nAfter.\n" % (table.DOC_START, old, table.DOC_END))
            table.write_into_document(path, "note\n\n| new |")
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read(), "# Method\n\n%s\nnote\n\n| new |\n%s\n\nAfter.\n" % (table.DOC_START, table.DOC_END))
        with open(path, "w", encoding="utf-8") as f:
            f.write("no markers\n")
        self.assertRaises(ValueError, table.write_into_document, path, "| new |")
        with open(path, encoding="utf-8") as f:
            self.assertEqual(f.read(), "no markers\n")

@unittest.skipUnless(os.environ.get("ORB_BENCH_BIN"), "ORB_BENCH_BIN names the built benchmark programs")
class RowsTest(unittest.TestCase):
    PROGRAMS = ["bench_call", "bench_async", "bench_manifest", "bench_tools"]

    def test_every_row_names_benchmarks_the_programs_have(self):
        # A renamed benchmark would otherwise leave its row NOT MEASURED on every run.
        names = set()
        for program in self.PROGRAMS:
            listed = subprocess.run([os.path.join(os.environ["ORB_BENCH_BIN"], program), "--benchmark_list_tests"],
                                    check=True, capture_output=True, text=True).stdout.split()
            names.update(n[: -len("/real_time")] if n.endswith("/real_time") else n for n in listed)
        for what, figure, baseline, _ in table.ROWS:
            self.assertIn(figure, names, what)
            self.assertIn(baseline, names, what)


if __name__ == "__main__":
    unittest.main()
