#!/usr/bin/env python3
"""Memory stays bounded by the longest line: logs with a 200 MB line and no line end.

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


def run_measured(args, cwd):
    """Runs the converter; returns (exit status, stdout text, its own peak resident bytes)."""
    process = subprocess.Popen(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = process.stdout.read()
    process.stdout.close()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, out.decode("utf-8"), usage.ru_maxrss * 1024


class LongLines(unittest.TestCase):
    def convert(self, name, write):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                write(f)
            status, out, peak = run_measured([CONVERTER, path], folder)
            self.assertFalse(os.path.exists(os.path.join(folder, "Rx", "A_B_C.shp")))
        return status, out.splitlines(), peak

    def check_bounded(self, peak):
        if os.environ.get("VORNAKITE_NO_MEMORY_BOUND"):
            return
        # A line is held once while read and once more while split; growth by doubling
        # adds at most the same again.
        self.assertLess(peak, 2.5 * LINE + 48 * MB, f"peak {peak / MB:.0f} MB")

    def test_a_200_mb_header_without_line_end_is_an_invalid_header(self):
        status, lines, peak = self.convert("head.Vornakite", lambda f: f.write(b"x" * LINE))
        self.assertEqual(status, 1)
        self.assertEqual(lines[1], "Error: Invalid header format")
        self.check_bounded(peak)

    def test_a_200_mb_record_without_line_end_is_read_and_skipped(self):
        def write(f):
            f.write(b"VK@1@2@3@4@5@A@B@C\r\n")
            f.write(b"DY@" + b"7" * LINE)
        status, lines, peak = self.convert("record.Vornakite", write)
        self.assertEqual(status, 1)
        self.assertEqual(lines[1], "Error: No yield data (DY) lines found")
        self.check_bounded(peak)


if __name__ == "__main__":
    CONVERTER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
