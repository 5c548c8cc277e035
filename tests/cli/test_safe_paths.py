#!/usr/bin/python3
"""Nothing a user gives is destroyed by vornakite-convert: the summary and the report never
replace a log, an output of the batch or a file the program did not write; no set replaces a log;
CSV text is safe in spreadsheets; folder walks leave the program's outputs alone and skip nothing
silently.

Usage: test_safe_paths.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]
"""

import csv
import io
import json
import os
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_cli  # noqa: E402
from test_cli import ConverterTestCase, log_text, sample_logs, summary  # noqa: E402


def snapshot(folder):
    """Every file under `folder` with its bytes, and every folder."""
    files = {}
    for root, dirs, names in os.walk(folder):
        for name in dirs:
            files[os.path.join(root, name)] = None
        for name in names:
            path = os.path.join(root, name)
            files[path] = os.readlink(path) if os.path.islink(path) else Path(path).read_bytes()
    return files


def processed(out):
    return [line for line in out.splitlines() if line.startswith("Processing ")]


class RefusedPaths(ConverterTestCase):
    def test_a_report_or_summary_over_a_log_or_an_output_is_a_usage_error(self):
        season = self.cwd / "season"
        season.mkdir()
        for name in ("a.Vornakite", "b.Vornakite"):
            (season / name).write_text(log_text("A", "B", name[0]))
        log = self.cwd / "log.txt"
        log.write_text(log_text("A", "B", "C"))
        self.assertEqual(self.run_converter("-q", "--summary", log)[0], 0)
        os.link(season / "a.Vornakite", season / "a-link.html")
        (self.cwd / "sub").mkdir()
        logs = sorted(str(p.relative_to(self.cwd)) for p in season.glob("*.Vornakite"))
        cases = [
            # as a shell expands --report season/*.Vornakite
            ["--clean", "--report", *logs],
            ["--report", "log.txt", "log.txt"],
            ["--report", "NOTES.TXT", "log.txt"],
            ["--report", "Rx/A_B_C.shp", "log.txt"],
            ["--report", "sub/../Rx/A_B_C.dbf", "log.txt"],
            ["--format", "geojson", "--report", "Rx/A_B_C.geojson", "log.txt"],
            ["--clean", "--report", "Rx/A_B_C_removed.shx", "log.txt"],
            ["--summary", "--report", "Rx/summary.csv", "log.txt"],
            ["--report", "season/a-link.html", "season"],
            ["--summary", "Rx/summary.csv"],
            ["--summary", "-o", "sub/../Rx", "log.txt", "Rx/summary.csv"],
        ]
        shutil.copy(log, self.cwd / "Rx" / "summary.csv")  # a log at the summary's name
        for args in cases:
            with self.subTest(args=args):
                before = snapshot(self.tmp)
                rc, out, err = self.run_converter(*args)
                self.assertEqual((rc, out), (2, ""))
                self.assertTrue(err.startswith("vornakite-convert: "), err)
                self.assertIn("usage: vornakite-convert", err)
                self.assertEqual(snapshot(self.tmp), before)

    def test_a_summary_or_report_replaces_only_an_earlier_one_unless_forced(self):
        log = sample_logs()[0]
        earlier = {}
        for kind, option in (("report", ["--report", "r.html"]), ("summary", ["--summary"])):
            self.assertEqual(self.run_converter("-q", "-o", "first", *option, log)[0], 0)
            made = self.cwd / ("r.html" if kind == "report" else "first/summary.csv")
            earlier[kind] = made.read_bytes() + b"\n<!-- earlier -->\n"
        foreign = b"Season 2025 notes, kept by hand\n"
        shown = {"report": "r.html", "summary": "out/summary.csv"}
        not_ours = "Not replaced: not a %s of this program (--force replaces it)"
        kept = "Not replaced: it exists already (--no-clobber)"
        # kind, bytes there before, options, whether replaced, error and its code
        cases = [
            ("report", earlier["report"], [], True, None, None),
            ("report", foreign, [], False, not_ours % "report", "not_replaced"),
            ("report", earlier["summary"], [], False, not_ours % "report", "not_replaced"),
            ("report", foreign, ["--force"], True, None, None),
            ("report", earlier["report"], ["--no-clobber"], False, kept, "output_exists"),
            ("summary", earlier["summary"], [], True, None, None),
            ("summary", foreign, [], False, not_ours % "summary", "not_replaced"),
            ("summary", earlier["report"], [], False, not_ours % "summary", "not_replaced"),
            ("summary", foreign, ["--force"], True, None, None),
            ("summary", earlier["summary"], ["--no-clobber"], False, kept, "output_exists"),
        ]
        for kind, there, options, replaced, error, code in cases:
            for form in ("lines", "json"):
                with self.subTest(kind=kind, there=there[:20], options=options, form=form):
                    shutil.rmtree(self.cwd / "out", ignore_errors=True)
                    target = self.cwd / shown[kind]
                    target.parent.mkdir(exist_ok=True)
                    target.write_bytes(there)
                    option = ["--report", "r.html"] if kind == "report" else ["--summary"]
                    args = ["-o", "out", *option, *options, log]
                    if form == "json":
                        rc, out, _ = self.run_converter("--json", *args)
                        batch = json.loads(out.splitlines()[-1])
                        self.assertEqual((batch[kind + "_error"], batch[kind + "_error_code"]),
                                         (error, code))
                    else:
                        rc, out, _ = self.run_converter(*args)
                        last = out.splitlines()[-1]
                        self.assertEqual(last, "Error: %s: %s" % (shown[kind], error) if error
                                         else "%s written to %s." % (kind.capitalize(),
                                                                     shown[kind]))
                    self.assertEqual(rc, 0 if replaced else 1)
                    self.assertEqual(target.read_bytes() != there, replaced)
                    self.assertEqual(sorted(p.name for p in (self.cwd / "out").iterdir()
                                            if p.name.startswith(".")), [])


class SpreadsheetSafe(ConverterTestCase):
    def test_text_cells_that_look_like_formulas_get_a_leading_quote(self):
        names = ['=HYPERLINK("x","y").txt', "+1+1.txt", "@SUM(1).txt", "-dash.txt", "\tab.txt",
                 "plain=1.txt"]
        for name in names:
            self.write_log(name, log_text("A", "B", "C", records=[
                test_cli.dy(lat=420313255 + i, lon=-936391289 - i) for i in range(3)]))
        rc, _, err = self.run_converter("--merge", "--clean", "--format", "csv", "--",
                                        *(self.logs / name for name in names))
        self.assertEqual(rc, 0, err)
        text = (self.cwd / "Rx" / "A_B_C.csv").read_bytes().decode("utf-8")
        rows = list(csv.DictReader(io.StringIO(text, newline="")))
        self.assertEqual([r["Log"] for r in rows[::3]],
                         ["'" + n for n in names[:5]] + ["plain=1.txt"])
        for row in rows:
            self.assertTrue(row["longitude"].startswith("-93."), row["longitude"])


class Walks(ConverterTestCase):
    def test_a_recursive_run_again_converts_the_same_logs(self):
        for sample in sample_logs():
            shutil.copy(sample, self.cwd / sample.name)
        (self.cwd / "sub").mkdir()
        shutil.copy(sample_logs()[0], self.cwd / "sub" / "copy.txt")
        expected = ["Processing %s..." % p.name for p in sample_logs()] + [
            "Processing copy.txt..."]
        every = ["--summary", "--clean", "--format", "csv,shp", "-r", "."]
        # the first run's options, the second's
        cases = [([], []), (["-o", "sub/out"], ["-o", "sub/out"]), (["-o", "sub/out"], []),
                 (["-o", "elsewhere"], ["-o", "Rx"])]
        for first, second in cases:
            with self.subTest(first=first, second=second):
                for out in ("Rx", "sub/out", "elsewhere"):
                    shutil.rmtree(self.cwd / out, ignore_errors=True)
                for options in (first, second, second):
                    rc, out, err = self.run_converter(*every, *options)
                    self.assertEqual((rc, processed(out)), (0, expected), err)

    def test_a_log_too_deep_to_open_fails_and_is_never_skipped(self):
        top = self.cwd / "deep"
        top.mkdir()
        fd = os.open(top, os.O_RDONLY)
        length = len(str(top))
        try:
            while length <= 4200:
                os.mkdir("d" * 200, dir_fd=fd)
                inner = os.open("d" * 200, os.O_RDONLY, dir_fd=fd)
                os.close(fd)
                fd = inner
                length += 201
            made = os.open("deep.txt", os.O_WRONLY | os.O_CREAT, dir_fd=fd)
            os.write(made, log_text("A", "B", "C").encode())
            os.close(made)
        finally:
            os.close(fd)
        rc, out, _ = self.run_converter("-r", "deep")
        self.assertEqual(rc, 1)
        lines = out.splitlines()
        self.assertEqual(lines[1:], ["Error: Cannot open file", summary(0, 1)])
        rc, out, _ = self.run_converter("--json", "-r", "deep")
        got = json.loads(out.splitlines()[0])
        self.assertGreater(len(got["log"]), 4096)
        self.assertEqual((rc, got["error_code"]), (1, "cannot_open"))


class LogIsOutput(ConverterTestCase):
    def test_a_log_where_its_set_goes_is_kept_and_every_run_is_the_same(self):
        # the log's name in the output folder, options, how many runs
        cases = [("A_B_C.shp", [], 20), ("A_B_C.csv", ["--format", "csv"], 3),
                 ("A_B_C_clean.dbf", ["--clean"], 3), ("A_B_C.shp", ["--merge"], 3)]
        for name, options, runs in cases:
            with self.subTest(name=name, options=options):
                shutil.rmtree(self.cwd / "Rx", ignore_errors=True)
                (self.cwd / "Rx").mkdir()
                log = self.cwd / "Rx" / name
                log.write_text(log_text("A", "B", "C"))
                before = log.read_bytes()
                merged = "--merge" in options
                error = "Error: Output would replace a log of this batch"
                expected = ["Processing %s..." % name, error, "Processing %s..." % name] + (
                    [error] if merged else []) + [summary(0 if merged else 1, 2)]
                for _ in range(runs):
                    rc, out, _ = self.run_converter(*options, log, "Rx/./" + name)
                    self.assertEqual(rc, 1)
                    self.assertEqual([line for line in out.splitlines()
                                      if not line.startswith("Cleaning: ")], expected)
                    self.assertEqual(log.read_bytes(), before)
                rc, out, _ = self.run_converter("--json", *options, log)
                self.assertEqual(json.loads(out.splitlines()[0])["error_code"], "output_is_log")


class SmallThings(ConverterTestCase):
    def test_values_attached_to_their_options_give_the_same_run(self):
        log = sample_logs()[0]
        cases = [(["-j1"], ["-j", "1"]), (["--jobs=1"], ["--jobs", "1"]),
                 (["--format=csv,geojson"], ["--format", "csv,geojson"]),
                 (["--report=r.html", "-oout"], ["--report", "r.html", "-o", "out"])]
        for attached, separate in cases:
            results = []
            for args in (attached, separate):
                shutil.rmtree(self.cwd, ignore_errors=True)
                self.cwd.mkdir()
                rc, out, err = self.run_converter(*args, log)
                results.append((rc, out, err, snapshot(self.cwd)))
            self.assertEqual(results[0], results[1], attached)
            self.assertEqual(results[0][0], 0, attached)

    def test_a_run_without_a_converted_log_says_what_was_not_written(self):
        gone = self.logs / "gone.txt"
        (self.cwd / "Rx").mkdir()
        (self.cwd / "Rx" / "summary.csv").write_bytes(b"set,points,kept,removed,stale\r\n")
        cases = [(["--summary"], "No log converted: summary.csv was not written."),
                 (["--report", "r.html"], "No log converted: the report was not written."),
                 (["--summary", "--report", "r.html"],
                  "No log converted: summary.csv and the report were not written."),
                 (["-q", "--summary"], None)]
        for options, line in cases:
            with self.subTest(options=options):
                rc, out, _ = self.run_converter(*options, gone)
                self.assertEqual(rc, 1)
                self.assertEqual(out.splitlines()[-1], line or summary(0, 1))
                self.assertEqual(out.splitlines()[-2], summary(0, 1) if line else
                                 "Error: %s: Cannot open file" % gone)
        rc, out, _ = self.run_converter("--json", "--summary", "--report", "r.html", gone)
        batch = json.loads(out.splitlines()[-1])
        for key in ("summary", "report"):
            self.assertEqual((batch[key], batch[key + "_error"], batch[key + "_error_code"]),
                             (None, "No log converted", "no_log_converted"))
        self.assertEqual((self.cwd / "Rx" / "summary.csv").read_bytes(),
                         b"set,points,kept,removed,stale\r\n")
        self.assertFalse((self.cwd / "r.html").exists())


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_safe_paths.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR "
                 "[unittest options]")
    test_cli.CONVERTER = os.path.abspath(sys.argv[1])
    test_cli.SAMPLES = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
