#!/usr/bin/python3
"""The HTML report in headless Chromium: it opens from disk with no network, its script runs
without error and draws every map, and the map area shows the yield colours and the removed
points; both as vornakite-cleanreport writes it and as vornakite-convert --report does. Saves
the screenshots (1366x768, a laptop screen) as report.png and report-convert.png in the build
folder.

Usage: test_report_browser.py CLEANREPORT GENDIRTY SAMPLES_DIR OUT_DIR CONVERTER
"""

import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

CLEANREPORT = GENDIRTY = SAMPLES = OUT = CONVERTER = None
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
# The yield classes' colours and the removed points' colour, as the report draws them.
PALETTE = {(0xD7, 0x30, 0x27), (0xFC, 0x8D, 0x59), (0xFE, 0xE0, 0x8B), (0xFF, 0xFF, 0xBF),
           (0xD9, 0xEF, 0x8B), (0x91, 0xCF, 0x60), (0x1A, 0x98, 0x50)}
REMOVED = (0x22, 0x22, 0x22)


def chromium(*args, timeout=120):
    with tempfile.TemporaryDirectory(prefix="vornakite_chromium_") as profile:
        cmd = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--user-data-dir=" + profile, "--window-size=1366,768", *args]
        return subprocess.run(cmd, capture_output=True, timeout=timeout)


def read_png(path):
    """Width, height and rows of (r, g, b) tuples of an 8-bit RGB or RGBA, non-interlaced PNG."""
    data = Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat = 8, b""
    while pos < len(data):
        length = int.from_bytes(data[pos:pos + 4], "big")
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height = int.from_bytes(body[:4], "big"), int.from_bytes(body[4:8], "big")
            depth, colour, interlace = body[8], body[9], body[12]
            assert depth == 8 and colour in (2, 6) and interlace == 0
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        prev = line
    return width, height, rows


@unittest.skipUnless(CHROMIUM or shutil.which("chromium"), "chromium is not installed")
class ReportInChromium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory(prefix="vornakite_report_")
        cls.dir = Path(cls._tmp.name)
        dirty = cls.dir / "Field_7.Vornakite"
        subprocess.run([GENDIRTY, "--seed", "7", str(dirty), str(cls.dir / "truth.csv")],
                       check=True, capture_output=True)
        logs = [str(dirty)] + sorted(str(p) for p in Path(SAMPLES).glob("*.Vornakite"))
        subprocess.run([CLEANREPORT, str(cls.dir), *logs], check=True, capture_output=True)
        subprocess.run([CONVERTER, "-q", "-o", str(cls.dir / "Rx"), "--clean", "--summary",
                        "--report", str(cls.dir / "convert" / "report.html"), *logs],
                       check=True, capture_output=True)
        cls.logs = len(logs)
        # Each page, and the name of its screenshot.
        cls.pages = [((cls.dir / "report.html").as_uri(), "report.png"),
                     ((cls.dir / "convert" / "report.html").as_uri(), "report-convert.png")]

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def test_the_script_runs_and_draws_every_map(self):
        for page, _ in self.pages:
            with self.subTest(page=page):
                dom = chromium("--dump-dom", page).stdout.decode()
                body = re.search(r"<body[^>]*>", dom)
                self.assertIsNotNone(body, dom[:2000])
                self.assertIn('data-maps-drawn="%d"' % self.logs, body.group(0))
                self.assertNotIn("data-error", body.group(0))
                self.assertEqual(dom.count("<canvas"), self.logs)
                self.assertEqual(dom.count('<a href="#log-'), self.logs)

    def test_the_map_shows_yield_classes_and_removed_points(self):
        for page, name in self.pages:
            with self.subTest(page=page):
                shot = Path(OUT) / name
                proc = chromium("--screenshot=" + str(shot), page)
                self.assertTrue(shot.exists(), proc.stderr.decode()[-2000:])
                width, height, rows = read_png(shot)
                self.assertEqual((width, height), (1366, 768))
                # The first map fills the left of the first screen, below the title.
                counts = {}
                for y in range(120, 560):
                    for x in range(20, 800):
                        counts[rows[y][x]] = counts.get(rows[y][x], 0) + 1
                coloured = sum(n for c, n in counts.items() if c in PALETTE)
                classes = sum(1 for c in PALETTE if counts.get(c, 0) > 50)
                self.assertGreater(coloured, 5000)
                self.assertGreaterEqual(classes, 6)
                self.assertGreater(counts.get(REMOVED, 0), 200)


if __name__ == "__main__":
    CLEANREPORT, GENDIRTY, SAMPLES, OUT, CONVERTER = sys.argv[1:6]
    unittest.main(argv=[sys.argv[0]] + sys.argv[6:], verbosity=2)
