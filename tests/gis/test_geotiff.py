#!/usr/bin/python3
"""Reads the GeoTIFFs that write_test_grids writes back with GDAL (gdalinfo -json, gdal_translate
to XYZ, gdallocationinfo): coordinate system, pixel size, origin, NoData and every cell's value
against the pattern it was written with; and the yield surface of a constant-yield field.

Usage: test_geotiff.py PATH_TO_WRITE_TEST_GRIDS [unittest options]
"""

import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

WRITER = None
NODATA = -3.4028234663852886e38


def pattern(columns, rows, scale, every):
    """The values write_test_grids writes: None for NoData."""
    return [[None if (r * 7 + c) % every == 0 else r * scale + c + 0.5 for c in range(columns)]
            for r in range(rows)]


class GeoTiffReadBack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tools = {t: shutil.which(t) for t in ("gdalinfo", "gdal_translate", "gdallocationinfo")}
        cls.folder = tempfile.mkdtemp(prefix="vk-geotiff-")
        subprocess.run([WRITER, cls.folder], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def tool(self, name):
        if self.tools[name] is None:
            self.skipTest("%s not found (Debian package gdal-bin)" % name)
        return self.tools[name]

    def run_tool(self, *args):
        r = subprocess.run(args, capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def info(self, name):
        return json.loads(self.run_tool(self.tool("gdalinfo"), "-json",
                                        os.path.join(self.folder, name)))

    def test_georeferencing_and_nodata(self):
        cases = [
            # file, size, EPSG, geotransform
            ("north.tif", [7, 5], 32615, [447000.0, 2.5, 0.0, 4653310.0, 0.0, -2.5]),
            ("south_strips.tif", [300, 250], 32760, [819000.0, 1.0, 0.0, 8173500.0, 0.0, -1.0]),
        ]
        for name, size, epsg, transform in cases:
            with self.subTest(file=name):
                info = self.info(name)
                self.assertEqual(info["driverShortName"], "GTiff")
                self.assertEqual(info["size"], size)
                self.assertIn('ID["EPSG",%d]]' % epsg, info["coordinateSystem"]["wkt"])
                self.assertEqual(info["geoTransform"], transform)
                self.assertEqual(info["metadata"][""]["AREA_OR_POINT"], "Area")
                band = info["bands"][0]
                self.assertEqual(band["type"], "Float32")
                self.assertAlmostEqual(band["noDataValue"] / NODATA, 1.0, places=6)

    def test_every_cell_as_written(self):
        cases = [("north.tif", 7, 5, 10.0, 4, 447000.0, 4653310.0, 2.5),
                 ("south_strips.tif", 300, 250, 1000.0, 11, 819000.0, 8173500.0, 1.0)]
        translate = self.tool("gdal_translate")
        for name, columns, rows, scale, every, west, north, cell in cases:
            with self.subTest(file=name):
                expected = pattern(columns, rows, scale, every)
                xyz = self.run_tool(translate, "-q", "-of", "XYZ",
                                    os.path.join(self.folder, name), "/vsistdout/").split("\n")
                cells = [line.split() for line in xyz if line.strip()]
                self.assertEqual(len(cells), columns * rows)
                for x, y, z in cells:
                    c = round((float(x) - west) / cell - 0.5)
                    r = round((north - float(y)) / cell - 0.5)
                    want = expected[r][c]
                    if want is None:
                        self.assertAlmostEqual(float(z) / NODATA, 1.0, places=6, msg=(r, c))
                    else:
                        self.assertEqual(float(z), want, (r, c))

    def test_surface_of_a_constant_field(self):
        info = self.info("surface.tif")
        self.assertIn('ID["EPSG",32615]]', info["coordinateSystem"]["wkt"])
        transform = info["geoTransform"]
        self.assertEqual((transform[1], transform[5]), (5.0, -5.0))
        self.assertEqual((transform[0] % 5.0, transform[3] % 5.0), (0.0, 0.0))
        locate = self.tool("gdallocationinfo")
        path = os.path.join(self.folder, "surface.tif")
        # Inside the field, and amid the hole of 40 m without points.
        for lon, lat, value in [(-93.6395, 42.0302, 150.0), (-93.638791, 42.030243, None)]:
            with self.subTest(lon=lon, lat=lat):
                out = self.run_tool(locate, "-valonly", "-wgs84", path, str(lon), str(lat))
                got = float(out.split()[0])
                if value is None:
                    self.assertAlmostEqual(got / NODATA, 1.0, places=6)
                else:
                    self.assertTrue(math.isclose(got, value, rel_tol=1e-5), got)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: test_geotiff.py PATH_TO_WRITE_TEST_GRIDS [unittest options]")
    WRITER = os.path.abspath(sys.argv[1])
    del sys.argv[1:2]
    unittest.main(verbosity=2)
