#!/usr/bin/env python3
"""A log whose analysis cannot get the memory it needs, under an address-space limit that the
plain conversion of the same log fits in: the standard set is written as without the analysis,
the analysis is given up with a line of its own and a note, and the exit status is 1.

Usage: test_memory.py CONVERTER GENLOG
"""
import json
import os
import resource
import subprocess
import sys
import tempfile
import unittest

CONVERTER = GENLOG = None
MIB = 1024 * 1024
LIMIT = 48 * MIB  # the plain conversion needs under 16 MiB; the analysis about 95 MiB
FORMATS = ["--format", "shp,geojson,csv"]
STANDARD = [".shp", ".shx", ".dbf", ".prj", ".cpg", ".geojson", ".csv"]


def limited(limit=LIMIT):
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


@unittest.skipIf(os.environ.get("VORNAKITE_NO_ADDRESS_LIMIT"), "address space is the sanitizers'")
class OutOfMemory(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.log = os.path.join(cls.dir.name, "big.Vornakite")
        subprocess.run([GENLOG, "1000000", cls.log], check=True, stdout=subprocess.DEVNULL)
        cls.plain = cls.run_converter("plain", [])  # under the same limit
        assert cls.plain[0] == 0, cls.plain[1]

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    @classmethod
    def run_converter(cls, name, args, limit=LIMIT):
        out = os.path.join(cls.dir.name, name)
        p = subprocess.run([CONVERTER, "-o", out] + FORMATS + args + [cls.log], cwd=cls.dir.name,
                           capture_output=True, text=True, preexec_fn=lambda: limited(limit))
        names = os.listdir(out) if os.path.isdir(out) else []
        sets = {n: open(os.path.join(out, n), "rb").read() for n in names if n != "summary.csv"}
        return p.returncode, p.stdout + p.stderr, sets

    def test_the_standard_set_is_written_and_the_analysis_given_up(self):
        report = os.path.join(self.dir.name, "report.html")
        quiet = "Error: %s: Cleaning: skipped for lack of memory" % self.log
        cases = [  # (arguments, the log's analysis line or JSON keys, address space)
            (["--clean", "--summary", "--report", report], "Cleaning: skipped for lack of memory",
             LIMIT),
            (["--summary", "--json"], None, LIMIT),
            (["--clean", "-q"], quiet, LIMIT),
            # So little that the kept points leave no room for the writing thread's stack
            (["--clean", "-q"], quiet, 36 * MIB),
        ]
        for k, (args, line, limit) in enumerate(cases):
            with self.subTest(args=args, limit=limit):
                status, out, sets = self.run_converter("limited%d" % k, args, limit)
                self.assertEqual(status, 1, out)
                self.assertNotIn("bad_alloc", out)
                self.assertEqual(sets, self.plain[2])  # byte for byte, no _clean, _removed
                self.assertEqual(sorted(os.path.splitext(n)[1] for n in sets), sorted(STANDARD))
                if "--summary" in args:
                    with open(os.path.join(self.dir.name, "limited%d" % k, "summary.csv")) as f:
                        row = f.read().splitlines()[1].split(",")
                    self.assertEqual(row[1:4], ["1000000", "", ""])
                    self.assertIn("skipped for lack of memory", row)
                if line is not None:
                    self.assertIn(line, out.splitlines())
                else:
                    log = json.loads(out.splitlines()[0])
                    self.assertEqual((log["status"], log["analysis_error_code"]),
                                     ("ok", "out_of_memory"))
        with open(report, encoding="utf-8") as f:
            self.assertIn("Not analysed: skipped for lack of memory.", f.read())


if __name__ == "__main__":
    GENLOG = os.path.abspath(sys.argv.pop(2))
    CONVERTER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
