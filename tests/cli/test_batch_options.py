#!/usr/bin/python3
"""vornakite-convert's batch options through the program itself: -j against -j 1 byte for byte,
--format, --merge and --no-clobber, alone and together.

Usage: test_batch_options.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]
"""

import csv
import io
import json
import os
import random
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_cli  # noqa: E402
from test_cli import ConverterTestCase, dy, log_text, summary  # noqa: E402

SHAPEFILE = (".shp", ".shx", ".dbf", ".prj", ".cpg")
COLUMNS = ["Yield_bu", "Moist_pct", "Weight_ta", "Dens_lbbu", "Speed_MPH"]


def walk_log(farm, field, crop, samples, seed=0):
    """A log of `samples` distinct samples (seeded)."""
    rnd = random.Random(seed)
    return log_text(farm, field, crop, records=[
        dy(speed=30 + rnd.randrange(30), weight=400 + rnd.randrange(300),
           moisture=150 + rnd.randrange(60), yld=rnd.randrange(3000),
           lat=420313255 + 11 * i + rnd.randrange(5), lon=-936391289 - 7 * i - rnd.randrange(5),
           density=540 + rnd.randrange(30)) for i in range(samples)])


def expected_values(text):
    """(lon, lat, Yield_bu, ..., Speed_MPH) of each DY record, as the converter computes them."""
    return [(float(f[8]) / 1e7, float(f[7]) / 1e7, float(f[6]) / 10, float(f[5]) / 10,
             float(f[4]) / 100, float(f[14]) / 10, float(f[1]) / 10)
            for f in (line.split("@") for line in text.split("\n")[1:])
            if f[0] == "DY" and len(f) >= 16]


def dbf_texts(path, column):
    """The values of a character column of a .dbf, as bytes without their trailing blanks."""
    data = path.read_bytes()
    count, header, record = struct.unpack("<IHH", data[4:12])
    offset = 1
    for at in range(32, header - 1, 32):
        if data[at:at + 11].split(b"\0")[0].decode() == column:
            return [data[header + r * record + offset:][:data[at + 16]].rstrip(b" ")
                    for r in range(count)]
        offset += data[at + 16]
    raise AssertionError("no column %s in %s" % (column, path))


class Jobs(ConverterTestCase):
    def test_every_number_of_jobs_gives_the_lines_names_and_bytes_of_one(self):
        # A big first log, so that later logs are done first; names that collide (also in another
        # letter case); logs failing in reading, which take no name; one failing at its output
        # (a folder in the way of X_F_C_4.shp), which takes X_F_C_4 all the same.
        logs = [("big.Vornakite", walk_log("X", "F", "C", 60000, 1)), ("gone.txt", None),
                ("a.txt", walk_log("X", "F", "C", 30, 2)), ("bad.csv", "only@a@header\n"),
                ("b.txt", walk_log("x", "F", "C", 40, 3)),
                ("nodata.Vornakite", "VK@1@2@3@4@5@X@F@C\nGP@1@2\n"),
                ("blocked.txt", walk_log("X", "F", "C", 50, 4)),
                ("c.txt", walk_log("Y", "F", "C", 20, 5)), ("d.txt", walk_log("X", "F", "C", 10)),
                ("letters.txt", log_text("X", "F", "C", records=[dy(), dy(density="abc")]))]
        paths = [self.logs / n if t is None else self.write_log(n, t) for n, t in logs]

        def run_in(folder, *args):
            (folder / "Rx" / "X_F_C_4.shp").mkdir(parents=True)
            rc, out, err = self.run_converter("-o", "Rx", *args, *paths, cwd=folder)
            self.assertEqual(err, "")
            return rc, out, {p.name: p.is_file() and p.read_bytes()
                             for p in sorted((folder / "Rx").iterdir())}

        for extra in ([], ["--json", "--format", "shp,geojson,csv"], ["--merge"]):
            one = run_in(self.tmp / ("one" + "".join(extra)), "-j", "1", *extra)
            if not extra:
                self.assert_lines(one[1], [
                    "Processing big.Vornakite...", "Processing gone.txt...",
                    "Error: Cannot open file", "Processing a.txt...", "Processing bad.csv...",
                    "Error: Invalid header format", "Processing b.txt...",
                    "Processing nodata.Vornakite...", "Error: No yield data (DY) lines found",
                    "Processing blocked.txt...", "Error: Failed to create shapefile outputs",
                    "Processing c.txt...", "Processing d.txt...", "Processing letters.txt...",
                    "Error: invalid stod argument", summary(5, 10)])
                self.assertEqual([n for n, data in one[2].items() if n.endswith(".shp") and data],
                                 ["X_F_C.shp", "X_F_C_2.shp", "X_F_C_5.shp", "Y_F_C.shp",
                                  "x_F_C_3.shp"])
            for jobs in (["-j", "2"], ["--jobs", "3"], []):
                with self.subTest(options=extra, jobs=jobs):
                    many = run_in(self.tmp / ("many" + "".join(extra + jobs)), *jobs, *extra)
                    self.assertEqual(many[:2], one[:2])
                    self.assertTrue(many[2] == one[2], "different outputs")

    def test_bad_job_counts_and_formats_are_usage_errors(self):
        log = self.write_log("a.txt", log_text("A", "B", "C"))
        for args in (["-j", "0"], ["-j", "two"], ["-j", "1025"], ["-j", "+2"], ["-j"],
                     ["--format", "kml"], ["--format", ""], ["--format", "shp,"],
                     ["--format", "shp csv"], ["--format"]):
            with self.subTest(args=args):
                rc, out, err = self.run_converter(log, *args)
                self.assertEqual((rc, out), (2, ""))
                self.assertIn(args[0], err)
        self.assertEqual(os.listdir(self.cwd), [])


class Formats(ConverterTestCase):
    def test_each_choice_of_formats_writes_those_files_only(self):
        log = self.write_log("a.txt", walk_log("F", "G", "H", 7, 1))
        for formats, extensions in [("shp", SHAPEFILE), ("geojson", (".geojson",)),
                                    ("csv,GeoJSON", (".geojson", ".csv")),
                                    ("geojson,shp,csv,shp", SHAPEFILE + (".geojson", ".csv"))]:
            with self.subTest(formats=formats):
                out = self.tmp / formats
                rc, lines, err = self.run_converter("--format", formats, "-o", out, log)
                self.assertEqual((rc, err), (0, ""))
                self.assert_lines(lines, ["Processing a.txt...", summary(1, 1, str(out))])
                self.assertEqual(sorted(os.listdir(out)), sorted("F_G_H" + e for e in extensions))
        for ext in SHAPEFILE:  # the same shapefile set whatever else is written with it
            self.assertEqual((self.tmp / "shp" / ("F_G_H" + ext)).read_bytes(),
                             (self.tmp / "geojson,shp,csv,shp" / ("F_G_H" + ext)).read_bytes())

    def test_geojson_and_csv_hold_every_value_exactly(self):
        text = walk_log("F", "G", "H", 20000, 2)  # several megabytes: written in pieces
        rc, _, err = self.run_converter("--format", "geojson,csv", self.write_log("a.txt", text))
        self.assertEqual((rc, err), (0, ""))
        collection = json.loads((self.cwd / "Rx" / "F_G_H.geojson").read_bytes().decode())
        self.assertEqual(list(collection), ["type", "features"])  # no "crs": WGS 84 always
        self.assertEqual({(f["type"], f["geometry"]["type"], tuple(f["properties"]))
                          for f in collection["features"]}, {("Feature", "Point", tuple(COLUMNS))})
        self.assertEqual([tuple(f["geometry"]["coordinates"]) +
                          tuple(f["properties"][c] for c in COLUMNS)
                          for f in collection["features"]], expected_values(text))
        raw = (self.cwd / "Rx" / "F_G_H.csv").read_bytes()
        self.assertTrue(raw.startswith(b"longitude,") and raw.endswith(b"\r\n"))  # no BOM
        self.assertEqual(raw.count(b"\r\n"), raw.count(b"\n"))
        rows = list(csv.reader(io.StringIO(raw.decode(), newline="")))
        self.assertEqual(rows[0], ["longitude", "latitude"] + COLUMNS)
        self.assertEqual([tuple(map(float, row)) for row in rows[1:]], expected_values(text))


class Merge(ConverterTestCase):
    def test_logs_of_one_name_make_one_set_in_input_order_and_failing_logs_are_left_out(self):
        texts = {"a.txt": walk_log("North", "F1", "Corn", 3, 1),
                 "b.txt": walk_log("South", "F2", "Soy", 2, 2),
                 "bad.txt": log_text("North", "F1", "Corn", records=[dy(), dy(lat="nan")]),
                 "c.txt": walk_log("NORTH", "f1", "CORN", 4, 3),
                 "lost.txt": log_text("Lost", "F3", "Rye", records=[dy(speed="x")]),
                 "d.txt": walk_log("North", "F1", "Corn", 1, 4)}
        paths = [self.write_log(name, text) for name, text in texts.items()]
        rc, out, err = self.run_converter("--merge", "--json", "--format", "shp,csv", *paths)
        self.assertEqual((rc, err), (1, ""))
        rx = self.cwd / "Rx"
        north, south = str(rx / "North_F1_Corn"), str(rx / "South_F2_Soy")
        def ok(k, base, points):
            return {"log": str(paths[k]), "status": "ok", "set": base, "points": points,
                    "error": None, "error_code": None, "line": None, "field": None}

        def failed(k, error, code, line, field):
            return {"log": str(paths[k]), "status": "error", "set": None, "points": 0,
                    "error": error, "error_code": code, "line": line, "field": field}

        self.assertEqual([json.loads(line) for line in out.splitlines()], [
            ok(0, north, 3), ok(1, south, 2),
            failed(2, "Non-finite coordinate in yield data", "non_finite_coordinate", 4, 7),
            ok(3, north, 4), failed(4, "invalid stod argument", "invalid_number", 3, 1),
            ok(5, north, 1),
            {"converted": 4, "total": 6, "output": str(rx)}])
        # Lost_F3_Rye, whose only log failed, is not written.
        self.assertEqual(sorted(os.listdir(rx)), sorted(
            n + e for n in ("North_F1_Corn", "South_F2_Soy") for e in SHAPEFILE + (".csv",)))
        want = [(n, v) for n in ("a.txt", "c.txt", "d.txt") for v in expected_values(texts[n])]
        self.assertEqual(dbf_texts(rx / "North_F1_Corn.dbf", "Log"), [n.encode() for n, _ in want])
        rows = list(csv.reader(io.StringIO((rx / "North_F1_Corn.csv").read_text(), newline="")))
        self.assertEqual(rows[0], ["longitude", "latitude"] + COLUMNS + ["Log"])
        self.assertEqual([(r[-1], tuple(map(float, r[:-1]))) for r in rows[1:]], want)
        dbf = (rx / "South_F2_Soy.dbf").read_bytes()  # Log: the last column, C(254)
        self.assertEqual((dbf[192:195], dbf[203], dbf[208]), (b"Log", ord("C"), 254))

    def test_the_log_column_holds_the_file_name_cut_at_a_character_boundary(self):
        long_name = "a" + "\u00e9" * 127  # 255 bytes: the 254th is the middle of an é
        folder = self.logs / "sub folder"
        folder.mkdir()
        paths = [folder / long_name, folder / "S\u00fcd \u5317.txt"]
        for path in paths:
            path.write_text(log_text("F", "G", "H", 1))
        rc, _, err = self.run_converter("--merge", "--format", "shp,geojson", *paths)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(dbf_texts(self.cwd / "Rx" / "F_G_H.dbf", "Log"),
                         [("a" + "\u00e9" * 126).encode(), "S\u00fcd \u5317.txt".encode()])
        features = json.loads((self.cwd / "Rx" / "F_G_H.geojson").read_text())["features"]
        self.assertEqual([f["properties"]["Log"] for f in features], [p.name for p in paths])


class NoClobber(ConverterTestCase):
    def test_a_log_whose_set_has_any_file_already_fails_and_leaves_it(self):
        log = self.write_log("a.txt", log_text("F", "G", "H", 3))
        other = self.write_log("b.txt", log_text("K", "L", "M", 2))
        for options, existing, fails in [([], "F_G_H.cpg", True),
                                         (["--format", "shp,geojson"], "F_G_H.geojson", True),
                                         (["--format", "csv"], "F_G_H.shp", False),
                                         (["--merge"], "F_G_H.prj", True)]:
            with self.subTest(options=options, existing=existing):
                out = self.tmp / ("out" + "".join(options) + existing)
                out.mkdir()
                (out / existing).write_bytes(b"earlier")
                rc, lines, _ = self.run_converter("--no-clobber", "-o", out, *options, log, other)
                self.assertEqual((out / existing).read_bytes(), b"earlier")
                self.assertEqual(rc, 1 if fails else 0)
                self.assertEqual(lines.splitlines()[1:3] == ["Error: Output set already exists",
                                                             "Processing b.txt..."], fails)
                self.assertEqual(sum(n.startswith("F_G_H") for n in os.listdir(out)),
                                 1 if fails else 2)

    def test_a_set_made_while_the_log_is_converted_is_kept(self):
        # A log big enough that its temporaries appear well before it is done: the set is made
        # then, after any check a converter could make before writing.
        big = self.write_log("big.txt", walk_log("F", "G", "H", 400000, 9))
        for attempt in range(3):
            out = self.tmp / ("race%d" % attempt)
            out.mkdir()
            process = subprocess.Popen([test_cli.CONVERTER, "--no-clobber", "-o", str(out),
                                        str(big)], stdout=subprocess.PIPE)
            deadline = time.monotonic() + 60
            while process.poll() is None and not any(n.startswith(".~vk-")
                                                     for n in os.listdir(out)):
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.001)
            (out / "F_G_H.dbf").write_bytes(b"made meanwhile")
            lines = process.communicate(timeout=120)[0].decode().splitlines()
            if process.returncode == 0 and (out / "F_G_H.shp").exists():
                continue  # done before the set appeared: try again
            self.assertEqual((process.returncode, lines[1]),
                             (1, "Error: Output set already exists"))
            self.assertEqual(os.listdir(out), ["F_G_H.dbf"])
            self.assertEqual((out / "F_G_H.dbf").read_bytes(), b"made meanwhile")
            return
        self.skipTest("the conversion was always done before the set could be made")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_batch_options.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR "
                 "[unittest options]")
    test_cli.CONVERTER = os.path.abspath(sys.argv[1])
    test_cli.SAMPLES = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
