#!/usr/bin/python3
"""What a user gives is never destroyed: refused summary and report paths, the marker rule through
the CLI, folder walks run again, a log too deep to open, runs without a converted log.

Usage: test_safe_paths.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]
"""

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
    return {os.path.join(r, n): open(os.path.join(r, n), "rb").read()
            for r, _, names in os.walk(folder) for n in names}


class SafePaths(ConverterTestCase):
    def test_a_report_or_summary_over_a_log_or_an_output_is_a_usage_error(self):
        (self.cwd / "season").mkdir()
        for name in ("season/a.Vornakite", "season/b.Vornakite", "log.txt"):
            (self.cwd / name).write_text(log_text("A", "B", Path(name).stem))
        self.assertEqual(self.run_converter("-q", "--clean", "log.txt")[0], 0)  # Rx/A_B_log.*
        os.link(self.cwd / "season/a.Vornakite", self.cwd / "season/a-link.html")
        (self.cwd / "sub").mkdir()
        shutil.copy(self.cwd / "log.txt", self.cwd / "Rx/summary.csv")  # a log named so
        for args in (["--clean", "--report", "season/a.Vornakite", "season/b.Vornakite"],
                     ["--report", "log.txt", "log.txt"], ["--report", "NOTES.TXT", "log.txt"],
                     ["--report", "sub/../Rx/A_B_log.dbf", "log.txt"],
                     ["--format", "geojson", "--report", "Rx/x.GeoJSON", "log.txt"],
                     ["--clean", "--report", "Rx/A_B_log_removed.shx", "log.txt"],
                     ["--report", "season/a-link.html", "season"],
                     ["--summary", "-o", "sub/../Rx", "log.txt", "Rx/summary.csv"]):
            with self.subTest(args=args):
                before = snapshot(self.tmp)
                rc, out, err = self.run_converter(*args)
                self.assertEqual((rc, out, err.split(":")[0]), (2, "", "vornakite-convert"))
                self.assertEqual(snapshot(self.tmp), before)

    def test_a_file_not_of_this_program_is_kept_unless_forced(self):
        foreign = b"notes kept by hand\n"
        earlier = b"<html><head>\n<meta name=\"generator\" content=\"vornakite-convert\">\n"
        # bytes there, option, the error's code (None: replaced)
        for there, option, code in ((foreign, [], "not_replaced"), (foreign, ["--force"], None),
                                    (earlier, [], None), (earlier, ["--no-clobber"],
                                                          "output_exists")):
            with self.subTest(there=there, option=option):
                (self.cwd / "r.html").write_bytes(there)
                rc, out, _ = self.run_converter("--json", "-o", str(len(there)) + "".join(option),
                                                "--report", "r.html", *option, sample_logs()[0])
                batch = json.loads(out.splitlines()[-1])
                self.assertEqual((rc, batch["report_error_code"]), (1 if code else 0, code))
                self.assertEqual((self.cwd / "r.html").read_bytes() == there, code is not None)

    def test_a_recursive_run_again_converts_the_same_logs(self):
        for log in sample_logs():
            shutil.copy(log, self.cwd)
        every = ["--summary", "--clean", "--format", "csv,shp", "-r", "."]
        for first, second in (([], []), (["-o", "sub/out"], ["-o", "sub/out"]),
                              (["-o", "sub/out"], [])):
            outs = [self.run_converter(*every, *options)[:2] for options in (first, second)]
            logs = [(rc, [x for x in out.splitlines() if x.startswith("Proc")]) for rc, out in outs]
            self.assertEqual(logs[1], logs[0], (first, second))
            self.assertEqual((logs[1][0], len(logs[1][1])), (0, len(sample_logs())))

    def test_a_log_too_deep_to_open_fails_and_is_never_skipped(self):
        fd = os.open(self.cwd, os.O_RDONLY)
        for _ in range(22):  # past 4,096 bytes
            os.mkdir("d" * 200, dir_fd=fd)
            fd, old = os.open("d" * 200, os.O_RDONLY, dir_fd=fd), fd
            os.close(old)
        with open(os.open("deep.txt", os.O_WRONLY | os.O_CREAT, dir_fd=fd), "w") as log:
            log.write(log_text("A", "B", "C"))
        os.close(fd)
        rc, out, _ = self.run_converter("--json", "-r", ".")
        self.assertEqual((rc, json.loads(out.splitlines()[0])["error_code"]), (1, "cannot_open"))

    def test_a_run_without_a_converted_log_says_what_was_not_written(self):
        for options, line in ((["--summary"], "summary.csv was"),
                              (["--report", "r.html"], "the report was"),
                              (["--summary", "--report", "r.html"],
                               "summary.csv and the report were")):
            rc, out, _ = self.run_converter(*options, "gone.txt")
            self.assertEqual(out.splitlines()[-2:], [
                summary(0, 1), "No log converted: %s not written." % line])
        rc, out, _ = self.run_converter("--json", "--summary", "--report", "r.html", "gone.txt")
        batch = json.loads(out.splitlines()[-1])
        self.assertEqual([batch[k] for k in ("summary", "summary_error", "report_error_code")],
                         [None, "No log converted", "no_log_converted"])


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_safe_paths.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR "
                 "[unittest options]")
    test_cli.CONVERTER = os.path.abspath(sys.argv[1])
    test_cli.SAMPLES = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
