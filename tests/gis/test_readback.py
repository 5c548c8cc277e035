#!/usr/bin/python3
"""Converts the sample logs and reads every set back with the programs GIS users use:
GDAL's ogrinfo, pyshp and shapelib's shpdump/dbfdump; the GeoJSON and CSV outputs, and merged
sets, with ogrinfo. Each reading is compared with the values parsed here, independently, from the
log's DY records.

Usage: test_readback.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]
"""

import datetime
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

CONVERTER = None
SAMPLES = None

LOG_EXTENSIONS = (".vornakite", ".txt", ".csv")
# Column name, dBASE width, decimals, DY field, divisor.
COLUMNS = [
    ("Yield_bu", 10, 2, 6, 10),
    ("Moist_pct", 6, 1, 5, 10),
    ("Weight_ta", 10, 2, 4, 100),
    ("Dens_lbbu", 8, 1, 14, 10),
    ("Speed_MPH", 6, 1, 1, 10),
]


class ParsedLog:
    """A sample log as the converter should see it: header name and the DY samples."""

    def __init__(self, path):
        data = Path(path).read_bytes().split(b"\x1a", 1)[0]
        lines = [l[:-1] if l.endswith(b"\r") else l for l in data.split(b"\n")]
        header = lines[0].split(b"@")
        joined = b"_".join(header[6:9]).decode("latin-1")
        self.name = re.sub(r"[^-.0-9A-Za-z_]", "_", joined).lstrip("_.")
        self.points = []  # (lon, lat)
        self.values = []  # one tuple per point, in COLUMNS order
        for line in lines[1:]:
            fields = line.split(b"@")
            if not line.startswith(b"DY") or len(fields) < 16:
                continue
            self.points.append((float(fields[8]) / 1e7, float(fields[7]) / 1e7))
            self.values.append(tuple(float(fields[f]) / d for _, _, _, f, d in COLUMNS))
        xs = [p[0] for p in self.points]
        ys = [p[1] for p in self.points]
        self.bbox = [min(xs), min(ys), max(xs), max(ys)]

    def dbf_text(self, row, column):
        """The text a dBASE field of the column holds for the value: '%.*f' rounding."""
        return "%.*f" % (COLUMNS[column][2], self.values[row][column])


def run(*args):
    proc = subprocess.run(list(args), capture_output=True, timeout=300)
    return proc.returncode, proc.stdout.decode("utf-8", "replace"), proc.stderr.decode(
        "utf-8", "replace")


class ReadBack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory(prefix="vornakite_gis_")
        cls.out = Path(cls._tmp.name) / "sets"
        paths = [p for p in sorted(Path(SAMPLES).iterdir()) if p.suffix.lower() in LOG_EXTENSIONS]
        cls.logs = [ParsedLog(p) for p in paths]
        cls.convert = run(CONVERTER, "-o", str(cls.out), *map(str, paths))

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def setUp(self):
        rc, out, err = self.convert
        self.assertEqual(rc, 0, "conversion failed:\n" + out + err)
        self.assertGreaterEqual(len(self.logs), 2)

    def need(self, program, package):
        path = shutil.which(program)
        if path is None:
            self.skipTest("%s not found (Debian package %s)" % (program, package))
        return path

    def shp(self, log):
        return str(self.out / (log.name + ".shp"))

    def test_ogrinfo_summary_shows_point_layer_with_extent_fields_and_wgs84(self):
        ogrinfo = self.need("ogrinfo", "gdal-bin")
        today = datetime.date.today()
        dates = {str(today), str(today - datetime.timedelta(days=1))}
        for log in self.logs:
            with self.subTest(log=log.name):
                rc, out, err = run(ogrinfo, "-al", "-so", self.shp(log))
                self.assertEqual((rc, err), (0, ""))
                self.assertIn("Layer name: %s\n" % log.name, out)
                self.assertIn("Geometry: Point\n", out)
                self.assertIn("Feature Count: %d\n" % len(log.points), out)
                self.assertIn("Extent: (%f, %f) - (%f, %f)\n" % tuple(log.bbox), out)
                for name, width, decimals, _, _ in COLUMNS:
                    self.assertIn("%s: Real (%d.%d)\n" % (name, width, decimals), out)
                self.assertRegex(out, r'GEOG(CRS|CS)\["WGS 84"')
                self.assertRegex(out, r'(ELLIPSOID|SPHEROID)\["WGS 84",6378137,298\.257223563')
                date = re.search(r"DBF_DATE_LAST_UPDATE=(\S+)", out)
                self.assertIsNotNone(date, "no last-update date in the .dbf")
                self.assertIn(date.group(1), dates)

    def test_ogrinfo_features_match_the_log(self):
        ogrinfo = self.need("ogrinfo", "gdal-bin")
        for log in self.logs:
            with self.subTest(log=log.name):
                rc, out, err = run(ogrinfo, "-al", "-q", self.shp(log))
                self.assertEqual((rc, err), (0, ""))
                features = re.split(r"\nOGRFeature\([^)]*\):(\d+)\n", out)[1:]
                self.assertEqual(len(features), 2 * len(log.points))
                for k in range(0, len(features), 2):
                    row = int(features[k])
                    self.assertEqual(row, k // 2)
                    body = features[k + 1]
                    for c, (name, _, _, _, _) in enumerate(COLUMNS):
                        value = re.search(r"  %s \(Real\) = (\S+)" % name, body)
                        self.assertIsNotNone(value, "%s missing in feature %d" % (name, row))
                        self.assertAlmostEqual(float(value.group(1)),
                                               float(log.dbf_text(row, c)), places=9,
                                               msg="%s of feature %d" % (name, row))
                    point = re.search(r"POINT \((\S+) (\S+)\)", body)
                    self.assertIsNotNone(point, "no point in feature %d" % row)
                    x, y = log.points[row]
                    self.assertAlmostEqual(float(point.group(1)), x, delta=1e-12)
                    self.assertAlmostEqual(float(point.group(2)), y, delta=1e-12)

    def test_pyshp_reads_exact_points_and_rounded_records(self):
        try:
            import shapefile
        except ImportError:
            self.skipTest("pyshp not importable (Debian package python3-pyshp)")
        for log in self.logs:
            with self.subTest(log=log.name):
                with shapefile.Reader(self.shp(log)) as sf:
                    self.assertEqual(sf.shapeType, shapefile.POINT)
                    self.assertEqual(len(sf), len(log.points))
                    self.assertEqual(sf.numRecords, len(log.points))
                    self.assertEqual(list(sf.bbox), log.bbox)
                    self.assertEqual([list(f) for f in sf.fields[1:]],
                                     [[n, "N", w, d] for n, w, d, _, _ in COLUMNS])
                    for row, (shape, record) in enumerate(zip(sf.iterShapes(),
                                                              sf.iterRecords())):
                        self.assertEqual(shape.shapeType, shapefile.POINT)
                        self.assertEqual([tuple(p) for p in shape.points], [log.points[row]],
                                         "point %d" % row)
                        for c, (name, _, decimals, _, _) in enumerate(COLUMNS):
                            self.assertLessEqual(abs(record[c] - log.values[row][c]),
                                                 0.5 * 10**-decimals + 1e-9,
                                                 "%s of record %d" % (name, row))

    def test_shpdump_lists_every_point(self):
        shpdump = self.need("shpdump", "shapelib")
        for log in self.logs:
            with self.subTest(log=log.name):
                rc, out, err = run(shpdump, self.shp(log))
                self.assertEqual((rc, err), (0, ""))
                self.assertRegex(out, r"Shapefile Type: Point\s+# of Shapes: %d\n" %
                                 len(log.points))
                shapes = re.findall(r"Shape:(\d+) \(Point\)\s+nVertices=1, nParts=0\n"
                                    r"\s+Bounds:.*\n\s+to .*\n\s+\(([^,]+),([^,]+),", out)
                self.assertEqual([int(s[0]) for s in shapes], list(range(len(log.points))))
                for row in (0, 1, len(shapes) // 2, len(shapes) - 1):
                    x, y = log.points[row]
                    self.assertAlmostEqual(float(shapes[row][1]), x, delta=1e-9)
                    self.assertAlmostEqual(float(shapes[row][2]), y, delta=1e-9)
                bounds = re.search(r"File Bounds: \(([^,]+),([^,]+),.*\n\s+to\s+\(([^,]+),"
                                   r"([^,]+),", out)
                self.assertIsNotNone(bounds)
                for got, want in zip(bounds.groups(), log.bbox):
                    self.assertAlmostEqual(float(got), want, delta=1e-9)

    def test_dbfdump_shows_the_columns_and_the_rounded_texts(self):
        dbfdump = self.need("dbfdump", "shapelib")
        for log in self.logs:
            with self.subTest(log=log.name):
                dbf = str(self.out / (log.name + ".dbf"))
                rc, out, err = run(dbfdump, "-h", dbf)
                self.assertEqual((rc, err), (0, ""))
                for i, (name, width, decimals, _, _) in enumerate(COLUMNS):
                    self.assertIn("Field %d: Type=N/Double, Title=`%s', Width=%d, Decimals=%d"
                                  % (i, name, width, decimals), out)
                rc, out, err = run(dbfdump, "-m", "-r", dbf)
                self.assertEqual((rc, err), (0, ""))
                records = re.split(r"\nRecord: \d+\n", "\n" + out.lstrip("\n"))[1:]
                self.assertEqual(len(records), len(log.values))
                for row, text in enumerate(records):
                    got = dict(re.findall(r"^(\w+): *(\S*) *$", text, re.M))
                    want = {name: log.dbf_text(row, c) for c, (name, *_) in enumerate(COLUMNS)}
                    self.assertEqual(got, want, "record %d" % row)


def ogr_features(out):
    """The features ogrinfo -al -q prints: ({field: text}, (x, y))."""
    features = []
    for body in re.split(r"\nOGRFeature\([^)]*\):\d+\n", out)[1:]:
        point = re.search(r"POINT \((\S+) (\S+)\)", body)
        features.append((dict(re.findall(r"^  (\w+) \(\w+\) = (.*)$", body, re.M)),
                         (float(point.group(1)), float(point.group(2)))))
    return features


class TextFormatsReadBack(unittest.TestCase):
    """The GeoJSON and CSV of each sample, and the samples merged (each given twice), as GDAL's
    ogrinfo reads them."""

    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory(prefix="vornakite_gis_text_")
        cls.out = Path(cls._tmp.name) / "sets"
        cls.merged = Path(cls._tmp.name) / "merged"
        cls.paths = [p for p in sorted(Path(SAMPLES).iterdir())
                     if p.suffix.lower() in LOG_EXTENSIONS]
        cls.logs = [ParsedLog(p) for p in cls.paths]
        cls.runs = [run(CONVERTER, "--format", "geojson,csv", "-o", str(cls.out), *cls.paths),
                    run(CONVERTER, "--merge", "--format", "shp,geojson,csv", "-o",
                        str(cls.merged), *(cls.paths + cls.paths))]

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def setUp(self):
        for rc, out, err in self.runs:
            self.assertEqual(rc, 0, "conversion failed:\n" + out + err)
        self.ogrinfo = shutil.which("ogrinfo")
        if self.ogrinfo is None:
            self.skipTest("ogrinfo not found (Debian package gdal-bin)")

    def ogrinfo_of(self, path, *args):
        if path.suffix == ".csv":
            args += ("-oo", "X_POSSIBLE_NAMES=longitude", "-oo", "Y_POSSIBLE_NAMES=latitude")
        rc, out, err = run(self.ogrinfo, "-al", *args, str(path))
        self.assertEqual((rc, err), (0, ""))
        return out

    def test_points_and_values_read_back_exactly(self):
        for log in self.logs:
            for ext in (".geojson", ".csv"):
                with self.subTest(log=log.name, format=ext):
                    path = self.out / (log.name + ext)
                    summary = self.ogrinfo_of(path, "-so")
                    self.assertIn("Geometry: Point\nFeature Count: %d\n" % len(log.points),
                                  summary)
                    if ext == ".geojson":  # RFC 7946: WGS 84 without saying so; real numbers
                        self.assertRegex(summary, r'GEOG(CRS|CS)\["WGS 84"')
                        self.assertIn("Yield_bu: Real", summary)
                    features = ogr_features(self.ogrinfo_of(path, "-q"))
                    self.assertEqual([point for _, point in features], log.points)
                    self.assertEqual([tuple(float(f[name]) for name, *_ in COLUMNS)
                                      for f, _ in features], log.values)

    def test_merged_sets_hold_every_logs_points_in_order_with_the_log_names(self):
        for log, path in zip(self.logs, self.paths):
            for ext in (".shp", ".geojson", ".csv"):
                with self.subTest(log=log.name, format=ext):
                    features = ogr_features(self.ogrinfo_of(self.merged / (log.name + ext), "-q"))
                    self.assertEqual([point for _, point in features], log.points * 2)
                    self.assertEqual({f["Log"] for f, _ in features}, {path.name})
        self.assertEqual(len(os.listdir(self.merged)), 7 * len(self.logs))


class YieldGridReadBack(unittest.TestCase):
    """--grid CELL_M: BASE_yield.tif of every set, and of a merged set, as GDAL reads it."""

    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory(prefix="vornakite_grid_")
        cls.dir = Path(cls._tmp.name)
        paths = [p for p in sorted(Path(SAMPLES).iterdir()) if p.suffix.lower() in LOG_EXTENSIONS]
        cls.logs = [(ParsedLog(p), p) for p in paths]
        cls.runs = [run(CONVERTER, "-o", str(cls.dir / "each"), "--clean", "--grid", "5",
                        *map(str, paths)),
                    run(CONVERTER, "-o", str(cls.dir / "merged"), "--merge", "--grid", "3",
                        str(paths[0]), str(paths[0]))]

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def test_the_grid_is_georeferenced_and_its_cells_match_the_points_near_them(self):
        for tool in ("gdalinfo", "gdallocationinfo"):
            if shutil.which(tool) is None:
                self.skipTest(tool + " not found (Debian package gdal-bin)")
        self.assertEqual([r[0] for r in self.runs], [0, 0])
        log0, path0 = self.logs[0]
        cases = [(log, self.dir / "each" / (log.name + "_yield.tif"), 5.0) for log, _ in self.logs]
        cases.append((log0, self.dir / "merged" / (log0.name + "_yield.tif"), 3.0))
        for log, tif, cell in cases:
            with self.subTest(tif=tif.name, cell=cell):
                info = json.loads(run("gdalinfo", "-json", str(tif))[1])
                zone = int((sum(p[0] for p in log.points) / len(log.points) + 180) // 6) + 1
                self.assertIn('ID["EPSG",%d]' % (32600 + zone), info["coordinateSystem"]["wkt"])
                self.assertEqual(info["geoTransform"][1], cell)
                self.assertEqual(info["geoTransform"][5], -cell)
                self.assertEqual(info["bands"][0]["type"], "Float32")
                self.assertAlmostEqual(info["bands"][0]["noDataValue"], -3.4028234663852886e+38,
                                       delta=1e31)
                # At every point with a yield, the cell's value lies within the yields of the
                # points within the reach of the cell's interpolation (cell half-diagonal plus
                # the radius, at most 15 m here).
                located = [(lon, lat, v[0]) for (lon, lat), v in zip(log.points, log.values)
                           if v[0] > 0]
                text = "\n".join("%.8f %.8f" % (lon, lat) for lon, lat, _ in located) + "\n"
                proc = subprocess.run(["gdallocationinfo", "-valonly", "-wgs84", str(tif)],
                                      input=text, capture_output=True, text=True)
                values = proc.stdout.split("\n")[:len(located)]
                checked = 0
                for (lon, lat, _), value in zip(located, values):
                    if not value or float(value) < -1e38:
                        continue
                    near = [y for x2, y2, y in located
                            if math.hypot((x2 - lon) * 111320 * math.cos(math.radians(lat)),
                                          (y2 - lat) * 110574) < 15 + cell]
                    self.assertGreaterEqual(float(value), min(near) - 0.01)
                    self.assertLessEqual(float(value), max(near) + 0.01)
                    checked += 1
                self.assertGreater(checked, len(located) * 0.8)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_readback.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR "
                 "[unittest options]")
    CONVERTER = os.path.abspath(sys.argv[1])
    SAMPLES = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
