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
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_cli  # noqa: E402
from test_cli import ConverterTestCase, dy, log_text, summary  # noqa: E402

SHAPEFILE = (".shp", ".shx", ".dbf", ".prj", ".cpg")
COLUMNS = ["Yield_bu", "Moist_pct", "Weight_ta", "Dens_lbbu", "Speed_MPH"]


def walk_log(farm, field, crop, samples, seed, records=None):
    """A log of `samples` distinct samples (seeded), as test_cli.log_text writes them."""
    rnd = random.Random(seed)
    if records is None:
        records = [dy(speed=30 + rnd.randrange(30), weight=400 + rnd.randrange(300),
                      moisture=150 + rnd.randrange(60), yld=rnd.randrange(3000),
                      lat=420313255 + 11 * i + rnd.randrange(5),
                      lon=-936391289 - 7 * i - rnd.randrange(5), density=540 + rnd.randrange(30))
                   for i in range(samples)]
    return log_text(farm, field, crop, records=records)


def expected_values(text):
    """(lon, lat, Yield_bu, ..., Speed_MPH) of each DY record, as the converter computes them."""
    rows = []
    for line in text.split("\n")[1:]:
        f = line.split("@")
        if line.startswith("DY") and len(f) >= 16:
            rows.append((float(f[8]) / 1e7, float(f[7]) / 1e7, float(f[6]) / 10,
                         float(f[5]) / 10, float(f[4]) / 100, float(f[14]) / 10, float(f[1]) / 10))
    return rows


def folder_bytes(folder):
    return {p.name: p.read_bytes() if p.is_file() else "(folder)" for p in sorted(folder.iterdir())}


class Jobs(ConverterTestCase):
    """Any -j gives the lines, JSON, names and bytes of -j 1."""

    def batch(self):
        # A big first log, so that later logs are done first; names that collide (also in a
        # different case), logs failing in reading (claiming no name), and one failing at its
        # output (a folder in the way of X_F_C_4.shp: it claims X_F_C_4 all the same).
        logs = [
            ("big.Vornakite", walk_log("X", "F", "C", 60000, 1)),
            ("gone.txt", None),
            ("a.txt", walk_log("X", "F", "C", 30, 2)),
            ("bad.csv", "only@a@header\n"),
            ("b.txt", walk_log("x", "F", "C", 40, 3)),
            ("nodata.Vornakite", "VK@1@2@3@4@5@X@F@C\nGP@1@2\n"),
            ("blocked.txt", walk_log("X", "F", "C", 50, 4)),
            ("c.txt", walk_log("Y", "F", "C", 20, 5)),
            ("d.txt", walk_log("X", "F", "C", 10, 6)),
            ("letters.txt", walk_log("X", "F", "C", 0, 0, records=[dy(), dy(density="abc")])),
            ("e.txt", walk_log("X", "F", "C", 5, 7)),
        ]
        paths = []
        for name, content in logs:
            paths.append(self.logs / name if content is None else self.write_log(name, content))
        return paths

    def run_in(self, folder, *args):
        """Runs the converter in `folder` into its Rx, named as given in every line."""
        folder.mkdir()
        (folder / "Rx").mkdir()
        (folder / "Rx" / "X_F_C_4.shp").mkdir()
        rc, out, err = self.run_converter("-o", "Rx", *args, cwd=folder)
        self.assertEqual(err, "")
        return rc, out, folder_bytes(folder / "Rx")

    def test_every_number_of_jobs_gives_the_lines_names_and_bytes_of_one(self):
        paths = self.batch()
        for extra in ([], ["--json"], ["--format", "shp,geojson,csv"], ["--merge"],
                      ["--merge", "--json", "--format", "csv,geojson"]):
            with self.subTest(options=extra):
                tag = "-".join(extra).replace(",", "_")
                one = self.run_in(self.tmp / ("one" + tag), "-j", "1", *extra, *paths)
                self.assertEqual(one[0], 1)
                if not extra:
                    self.assert_lines(one[1], [
                        "Processing big.Vornakite...",
                        "Processing gone.txt...", "Error: Cannot open file",
                        "Processing a.txt...",
                        "Processing bad.csv...", "Error: Invalid header format",
                        "Processing b.txt...",
                        "Processing nodata.Vornakite...", "Error: No yield data (DY) lines found",
                        "Processing blocked.txt...", "Error: Failed to create shapefile outputs",
                        "Processing c.txt...",
                        "Processing d.txt...",
                        "Processing letters.txt...", "Error: invalid stod argument",
                        "Processing e.txt...",
                        summary(6, 11)])
                    self.assertEqual(
                        sorted(n for n, b in one[2].items()
                               if n.endswith(".shp") and b != "(folder)"),
                        ["X_F_C.shp", "X_F_C_2.shp", "X_F_C_5.shp", "X_F_C_6.shp", "Y_F_C.shp",
                         "x_F_C_3.shp"])
                for jobs in (["-j", "2"], ["-j", "3"], ["--jobs", "16"], []):
                    many = self.run_in(self.tmp / ("many" + tag + "".join(jobs)), *jobs, *extra,
                                       *paths)
                    self.assertEqual(many[:2], one[:2], jobs)
                    self.assertEqual(many[2].keys(), one[2].keys(), jobs)
                    for name in one[2]:
                        self.assertEqual(many[2][name], one[2][name], "%s with %s" % (name, jobs))

    def test_bad_job_counts_are_usage_errors(self):
        log = self.write_log("a.txt", log_text("A", "B", "C"))
        for value in ["0", "-1", "two", "1025", "", "2x", "+2"]:
            with self.subTest(value=value):
                rc, out, err = self.run_converter("-j", value, log)
                self.assertEqual((rc, out), (2, ""))
                self.assertIn("usage", err)
        self.assertEqual(self.run_converter(log, "-j")[0], 2)
        self.assertEqual(os.listdir(self.cwd), [])


class Formats(ConverterTestCase):
    def test_each_choice_of_formats_writes_those_files_only(self):
        log = self.write_log("a.txt", walk_log("F", "G", "H", 7, 1))
        cases = [
            ("shp", SHAPEFILE),
            ("geojson", (".geojson",)),
            ("csv", (".csv",)),
            ("csv,GeoJSON", (".geojson", ".csv")),
            ("geojson,shp,csv,shp", SHAPEFILE + (".geojson", ".csv")),
        ]
        for formats, extensions in cases:
            with self.subTest(formats=formats):
                out = self.tmp / ("out-" + formats)
                rc, lines, err = self.run_converter("--format", formats, "-o", out, log)
                self.assertEqual((rc, err), (0, ""))
                self.assert_lines(lines, ["Processing a.txt...", summary(1, 1, str(out))])
                self.assertEqual(sorted(os.listdir(out)), sorted("F_G_H" + e for e in extensions))
        # The shapefile set is the same whatever else is written with it.
        for ext in SHAPEFILE:
            self.assertEqual((self.tmp / "out-shp" / ("F_G_H" + ext)).read_bytes(),
                             (self.tmp / "out-geojson,shp,csv,shp" / ("F_G_H" + ext)).read_bytes())

    def test_unknown_or_empty_formats_are_usage_errors(self):
        log = self.write_log("a.txt", log_text("A", "B", "C"))
        for value in ["kml", "", "shp,", ",csv", "shp,,csv", "json", "shp csv"]:
            with self.subTest(value=value):
                rc, out, err = self.run_converter("--format", value, log)
                self.assertEqual((rc, out), (2, ""))
                self.assertIn("--format", err)
        self.assertEqual(os.listdir(self.cwd), [])

    def test_geojson_and_csv_hold_every_value_exactly(self):
        text = walk_log("F", "G", "H", 300, 2)
        log = self.write_log("a.txt", text)
        rc, _, err = self.run_converter("--format", "geojson,csv", log)
        self.assertEqual((rc, err), (0, ""))
        want = expected_values(text)
        data = (self.cwd / "Rx" / "F_G_H.geojson").read_bytes()
        collection = json.loads(data.decode("utf-8"))
        self.assertEqual(collection["type"], "FeatureCollection")
        self.assertNotIn("crs", collection)  # RFC 7946: WGS 84 always
        got = []
        for feature in collection["features"]:
            self.assertEqual(feature["type"], "Feature")
            self.assertEqual(feature["geometry"]["type"], "Point")
            self.assertEqual(list(feature["properties"]), COLUMNS)
            got.append(tuple(feature["geometry"]["coordinates"]) +
                       tuple(feature["properties"][c] for c in COLUMNS))
        self.assertEqual(got, want)

        raw = (self.cwd / "Rx" / "F_G_H.csv").read_bytes()
        self.assertFalse(raw.startswith(b"\xef\xbb\xbf"))
        self.assertTrue(raw.endswith(b"\r\n"))
        self.assertEqual(raw.count(b"\r\n"), raw.count(b"\n"))
        rows = list(csv.reader(io.StringIO(raw.decode("utf-8"), newline="")))
        self.assertEqual(rows[0], ["longitude", "latitude"] + COLUMNS)
        self.assertEqual([tuple(float(v) for v in row) for row in rows[1:]], want)

    def test_values_beyond_the_dbase_columns_are_kept_and_infinities_are_null_or_empty(self):
        records = [dy(yld="1e300"), dy(moisture="-0"), dy(weight="1e-300"), dy(speed="inf"),
                   dy(density="-inf"), dy(yld="nan")]
        log = self.write_log("odd.txt", log_text("F", "G", "H", records=records))
        rc, _, err = self.run_converter("--format", "geojson,csv", log)
        self.assertEqual((rc, err), (0, ""))
        features = json.loads((self.cwd / "Rx" / "F_G_H.geojson").read_text())["features"]
        props = [f["properties"] for f in features]
        self.assertEqual(props[0]["Yield_bu"], 1e299)
        self.assertEqual(str(props[1]["Moist_pct"]), "-0.0")
        self.assertEqual(props[2]["Weight_ta"], 1e-302)
        self.assertEqual([p["Speed_MPH"] for p in props[3:]], [None, 4.5, 4.5])
        self.assertEqual([p["Dens_lbbu"] for p in props[3:]], [55.6, None, 55.6])
        self.assertEqual(props[5]["Yield_bu"], None)
        rows = (self.cwd / "Rx" / "F_G_H.csv").read_text().splitlines()
        self.assertEqual(rows[1].split(",")[2], "1e+299")
        self.assertEqual(rows[2].split(",")[3], "-0.0")
        self.assertEqual(rows[4].split(",")[6], "")
        self.assertEqual(rows[5].split(",")[5], "")
        self.assertEqual(rows[6].split(",")[2], "")


def dbf_texts(path, column):
    """The values of a character column of a .dbf, as bytes (trailing blanks removed)."""
    data = Path(path).read_bytes()
    count, header, record = struct.unpack("<IHH", data[4:12])
    offset = 1
    for at in range(32, header - 1, 32):
        name = data[at:at + 11].split(b"\0")[0].decode()
        width = data[at + 16]
        if name == column:
            return [data[header + r * record + offset:header + r * record + offset + width]
                    .rstrip(b" ") for r in range(count)]
        offset += width
    raise AssertionError("no column %s in %s" % (column, path))


def shp_points(path):
    data = Path(path).read_bytes()
    return [struct.unpack("<dd", data[at + 12:at + 28]) for at in range(100, len(data), 28)]


class Merge(ConverterTestCase):
    def test_logs_of_one_name_make_one_set_in_input_order_and_failing_logs_are_left_out(self):
        texts = {
            "a.txt": walk_log("North", "F1", "Corn", 3, 1),
            "b.txt": walk_log("South", "F2", "Soy", 2, 2),
            "broken.txt": walk_log("North", "F1", "Corn", 0, 0, records=[dy(), dy(lat="nan")]),
            "c.txt": walk_log("NORTH", "f1", "CORN", 4, 3),
            "d.txt": walk_log("North", "F1", "Corn", 1, 4),
        }
        paths = [self.write_log(name, text) for name, text in texts.items()]
        rc, out, err = self.run_converter("--merge", "--json", "--format", "shp,csv", *paths)
        self.assertEqual((rc, err), (1, ""))
        rx = self.cwd / "Rx"
        north, south = str(rx / "North_F1_Corn"), str(rx / "South_F2_Soy")
        self.assertEqual([json.loads(line) for line in out.splitlines()], [
            {"log": str(paths[0]), "status": "ok", "set": north, "points": 3, "error": None},
            {"log": str(paths[1]), "status": "ok", "set": south, "points": 2, "error": None},
            {"log": str(paths[2]), "status": "error", "set": None, "points": 0,
             "error": "Non-finite coordinate in yield data"},
            {"log": str(paths[3]), "status": "ok", "set": north, "points": 4, "error": None},
            {"log": str(paths[4]), "status": "ok", "set": north, "points": 1, "error": None},
            {"converted": 4, "total": 5, "output": str(rx)},
        ])
        self.assertEqual(sorted(os.listdir(rx)), sorted(
            [n + e for n in ("North_F1_Corn", "South_F2_Soy") for e in SHAPEFILE + (".csv",)]))
        want = [(name, v) for name in ("a.txt", "c.txt", "d.txt")
                for v in expected_values(texts[name])]
        self.assertEqual(shp_points(rx / "North_F1_Corn.shp"), [v[:2] for _, v in want])
        self.assertEqual(dbf_texts(rx / "North_F1_Corn.dbf", "Log"),
                         [name.encode() for name, _ in want])
        rows = list(csv.reader(io.StringIO((rx / "North_F1_Corn.csv").read_text(), newline="")))
        self.assertEqual(rows[0], ["longitude", "latitude"] + COLUMNS + ["Log"])
        self.assertEqual([(r[-1], tuple(float(x) for x in r[:-1])) for r in rows[1:]], want)
        # The Log column is the table's last, a character column of 254 bytes.
        dbf = (rx / "South_F2_Soy.dbf").read_bytes()
        self.assertEqual(dbf[32 * 6:32 * 6 + 3], b"Log")
        self.assertEqual((dbf[32 * 6 + 11], dbf[32 * 6 + 16]), (ord("C"), 254))
        self.assertEqual(len(dbf), 32 * 7 + 1 + 2 * (41 + 254) + 1)

    def test_plain_lines_come_in_input_order_and_every_set_is_written_whole(self):
        paths = [self.write_log("%d.txt" % i, walk_log("F%d" % (i % 3), "G", "H", 2 + i, i))
                 for i in range(9)]
        rc, out, _ = self.run_converter("--merge", *paths)
        self.assertEqual(rc, 0)
        self.assert_lines(out, ["Processing %d.txt..." % i for i in range(9)] + [summary(9, 9)])
        for k in range(3):
            points = sum(2 + i for i in range(k, 9, 3))
            self.assertEqual((self.cwd / "Rx" / ("F%d_G_H.shp" % k)).stat().st_size,
                             100 + 28 * points)
            self.assertEqual(dbf_texts(self.cwd / "Rx" / ("F%d_G_H.dbf" % k), "Log"),
                             [b"%d.txt" % i for i in range(k, 9, 3) for _ in range(2 + i)])

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
        self.assertEqual([f["properties"]["Log"] for f in features],
                         [long_name, "S\u00fcd \u5317.txt"])

    def test_a_set_whose_every_log_fails_is_not_written(self):
        bad = self.write_log("bad.txt", log_text("F", "G", "H", records=[dy(lat="x")]))
        good = self.write_log("good.txt", log_text("K", "L", "M", 2))
        rc, out, _ = self.run_converter("--merge", bad, good)
        self.assertEqual(rc, 1)
        self.assert_lines(out, ["Processing bad.txt...", "Error: invalid stod argument",
                                "Processing good.txt...", summary(1, 2)])
        self.assertEqual(sorted(os.listdir(self.cwd / "Rx")),
                         ["K_L_M" + e for e in sorted(SHAPEFILE)])


class NoClobber(ConverterTestCase):
    def test_a_log_whose_set_has_any_file_already_fails_and_leaves_it(self):
        log = self.write_log("a.txt", log_text("F", "G", "H", 3))
        other = self.write_log("b.txt", log_text("K", "L", "M", 2))
        cases = [
            ([], "F_G_H.shp", True),
            ([], "F_G_H.cpg", True),
            (["--format", "geojson"], "F_G_H.geojson", True),
            (["--format", "shp,csv"], "F_G_H.csv", True),
            (["--format", "csv"], "F_G_H.shp", False),  # not a file of the requested set
            (["--merge"], "F_G_H.prj", True),
        ]
        for options, existing, fails in cases:
            with self.subTest(options=options, existing=existing):
                out = self.tmp / ("out-%s-%s" % ("".join(options), existing))
                out.mkdir()
                (out / existing).write_bytes(b"earlier")
                rc, lines, _ = self.run_converter("--no-clobber", "-o", out, *options, log, other)
                self.assertEqual(rc, 1 if fails else 0)
                self.assertEqual((out / existing).read_bytes(), b"earlier")
                if fails:
                    self.assert_lines(lines, ["Processing a.txt...",
                                              "Error: Output set already exists",
                                              "Processing b.txt...", summary(1, 2, str(out))])
                    self.assertEqual([n for n in os.listdir(out) if n.startswith("F_G_H")],
                                     [existing])
                else:
                    self.assertEqual((out / "F_G_H.csv").read_bytes().count(b"\r\n"), 4)
                self.assertTrue(any(n.startswith("K_L_M.") for n in os.listdir(out)))

    def test_names_taken_in_the_same_batch_still_get_suffixes(self):
        logs = [self.write_log("%d.txt" % i, log_text("F", "G", "H", 2)) for i in range(3)]
        (self.cwd / "Rx").mkdir()
        (self.cwd / "Rx" / "F_G_H_2.dbf").write_bytes(b"earlier")
        rc, out, _ = self.run_converter("--no-clobber", *logs)
        self.assertEqual(rc, 1)
        self.assert_lines(out, ["Processing 0.txt...", "Processing 1.txt...",
                                "Error: Output set already exists", "Processing 2.txt...",
                                summary(2, 3)])
        self.assert_set(self.cwd / "Rx", "F_G_H", 2)
        self.assert_set(self.cwd / "Rx", "F_G_H_3", 2)

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
            while not any(n.startswith(".~vk-") for n in os.listdir(out)):
                self.assertLess(time.monotonic(), deadline)
                if process.poll() is not None:
                    break
                time.sleep(0.001)
            (out / "F_G_H.dbf").write_bytes(b"made meanwhile")
            lines = process.communicate(timeout=120)[0].decode()
            if process.returncode == 0 and "F_G_H.shp" in os.listdir(out):
                continue  # done before the set appeared: try again
            self.assertEqual(process.returncode, 1, lines)
            self.assertEqual(lines.splitlines()[1], "Error: Output set already exists")
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
