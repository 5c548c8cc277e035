#!/usr/bin/python3
"""The HTML report in headless Chromium: it opens from disk with no network, its script runs
without error and draws every map as it comes into view, and the map area shows the yield
colours and the removed points; both as vornakite-cleanreport writes it and as vornakite-convert
--report does. Then, driven through the DevTools protocol over a pipe: the wheel zooms, pointing
at a dot shows its values, the reason toggles hide points, the common classes change the
colours, a merged set is one section with every log's points, and a page of 1,000 logs opens
drawing only the maps in view. Saves the screenshots (1366x768, a laptop screen) as report.png,
report-convert.png and report-explore.png in the build folder, and prints the timings.

Usage: test_report_browser.py CLEANREPORT GENDIRTY SAMPLES_DIR OUT_DIR CONVERTER GENLOG
"""

import json
import os
import re
import shutil
import time
import subprocess
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

CLEANREPORT = GENDIRTY = SAMPLES = OUT = CONVERTER = GENLOG = None
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


class Browser:
    """Headless Chromium driven through the DevTools protocol on a pipe (fds 3 and 4)."""

    def __init__(self, width=1366, height=768):
        self._profile = tempfile.TemporaryDirectory(prefix="vornakite_cdp_")
        to_browser, self._out = os.pipe()
        self._in, from_browser = os.pipe()

        def fds():
            a, b = os.dup(to_browser), os.dup(from_browser)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--remote-debugging-pipe", "--user-data-dir=" + self._profile.name,
             "--window-size=%d,%d" % (width, height), "about:blank"],
            preexec_fn=fds, pass_fds=(3, 4), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self._buf, self._id = b"", 0
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False, session=True)
        self.call("Page.enable", session=True)

    def call(self, method, session=False, **params):
        self._id += 1
        message = {"id": self._id, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        os.write(self._out, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self._buf:
                chunk = os.read(self._in, 1 << 20)
                if not chunk:
                    raise RuntimeError("chromium closed the pipe")
                self._buf += chunk
            raw, self._buf = self._buf.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == self._id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})

    def js(self, expression):
        result = self.call("Runtime.evaluate", session=True, expression=expression,
                           returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(result["exceptionDetails"])
        return result["result"].get("value")

    def open(self, url):
        """Opens the page; returns the seconds until its first map is drawn and until its load
        event."""
        start = time.monotonic()
        self.call("Page.navigate", session=True, url=url)
        self.wait("document.body && +document.body.getAttribute('data-maps-drawn') >= 1")
        first = time.monotonic() - start
        self.wait("document.readyState === 'complete'")
        return first, time.monotonic() - start

    def wait(self, condition, timeout=60):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.js("!!(%s)" % condition):
                return
            time.sleep(0.05)
        raise AssertionError("timed out waiting for " + condition)

    def frames(self, count=3):
        """Lets the page draw what it scheduled for the next animation frames."""
        self.js("new Promise(function(r){var n=%d;(function f(){if(--n<0)r(1);else "
                "requestAnimationFrame(f);})();})" % count)

    def mouse(self, kind, x, y, **extra):
        self.call("Input.dispatchMouseEvent", session=True, type=kind, x=x, y=y, **extra)

    def screenshot(self, path):
        import base64
        data = self.call("Page.captureScreenshot", session=True, format="png")["data"]
        Path(path).write_bytes(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close")
        except (RuntimeError, OSError):
            pass
        self.proc.wait(timeout=30)
        os.close(self._in)
        os.close(self._out)
        self._profile.cleanup()


# The screen position of the page's first map's point number i (CSS pixels), from the view the
# page's script keeps: as the script draws it.
POINT_AT = """(function(L,i){var r=L.cv.getBoundingClientRect(),d=L.d;
  var x=r.left+L.cw/2+(d.X[i]*L.w/65535-L.v.cx)*L.sc,y=r.top+L.ch/2-(d.Y[i]*L.h/65535-L.v.cy)*L.sc;
  return [x,y];})(VK_LOGS[%d],%d)"""


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
                self.assertNotIn("data-error", body.group(0))
                self.assertEqual(dom.count("<canvas"), self.logs)
                self.assertEqual(dom.count('<a href="#log-'), self.logs)
                # The maps are drawn as they come into view, after the load event a dump
                # may precede: the browser below waits for each one scrolled into view.
                browser = Browser()
                try:
                    browser.open(page)
                    for k in range(self.logs):
                        browser.js("document.getElementById('map-'+VK_LOGS[%d].id)"
                                   ".scrollIntoView()" % k)
                        browser.wait("+document.body.getAttribute('data-maps-drawn') >= %d"
                                     % (k + 1))
                    self.assertIsNone(browser.js("document.body.getAttribute('data-error')"))
                finally:
                    browser.close()

    def test_the_map_shows_yield_classes_and_removed_points(self):
        for page, name in self.pages:
            with self.subTest(page=page):
                shot = Path(OUT) / name
                # Taken once the first map is drawn: the maps are drawn after the load event.
                browser = Browser()
                try:
                    browser.open(page)
                    browser.frames()
                    browser.screenshot(shot)
                finally:
                    browser.close()
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


def shifted_copy(source, target, north):
    """The log with every sample moved `north` units of 1e-7 degrees of latitude."""
    lines = Path(source).read_text().split("\n")
    for k, line in enumerate(lines):
        f = line.split("@")
        if f[0] == "DY":
            f[7] = str(int(f[7]) + north)
            lines[k] = "@".join(f)
    Path(target).write_text("\n".join(lines))


def map_pixels(shot, box):
    """Counts of each colour in the box (x0, y0, x1, y1) of a screenshot."""
    _, _, rows = read_png(shot)
    counts = {}
    for y in range(int(box[1]) + 2, int(box[3]) - 2):
        for x in range(int(box[0]) + 2, int(box[2]) - 2):
            counts[rows[y][x]] = counts.get(rows[y][x], 0) + 1
    return counts


@unittest.skipUnless(CHROMIUM, "chromium is not installed")
class ExploreInChromium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory(prefix="vornakite_explore_")
        d = cls.dir = Path(cls._tmp.name)
        samples = sorted(Path(SAMPLES).glob("*.Vornakite"))
        run = lambda *a: subprocess.run([CONVERTER, "-q", *map(str, a)], check=True,
                                        capture_output=True)
        run("-o", d / "Rx", "--clean", "--report", d / "samples.html", "--grid", "5", *samples)
        run("-o", d / "csv", "--format", "csv", samples[0])
        # One field logged on two days, and a log of the same name 5 km away: one section.
        shifted_copy(samples[0], d / "day2.Vornakite", 30)
        shifted_copy(samples[0], d / "far.Vornakite", 450000)
        run("-o", d / "merged", "--merge", "--clean", "--report", d / "merged.html", "--grid", "4",
            samples[0], d / "day2.Vornakite", d / "far.Vornakite")
        cls.browser = Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls._tmp.cleanup()

    def open(self, name):
        b = self.browser
        b.open((self.dir / name).as_uri())
        b.wait("+document.body.getAttribute('data-maps-drawn') >= 1")
        b.frames()
        return b

    def map_box(self, k=0):
        return self.browser.js("(function(r){return [r.left,r.top,r.right,r.bottom];})"
                               "(VK_LOGS[%d].cv.getBoundingClientRect())" % k)

    def first_point(self, condition, k=0):
        """The index of the first point of map k for which `condition` (on d, i) holds."""
        return self.browser.js("(function(L){var d=L.d;for(var i=0;i<L.n;i++)if(%s)return i;"
                               "return -1;})(VK_LOGS[%d])" % (condition, k))

    def tip_at(self, k, i):
        b = self.browser
        x, y = b.js(POINT_AT % (k, i))
        b.mouse("mouseMoved", x, y)
        return b.js("(function(t){return t.hidden?null:t.textContent;})(VK_LOGS[%d].tip)" % k)

    def test_the_wheel_zooms_and_dragging_pans(self):
        b = self.open("samples.html")
        x0, y0, x1, y1 = self.map_box()
        b.mouse("mouseWheel", (x0 + x1) / 2, (y0 + y1) / 2, deltaX=0, deltaY=-400)
        b.frames()
        zoom = float(b.js("VK_LOGS[0].cv.getAttribute('data-zoom')"))
        self.assertGreater(zoom, 1.5)
        centre = b.js("VK_LOGS[0].v.cx")
        b.mouse("mousePressed", x0 + 200, y0 + 100, button="left", buttons=1, clickCount=1)
        b.mouse("mouseMoved", x0 + 300, y0 + 100, button="left", buttons=1)
        b.mouse("mouseReleased", x0 + 300, y0 + 100, button="left", buttons=0, clickCount=1)
        b.frames()
        self.assertLess(b.js("VK_LOGS[0].v.cx"), centre)

    def test_pointing_at_a_dot_shows_its_values(self):
        b = self.open("samples.html")
        rows = next((self.dir / "csv").glob("*.csv")).read_bytes().decode().split("\r\n")
        header = rows[0].split(",")
        cases = [("kept", "!d.mask[i]&&i>20", ["Yield_bu", "Moist_pct", "Weight_ta", "t/ac, as logged",
                                               "Dens_lbbu", "Speed_MPH", "(1-based"]),
                 ("removed", "d.mask[i]&(1<<7)", ["removed:", "ZERO (zero or negative yield)"])]
        for kind, condition, expected in cases:
            with self.subTest(kind=kind):
                i = self.first_point(condition)
                self.assertGreaterEqual(i, 0)
                tip = self.tip_at(0, i)
                self.assertIsNotNone(tip)
                for text in expected:
                    self.assertIn(text, tip)
                # The values are those of the sample named, as the converted set holds them.
                sample = int(re.search(r"sample (\d+)", tip).group(1))
                row = dict(zip(header, rows[sample].split(",")))
                shown = float(re.search(r"Yield_bu: ([-0-9.]+)", tip).group(1))
                self.assertAlmostEqual(shown, float(row["Yield_bu"]), places=2)

    def test_toggles(self):
        b = self.open("samples.html")
        box = self.map_box()
        shot = Path(OUT) / "report-toggle.png"
        b.screenshot(shot)
        before = map_pixels(shot, box)
        zero = self.first_point("d.first[i]===7")  # removed for ZERO first
        self.assertIsNotNone(self.tip_at(0, zero))
        # The reason toggle hides the points removed for it.
        b.js("VK_LOGS[0].sec.querySelector('.reason[data-r=\"7\"]').click()")
        b.frames()
        b.screenshot(shot)
        after = map_pixels(shot, box)
        self.assertGreater(before.get(REMOVED, 0), 100)
        self.assertLess(after.get(REMOVED, 0), before.get(REMOVED, 0) / 10)
        self.assertIsNone(self.tip_at(0, zero))
        # Classes common to the corn and soybean fields colour the corn field differently.
        legend = b.js("VK_LOGS[0].sec.querySelector('.range').textContent")
        b.js("document.getElementById('common-classes').click()")
        b.frames()
        self.assertEqual(b.js("document.body.getAttribute('data-classes')"), "common")
        self.assertNotEqual(b.js("VK_LOGS[0].sec.querySelector('.range').textContent"), legend)
        b.screenshot(shot)
        common = map_pixels(shot, box)
        changed = sum(abs(common.get(c, 0) - after.get(c, 0)) for c in PALETTE)
        self.assertGreater(changed, 500)
        # The surface layer replaces the kept points by the grid's cells.
        b.js("document.getElementById('common-classes').click()")
        b.js("VK_LOGS[0].sec.querySelector('.layer').click()")
        b.frames()
        self.assertTrue(b.js("VK_LOGS[0].showGrid"))
        b.screenshot(shot)
        grid = map_pixels(shot, box)
        self.assertGreater(sum(grid.get(c, 0) for c in PALETTE),
                           2 * sum(after.get(c, 0) for c in PALETTE))

    def test_a_merged_set_is_one_section_with_every_log(self):
        b = self.open("merged.html")
        self.assertEqual(b.js("VK_LOGS.length"), 1)
        self.assertEqual(b.js("document.querySelectorAll('canvas').length"), 1)
        title = b.js("document.querySelector('section h2').textContent")
        for log in ("2026-10-01.Vornakite", "day2.Vornakite", "far.Vornakite"):
            self.assertIn(log, title)
        self.assertIn("probably different fields", b.js("document.body.textContent"))
        self.assertEqual(b.js("VK_LOGS[0].starts"), [0, 410, 820])
        # Each point tells its log: one of the second log.
        b.js("VK_LOGS[0].v.k=40;VK_LOGS[0].v.cx=VK_LOGS[0].w/2;VK_LOGS[0].v.cy=30")
        b.frames()
        i = self.first_point("!d.mask[i]&&i>=L.n/3+20&&i<2*L.n/3")
        b.js("(function(L,i){L.v.cx=L.d.X[i]*L.w/65535;L.v.cy=L.d.Y[i]*L.h/65535;})"
             "(VK_LOGS[0],%d)" % i)
        b.js("VK_LOGS[0].cv.dispatchEvent(new WheelEvent('wheel',{deltaY:0}))")
        b.frames()
        tip = self.tip_at(0, i)
        self.assertIsNotNone(tip)
        self.assertIn("log: day2.Vornakite", tip)
        b.screenshot(Path(OUT) / "report-explore.png")

    def test_a_page_of_a_thousand_logs_opens_at_once(self):
        d = self.dir / "thousand"
        d.mkdir()
        source = sorted(Path(SAMPLES).glob("*.Vornakite"))[0]
        logs = []
        for k in range(1000):
            logs.append(d / ("log%04d.Vornakite" % k))
            shutil.copy(source, logs[-1])
        subprocess.run([CLEANREPORT, str(d), *map(str, logs)], check=True, capture_output=True)
        size = (d / "report.html").stat().st_size
        first, seconds = self.browser.open((d / "report.html").as_uri())
        drawn = int(self.browser.js("document.body.getAttribute('data-maps-drawn')"))
        print("\n1,000 logs: page %.1f MB, first map after %.2f s, load event after %.2f s, "
              "%d maps drawn" % (size / 1e6, first, seconds, drawn), file=sys.stderr)
        self.assertEqual(self.browser.js("VK_LOGS.length"), 1000)
        self.assertLessEqual(drawn, 5)

    def test_a_large_log_is_drawn_after_each_zoom(self):
        log = self.dir / "large.Vornakite"
        subprocess.run([GENLOG, "200000", str(log)], check=True, capture_output=True)
        d = self.dir / "large"
        d.mkdir()
        subprocess.run([CLEANREPORT, str(d), str(log)], check=True, capture_output=True)
        b = self.open("large/report.html")
        x0, y0, x1, y1 = self.map_box()
        times = []
        for delta in (-300, -300, 300, -600):
            b.mouse("mouseWheel", (x0 + x1) / 2, (y0 + y1) / 2, deltaX=0, deltaY=delta)
            b.frames()
            times.append(int(b.js("document.body.getAttribute('data-draw-ms')")))
        print("\n200,000 points: %d points on the map, draw after zoom %s ms, page %.2f MB"
              % (b.js("VK_LOGS[0].n"), times, (d / "report.html").stat().st_size / 1e6),
              file=sys.stderr)
        self.assertIsNone(b.js("document.body.getAttribute('data-error')"))


if __name__ == "__main__":
    CLEANREPORT, GENDIRTY, SAMPLES, OUT, CONVERTER, GENLOG = sys.argv[1:7]
    unittest.main(argv=[sys.argv[0]] + sys.argv[7:], verbosity=2)
