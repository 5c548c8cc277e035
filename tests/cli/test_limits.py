#!/usr/bin/env python3
"""Memory stays bounded by what the rules use, not by the length of a line: a 200 MB line without
a line end, a 10 MB header of separators, and a 1 GB zero-filled tail after the samples.

Usage: test_limits.py CONVERTER
"""
import os
import subprocess
import sys
import tempfile
import unittest

CONVERTER = None
MB = 1024 * 1024
LINE = 200 * MB
SAMPLE = b"DY@45@x@x@123456@153@1875@415000000@-975000000@a@b@c@d@e@562@z\r\n"
SUMMARY = "Conversion complete: 1/1 files processed successfully. Outputs in Rx."


def write_repeated(f, byte):
    """Writes LINE copies of `byte` in pieces, so that this process, whose memory a child starts
    with, never holds the whole line."""
    for _ in range(LINE // MB):
        f.write(byte * MB)


def run_measured(args, cwd):
    """Runs the converter; returns (exit status, stdout text, its own peak resident bytes)."""
    process = subprocess.Popen(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = process.stdout.read()
    process.stdout.close()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, out.decode("utf-8"), usage.ru_maxrss * 1024


class LongLines(unittest.TestCase):
    def convert(self, name, write, converts=False):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                write(f)
            status, out, peak = run_measured([CONVERTER, path], folder)
            shp = os.path.join(folder, "Rx", "A_B_C.shp")
            self.assertEqual(os.path.exists(shp), converts)
            points = (os.path.getsize(shp) - 100) // 28 if converts else 0
        return status, out.splitlines(), peak, points

    def check_bounded(self, peak):
        if os.environ.get("VORNAKITE_NO_MEMORY_BOUND"):
            return
        # Neither the line nor the points are held whole.
        self.assertLess(peak, 64 * MB, f"peak {peak / MB:.0f} MB")

    def test_a_200_mb_header_without_line_end_is_an_invalid_header(self):
        status, lines, peak, _ = self.convert("head.Vornakite", lambda f: write_repeated(f, b"x"))
        self.assertEqual(status, 1)
        self.assertEqual(lines[1], "Error: Invalid header format")
        self.check_bounded(peak)

    def test_a_200_mb_record_without_line_end_is_read_and_skipped(self):
        def write(f):
            f.write(b"VK@1@2@3@4@5@A@B@C\r\n")
            f.write(b"DY@")
            write_repeated(f, b"7")
        status, lines, peak, _ = self.convert("record.Vornakite", write)
        self.assertEqual(status, 1)
        self.assertEqual(lines[1], "Error: No yield data (DY) lines found")
        self.check_bounded(peak)

    def test_a_10_mb_header_of_separators_is_counted_not_kept(self):
        def write(f):
            f.write(b"VK@1@2@3@4@5@A@B@C" + b"@" * (10 * MB) + b"\n")
            f.write(SAMPLE * 1000)
        status, lines, peak, points = self.convert("wide.Vornakite", write, converts=True)
        self.assertEqual((status, lines[1:]), (0, [SUMMARY]))
        self.assertEqual(points, 1000)
        self.check_bounded(peak)

    def test_a_1_gb_zero_filled_tail_keeps_every_sample_before_it(self):
        def write(f):
            f.write(b"VK@1@2@3@4@5@A@B@C\r\n" + SAMPLE * 400)
            f.truncate(f.tell() + 1024 * MB)  # zeros, as a pre-allocated memory card holds
        status, lines, peak, points = self.convert("card.Vornakite", write, converts=True)
        self.assertEqual((status, lines[1:]), (0, [SUMMARY]))
        self.assertEqual(points, 400)
        self.check_bounded(peak)


if __name__ == "__main__":
    CONVERTER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
