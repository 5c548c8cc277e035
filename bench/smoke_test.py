#!/usr/bin/python3
"""Quick checks of the benchmark tools on small generated logs: the generator is deterministic
and realistic, and every tool of the benchmark writes the converter's bytes, so the timings
compare the same work.

Usage: smoke_test.py BUILD_DIR [unittest options]
"""

import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

BUILD = None
HERE = Path(__file__).resolve().parent


def tool(*parts):
    return str(Path(BUILD, *parts))


def run(*argv):
    proc = subprocess.run([str(a) for a in argv], capture_output=True, timeout=120)
    if proc.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (argv, proc.stdout.decode(), proc.stderr.decode()))
    return proc.stdout.decode()


def set_bytes(base):
    return {ext: Path(str(base) + ext).read_bytes() for ext in (".shp", ".shx", ".dbf")}


class Generator(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="vornakite_bench_")
        self.dir = Path(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()

    def generate(self, name, *args):
        path = self.dir / name
        run(tool("bench", "vornakite-genlog"), *args, path)
        return path

    def test_same_seed_same_bytes_other_seed_other_bytes(self):
        a = self.generate("a.Vornakite", "3000").read_bytes()
        b = self.generate("b.Vornakite", "3000").read_bytes()
        c = self.generate("c.Vornakite", "--seed", "7", "3000").read_bytes()
        self.assertEqual(a, b)
        self.assertNotEqual(a, c)

    def test_log_has_the_samples_asked_for_among_other_records(self):
        lines = self.generate("log.Vornakite", "20000").read_bytes().split(b"\n")
        self.assertEqual(lines[-1], b"")
        records = lines[1:-1]
        samples = [l for l in records if l.startswith(b"DY")]
        self.assertEqual(len(samples), 20000)
        self.assertTrue(all(len(l.split(b"@")) == 17 for l in samples))
        share = 1 - len(samples) / len(records)
        self.assertTrue(0.03 < share < 0.07, share)
        # Value ranges of the sample logs: mph, percent moisture, degrees of the corn belt.
        fields = [l.split(b"@") for l in samples]
        speeds = [int(f[1]) / 10 for f in fields]
        moistures = [int(f[5]) / 10 for f in fields if f[15] == b"1"]
        lats = [int(f[7]) / 1e7 for f in fields]
        lons = [int(f[8]) / 1e7 for f in fields]
        self.assertTrue(2 < min(speeds) and max(speeds) < 7, (min(speeds), max(speeds)))
        self.assertTrue(8 < min(moistures) and max(moistures) < 30)
        self.assertTrue(39.9 < min(lats) and max(lats) < 43.1)
        self.assertTrue(-96.1 < min(lons) and max(lons) < -87.4)
        # Headland turns with the header raised log zero yield.
        self.assertIn(b"0", [f[6] for f in fields])

    def test_csv_holds_the_values_the_converter_derives(self):
        log = self.generate("log.Vornakite", "--csv", self.dir / "log.csv", "500")
        rows = (self.dir / "log.csv").read_text().splitlines()
        self.assertEqual(rows[0], "X,Y,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH")
        self.assertEqual((self.dir / "log.csvt").read_text(),
                         "CoordX,CoordY,Real(10.2),Real(6.1),Real(10.2),Real(8.1),Real(6.1)\n")
        samples = [l.split(b"@") for l in log.read_bytes().split(b"\n") if l.startswith(b"DY")]
        self.assertEqual(len(rows) - 1, len(samples))
        for row, f in zip(rows[1:], samples):
            want = [int(f[8]) / 1e7, int(f[7]) / 1e7, int(f[6]) / 10, int(f[5]) / 10,
                    int(f[4]) / 100, int(f[14]) / 10, int(f[1]) / 10]
            self.assertEqual([float(v) for v in row.split(",")], want)


class DirtyLogLag(unittest.TestCase):
    """The evaluation's generator with a grain-flow lag: its truth, and the physics it models."""

    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="vornakite_bench_")
        self.dir = Path(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()

    def generate(self, *args):
        log, truth = self.dir / "lag.Vornakite", self.dir / "lag.csv"
        run(tool("bench", "vornakite-gendirty"), *args, log, truth)
        yields = [int(l.split(b"@")[6]) / 10 for l in log.read_bytes().split(b"\n")
                  if l.startswith(b"DY")]
        lines = truth.read_text().splitlines()
        rows = [l.split(",") for l in lines[2:]]
        return lines[0], lines[1], yields, [r[1] for r in rows], [float(r[2]) for r in rows]

    def test_truth_names_the_lag_and_every_sample(self):
        # The lag is the response's centroid: within half a sample of the lag asked for.
        cases = [(["--lag", "7"], 7, 7),
                 (["--lag", "7", "--moisture-lag", "3", "--response-seconds", "0"], 7, 3),
                 (["--lag-seconds", "10", "--interval", "2"], 5, 5)]
        for args, lag, moisture in cases:
            first, names, yields, kinds, true = self.generate("--seed", "4", *args)
            fields = dict(f.split("=") for f in first.split()[1:])
            self.assertLessEqual(abs(float(fields["lag"]) - lag), 0.5, (args, first))
            self.assertLessEqual(abs(float(fields["moisture_lag"]) - moisture), 0.5, args)
            self.assertEqual(names, "index,kind,true_yield")
            self.assertEqual(len(kinds), len(yields), args)
            self.assertTrue(all(t >= 0 for t in true), args)

    def test_clean_samples_log_the_crop_cut_a_lag_earlier(self):
        # A pure delay, every tick logged: a clean sample logs the true yield d samples before.
        d = 9
        _, _, yields, kinds, true = self.generate("--seed", "6", "--turns", "up", "--lag", str(d),
                                                  "--response-seconds", "0")
        clean = [t for t in range(d, len(kinds)) if kinds[t] == "clean"]
        self.assertGreater(len(clean), 1000)
        for t in clean:
            self.assertAlmostEqual(yields[t], true[t - d], delta=0.06, msg=t)

    def test_short_turns_carry_grain_into_the_next_pass(self):
        _, _, yields, kinds, _ = self.generate("--seed", "7", "--lag-seconds", "13", "--turns",
                                               "up", "--short-turns")
        typical = sorted(yields)[len(yields) // 2]
        starts = [t for t in range(1, len(kinds))
                  if kinds[t] == "carryover" and kinds[t - 1] == "turn"]
        self.assertGreater(len(starts), 20)
        for t in starts:  # high at the start, then the empty turn's dip
            self.assertGreater(yields[t], 0.5 * typical, t)
            self.assertLess(min(yields[t:t + 14]), 0.3 * typical, t)
        self.assertIn("turn", kinds)
        self.assertNotIn("headland", kinds)


class SameBytes(unittest.TestCase):
    """Each benchmarked tool writes what vornakite-convert writes."""

    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory(prefix="vornakite_bench_")
        cls.dir = Path(cls._tmp.name)
        cls.logs = {}
        for ending in ("", "--crlf"):
            log = cls.dir / ("log%s.Vornakite" % ending)
            args = [ending] if ending else []
            run(tool("bench", "vornakite-genlog"), *args, "--csv", cls.dir / "log.csv", "4000",
                log)
            out = cls.dir / ("ours%s" % ending)
            run(tool("cli", "vornakite-convert"), "-o", out, log)
            cls.logs[ending] = (log, next(out.glob("*.shp")).with_suffix(""))

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def test_baseline(self):
        for ending, (log, ours) in self.logs.items():
            run(tool("bench", "vornakite-baseline"), log, self.dir / "baseline")
            self.assertEqual(set_bytes(self.dir / "baseline"), set_bytes(ours), ending)

    @unittest.skipUnless(shutil.which("ogr2ogr"), "GDAL's ogr2ogr is not installed")
    def test_ogr2ogr_from_the_csv(self):
        out = self.dir / "ogr"
        out.mkdir()
        run("ogr2ogr", "-f", "ESRI Shapefile", "-a_srs", "EPSG:4326", "-lco", "ENCODING=UTF-8",
            "-oo", "X_POSSIBLE_NAMES=X", "-oo", "Y_POSSIBLE_NAMES=Y", "-oo",
            "KEEP_GEOM_COLUMNS=NO", out / "set.shp", self.dir / "log.csv")
        self.assertEqual(set_bytes(out / "set"), set_bytes(self.logs["--crlf"][1]))

    def test_pyshp_script(self):
        try:
            import shapefile  # noqa: F401
        except ImportError:
            self.skipTest("pyshp is not installed")
        log, ours = self.logs["--crlf"]
        run(sys.executable, HERE / "pyshp_convert.py", log, self.dir / "py")
        theirs, want = set_bytes(self.dir / "py"), set_bytes(ours)
        self.assertEqual(theirs[".shp"], want[".shp"])
        self.assertEqual(theirs[".shx"], want[".shx"])
        # pyshp leaves out the table's end-of-file marker.
        self.assertEqual(theirs[".dbf"] + b"\x1a", want[".dbf"])


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    unittest.main()
