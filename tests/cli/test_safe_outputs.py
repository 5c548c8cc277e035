#!/usr/bin/python3
"""A set is replaced whole or not at all, seen from outside the converter: a full disk, a
converter killed at any moment, and two converters writing the same set at once.

Usage: test_safe_outputs.py PATH_TO_VORNAKITE_CONVERT [unittest options]
"""

import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

CONVERTER = None
EXTENSIONS = (".shp", ".shx", ".dbf", ".prj", ".cpg")


def write_log(path, samples, crop="Corn", seed=0):
    """A log of the set Farm_Field_<crop> with `samples` samples."""
    rnd = random.Random(seed)
    lines = ["VK@1@2@3@4@5@Farm@Field@%s" % crop]
    for i in range(samples):
        lines.append("DY@%d@x@x@%d@%d@%d@%d@%d@a@b@c@d@e@%d@z" % (
            40 + rnd.randrange(20), 100000 + rnd.randrange(9000), 150 + rnd.randrange(50),
            1500 + rnd.randrange(800), 415000000 + i, -975000000 - 3 * i, 550 + rnd.randrange(20)))
    path.write_text("\n".join(lines) + "\n")
    return path


def set_files(folder, name):
    """The set's files by extension, as digests of their bytes (short enough to print)."""
    return {ext: hashlib.sha256((folder / (name + ext)).read_bytes()).hexdigest()[:16]
            for ext in EXTENSIONS}


def leftovers(folder):
    return sorted(p.name for p in folder.iterdir() if p.name.startswith("."))


class SafeOutputs(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="vornakite_safe_")
        self.tmp = Path(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()

    def convert(self, *args, **kwargs):
        return subprocess.run([CONVERTER, *map(str, args)], capture_output=True, timeout=300,
                              **kwargs)

    def reference(self, log, name):
        out = self.tmp / ("ref-" + log.stem)
        self.assertEqual(self.convert("-o", out, log).returncode, 0)
        return set_files(out, name)

    def test_a_killed_conversion_leaves_the_earlier_set_and_the_next_one_cleans_up(self):
        rx = self.tmp / "Rx"
        small = write_log(self.tmp / "small.Vornakite", 50)
        big = write_log(self.tmp / "big.Vornakite", 600000, seed=1)
        old = self.reference(small, "Farm_Field_Corn")
        new = self.reference(big, "Farm_Field_Corn")
        rnd = random.Random(7)
        outcomes = set()
        for attempt in range(10):
            self.assertEqual(self.convert("-o", rx, small).returncode, 0)
            process = subprocess.Popen([CONVERTER, "-o", str(rx), str(big)],
                                       stdout=subprocess.DEVNULL)
            time.sleep(rnd.uniform(0.0, 0.6))
            process.send_signal(signal.SIGKILL)
            process.wait()
            got = set_files(rx, "Farm_Field_Corn")
            # The kill falls outside the few milliseconds of the swap: one whole set or the other.
            self.assertIn(got, (old, new), "attempt %d: a mixed or partial set" % attempt)
            outcomes.add("new" if got == new else "old")
            self.assertEqual(self.convert("-o", rx, small).returncode, 0)
            self.assertEqual(leftovers(rx), [], "attempt %d" % attempt)
            self.assertEqual(len(list(rx.iterdir())), 5)
        self.assertIn("old", outcomes)

    def test_two_converters_on_one_set_each_leave_a_whole_set(self):
        rx = self.tmp / "Rx"
        logs = [write_log(self.tmp / "a.Vornakite", 300000, seed=2),
                write_log(self.tmp / "b.Vornakite", 200000, seed=3)]
        wanted = [self.reference(log, "Farm_Field_Corn") for log in logs]
        for attempt in range(8):
            processes = [subprocess.Popen([CONVERTER, "-o", str(rx), str(log)],
                                          stdout=subprocess.PIPE) for log in logs]
            outputs = [p.communicate(timeout=120)[0].decode() for p in processes]
            results = [(p.returncode, out) for p, out in zip(processes, outputs)]
            for status, out in results:
                # Either converted, or failed with a line that says why; never a false success.
                self.assertIn(status, (0, 1), out)
                if status == 1:
                    self.assertRegex(out, r"\nError: [^\n]+\n", out)
            self.assertIn(0, [status for status, _ in results])
            self.assertIn(set_files(rx, "Farm_Field_Corn"), wanted, "attempt %d" % attempt)
            self.assertEqual(leftovers(rx), [])
            self.assertEqual(len(list(rx.iterdir())), 5)

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0 and shutil.which("mount"),
                         "a small file system is mounted for this, which needs root")
    def test_a_full_disk_leaves_the_earlier_set_and_frees_the_space_again(self):
        disk = self.tmp / "disk"
        disk.mkdir()
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(disk)],
                          capture_output=True).returncode != 0:
            self.skipTest("tmpfs cannot be mounted here")
        try:
            rx = disk / "Rx"
            small = write_log(self.tmp / "small.Vornakite", 100)
            self.assertEqual(self.convert("-o", rx, small).returncode, 0)
            before = set_files(rx, "Farm_Field_Corn")
            big = write_log(self.tmp / "big.Vornakite", 40000, seed=4)  # about 3 MB of outputs
            other = write_log(self.tmp / "other.Vornakite", 100, crop="Soy")
            # One log at a time: the second is written once the first has given its space back
            # (converted side by side, both may meet the full disk).
            result = self.convert("-j", "1", "-o", rx, big, other)
            lines = result.stdout.decode().splitlines()
            self.assertEqual(result.returncode, 1)
            self.assertIn(lines[1], ("Error: Failed to write shapefile outputs",
                                     "Error: Failed to create shapefile outputs",
                                     "Error: Failed to write projection or code page file"))
            self.assertEqual(lines[2:], ["Processing other.Vornakite...",
                                         "Conversion complete: 1/2 files processed "
                                         "successfully. Outputs in %s." % rx])
            self.assertEqual(set_files(rx, "Farm_Field_Corn"), before)
            self.assertEqual(leftovers(rx), [])
            self.assertEqual(len(list(rx.iterdir())), 10)
        finally:
            subprocess.run(["umount", str(disk)])


if __name__ == "__main__":
    CONVERTER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
