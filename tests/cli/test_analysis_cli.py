#!/usr/bin/python3
"""End-to-end tests of vornakite-convert's cleaning, summary and report options: --clean,
--summary, --report FILE, --filters, --skip and the threshold options; the sets, the printed
lines, the JSON keys and the files they write.

Usage: test_analysis_cli.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]
"""

import csv
import io
import json
import math
import os
import random
import re
import struct
import sys
import unittest
from pathlib import Path

import test_cli as base
from test_cli import SET_EXTENSIONS, base_name, dy, log_text, sample_logs, summary

CODES = ["NAN", "POS", "JMP", "DUP", "SLOW", "SPD", "DSPD", "ZERO", "YLD", "LOC", "MST", "MSO",
         "END", "TRN", "NOV"]
# The lags a cleaning line names as undone: "flow lag 13 samples (...)", "moisture lag 11".
FLOW_LAG = re.compile(r"; flow lag (\d+) samples")
MOISTURE_LAG = re.compile(r", moisture lag (\d+)")
CLEANING_LINE = re.compile(
    r"^Cleaning: kept (\d+) of (\d+) points \(\d+\.\d%\); "
    r"(removed none|removed (\d+), by filter: ((?:[A-Z]+ \d+)(?:, [A-Z]+ \d+)*))(; .*)?$")


def field_log(farm, seed, passes=14, per_pass=70, lag=0):
    """A serpentine field at one sample a second, with zero yields where the header is raised
    at the pass ends, a few yield spikes and one GPS jump; with a lag, each sample logs the
    yield and moisture of the position `lag` samples before it."""
    rnd = random.Random(seed)
    records = []
    values = []
    lat0, lon0 = 42.03, -93.64
    for p in range(passes):
        for s in range(per_pass):
            east = (s if p % 2 == 0 else per_pass - 1 - s) * 1.8
            north = p * 9.0
            yld = 180 + 25 * math.sin(east / 40.0) + rnd.gauss(0, 6)
            if s < 2:
                yld = 0  # header still up
            if rnd.random() < 0.01:
                yld *= 3.5  # a spike
            lat = lat0 + north / 110574.0
            lon = lon0 + east / (111319.49 * math.cos(math.radians(lat0)))
            if p == 5 and s == 30:
                lat += 300 / 110574.0  # a GPS jump
            speed = 45 + rnd.randint(-2, 2)
            moisture = 180 + rnd.randint(-5, 5) + (int(20 * math.cos(east / 25.0)) if lag else 0)
            values.append((int(yld * 10), moisture))
            yld, moisture = values[max(0, len(values) - 1 - lag)]
            records.append(dy(speed=speed, yld=yld, moisture=moisture, lat=int(lat * 1e7),
                              lon=int(lon * 1e7)))
    return log_text(farm, "Field %d" % seed, "Corn", records=records)


def read_dbf(path):
    """Field names and records (lists of stripped strings) of a dBASE III table."""
    data = Path(path).read_bytes()
    count, header, length = struct.unpack("<IHH", data[4:12])
    fields = []
    at = 32
    while data[at] != 0x0D:
        name = data[at:at + 11].split(b"\0", 1)[0].decode()
        fields.append((name, chr(data[at + 11]), data[at + 16]))
        at += 32
    records = []
    for r in range(count):
        rec = data[header + r * length:header + (r + 1) * length]
        values, pos = [], 1
        for _, _, width in fields:
            values.append(rec[pos:pos + width].decode().strip())
            pos += width
        records.append(values)
    return [f[0] for f in fields], records


def shp_points(path):
    data = Path(path).read_bytes()
    return [struct.unpack("<dd", data[at + 12:at + 28]) for at in range(100, len(data), 28)]


class AnalysisCase(base.ConverterTestCase):
    def cleaning_lines(self, out):
        return [line for line in out.splitlines() if line.startswith("Cleaning: ")]

    def field(self, name, seed, lag=0):
        return self.write_log(name, field_log("Farm %d" % seed, seed, lag=lag))


class StandardOutputsUnchanged(AnalysisCase):
    def test_standard_sets_and_lines_are_the_same_with_and_without_the_options(self):
        logs = sample_logs() + [self.field("dirty.Vornakite", 3)]
        (self.cwd / "plain").mkdir()
        rc, plain, _ = self.run_converter(*logs, cwd=self.cwd / "plain")
        self.assertEqual(rc, 0)
        for n, options in enumerate((["--clean"], ["--summary"], ["--report", "r.html"],
                                     ["--clean", "--summary", "--report", "r.html", "--jump-m",
                                      "9"])):
            with self.subTest(options=options):
                cwd = self.cwd / str(n)
                cwd.mkdir()
                rc, out, err = self.run_converter(*options, *logs, cwd=cwd)
                self.assertEqual((rc, err), (0, ""))
                rest = [line for line in out.splitlines() if not line.startswith("Cleaning: ")]
                self.assertEqual(rest[:len(plain.splitlines())], plain.splitlines())
                for log in logs:
                    name = base_name(log.read_bytes())
                    for ext in SET_EXTENSIONS:
                        self.assertEqual((cwd / "Rx" / (name + ext)).read_bytes(),
                                         (self.cwd / "plain" / "Rx" / (name + ext)).read_bytes(),
                                         name + ext)


class CleanSets(AnalysisCase):
    def test_clean_and_removed_sets_split_the_standard_set(self):
        logs = sample_logs() + [self.field("lagged.Vornakite", 6, lag=5),
                                self.field("dirty.Vornakite", 5)]
        rc, out, err = self.run_converter("--clean", *logs)
        self.assertEqual((rc, err), (0, ""))
        lines = out.splitlines()
        rx = self.cwd / "Rx"
        for log in logs:
            name = base_name(log.read_bytes())
            # The cleaning line follows the log's Processing line.
            line = lines[lines.index("Processing %s..." % log.name) + 1]
            m = CLEANING_LINE.match(line)
            self.assertIsNotNone(m, line)
            kept_n, total = int(m.group(1)), int(m.group(2))
            columns, standard = read_dbf(rx / (name + ".dbf"))
            clean_columns, clean = read_dbf(rx / (name + "_clean.dbf"))
            removed_columns, removed = read_dbf(rx / (name + "_removed.dbf"))
            self.assertEqual(clean_columns, columns)
            self.assertEqual(removed_columns, columns + ["Reason"])
            self.assertEqual((len(clean), len(removed)), (kept_n, total - kept_n))
            self.assertEqual(len(clean) + len(removed), len(standard))
            # Every record in exactly one of the two, in file order, points and values kept;
            # with a lag undone, the values it moves come from the sample that many later.
            pts = shp_points(rx / (name + ".shp"))
            both = sorted(zip(shp_points(rx / (name + "_clean.shp")), clean)) + sorted(
                zip(shp_points(rx / (name + "_removed.shp")), [r[:-1] for r in removed]))
            lags = [int(g.group(1)) if g else 0 for g in (FLOW_LAG.search(line),
                                                         MOISTURE_LAG.search(line))]
            if log.name == "lagged.Vornakite":
                self.assertTrue(all(abs(lag - 5) <= 1 for lag in lags), line)
            if lags == [0, 0]:
                self.assertEqual(sorted(both), sorted(zip(pts, standard)))
            else:
                self.check_moved(columns, lags, list(zip(pts, standard)), rx / name)
            counts = {}
            for record in removed:
                codes = record[-1].split(",")
                self.assertTrue(codes and all(c in CODES for c in codes), record[-1])
                self.assertEqual(codes, sorted(codes, key=CODES.index))
                for c in codes:
                    counts[c] = counts.get(c, 0) + 1
            by_filter = dict((c, int(n)) for c, n in (p.split() for p in (m.group(5) or "").split(
                ", ") if p))
            self.assertEqual(counts, by_filter)
            for ext in SET_EXTENSIONS:
                self.assertTrue((rx / (name + "_clean" + ext)).is_file())
        dirty = base_name(logs[-1].read_bytes())
        reasons = {r[-1] for r in read_dbf(rx / (dirty + "_removed.dbf"))[1]}
        self.assertTrue({"ZERO", "JMP"} <= {c for r in reasons for c in r.split(",")}, reasons)

    def check_moved(self, columns, lags, standard, base):
        """Records keep their position and speed; weight and density come from the sample the
        flow lag later, the moisture from the one the moisture lag later, or are missing (NOV)."""
        clean = list(zip(shp_points(str(base) + "_clean.shp"), read_dbf(str(base) + "_clean.dbf")[1]))
        removed = list(zip(shp_points(str(base) + "_removed.shp"),
                           read_dbf(str(base) + "_removed.dbf")[1]))
        speed, weight, moisture = (columns.index(c) for c in ("Speed_MPH", "Weight_ta", "Moist_pct"))
        at = {"clean": 0, "removed": 0}
        sets = {"clean": clean, "removed": removed}
        for i, (pt, values) in enumerate(standard):
            key = (pt, values[speed])
            which = next(k for k in ("clean", "removed") if at[k] < len(sets[k]) and
                         (sets[k][at[k]][0], sets[k][at[k]][1][speed]) == key)
            record = sets[which][at[which]][1]
            at[which] += 1
            for column, lag in ((weight, lags[0]), (moisture, lags[1])):
                if record[column].startswith("*") or record[column] == "":
                    self.assertIn("NOV", record[-1])
                else:
                    self.assertEqual(record[column], standard[i + lag][1][column])
        self.assertEqual(at, {"clean": len(clean), "removed": len(removed)})

    def test_the_lags_can_be_set_or_switched_off(self):
        log = self.field("lagged.Vornakite", 6, lag=5)
        cases = [
            (["--flow-lag", "off", "--moisture-lag", "off"], "flow lag off, moisture lag off"),
            (["--flow-lag", "7"], "flow lag 7 samples (set), moisture lag 5"),
            (["--flow-lag", "off", "--moisture-lag", "3"], "flow lag off, moisture lag 3 (set)"),
        ]
        for options, text in cases:
            with self.subTest(options=options):
                rc, out, err = self.run_converter("--clean", "--json", *options, log)
                self.assertEqual((rc, err), (0, ""))
                o = json.loads(out.splitlines()[0])
                rc, out, err = self.run_converter("--clean", *options, log)
                self.assertIn("; " + text + ";", self.cleaning_lines(out)[0])
                flow = [int(g) for g in re.findall(r"flow lag (\d+)", text)]
                self.assertEqual(o["flow_lag"], flow[0] if flow else None)
                self.assertIsNone(o["flow_lag_confidence"] if flow or "off" in text else None)

    def test_a_log_the_filters_cannot_judge_is_converted_with_every_point_kept(self):
        log = self.write_log("few.Vornakite", log_text("A", "B", "C", samples=5))
        rc, out, _ = self.run_converter("--clean", log)
        self.assertEqual(rc, 0)
        self.assert_lines(out, [
            "Processing few.Vornakite...",
            "Cleaning: kept all 5 points: too few points to judge (5, at least 20 needed)",
            summary(1, 1)])
        self.assert_set(self.cwd / "Rx", "A_B_C_clean", 5)
        columns, records = read_dbf(self.cwd / "Rx" / "A_B_C_removed.dbf")
        self.assertEqual((columns[-1], records), ("Reason", []))
        self.assertEqual((self.cwd / "Rx" / "A_B_C_removed.shp").stat().st_size, 100)

    def test_filters_skip_and_thresholds_choose_what_is_removed(self):
        log = self.field("dirty.Vornakite", 7)
        cases = [
            (["--filters", "zero"], {"ZERO"}),
            (["--filters", "ZERO,JMP"], {"ZERO", "JMP"}),
            (["--skip", "LOC,END,YLD,DSPD"], None),
            (["--yield-max", "100"], None),
        ]
        for options, only in cases:
            with self.subTest(options=options):
                rc, out, _ = self.run_converter("--clean", "--json", *options, log)
                self.assertEqual(rc, 0)
                counts = json.loads(out.splitlines()[0])["removed_by"]
                flagged = {c for c, n in counts.items() if n}
                if only is not None:
                    self.assertEqual(flagged, only)
                elif options[0] == "--skip":
                    self.assertFalse(flagged & {"LOC", "END", "YLD", "DSPD"})
                    self.assertIn("ZERO", flagged)
                else:
                    self.assertGreater(counts["YLD"], 500)  # most of the field is above 100


class Printing(AnalysisCase):
    def test_quiet_prints_no_cleaning_lines(self):
        rc, out, _ = self.run_converter("-q", "--clean", "--summary", *sample_logs())
        self.assertEqual(rc, 0)
        self.assert_lines(out, [summary(3, 3)])

    def test_json_adds_the_cleaning_counts_after_the_existing_keys(self):
        logs = [self.field("dirty.Vornakite", 9), self.logs / "gone.txt"]
        rc, out, _ = self.run_converter("--json", "--clean", "--summary", *logs)
        self.assertEqual(rc, 1)
        lines = out.splitlines()
        first, second, batch = (json.loads(line) for line in lines)
        self.assertEqual(list(first)[:8], ["log", "status", "set", "points", "error",
                                           "error_code", "line", "field"])
        self.assertEqual(list(first)[8:13], ["kept", "removed", "removed_by", "cleaning_note",
                                             "cleaning_warnings"])
        self.assertEqual(list(first)[13:], NUMBER_KEYS + LAG_KEYS)
        self.assertEqual(first["kept"] + first["removed"], first["points"])
        self.assertEqual(list(first["removed_by"]), CODES)
        _, removed = read_dbf(Path(first["set"] + "_removed.dbf"))
        self.assertEqual(len(removed), first["removed"])
        self.assertIsNone(second["kept"])
        self.assertEqual(batch["summary"], str(self.cwd / "Rx" / "summary.csv"))
        self.assertIsNone(batch["summary_error"])
        self.assertNotIn("report", batch)
        # Without --clean the objects are as before.
        rc, out, _ = self.run_converter("--json", "--summary", logs[0])
        self.assertEqual(list(json.loads(out.splitlines()[0])),
                         ["log", "status", "set", "points", "error", "error_code", "line", "field"])


class SummaryCsv(AnalysisCase):
    def test_one_row_per_converted_log_in_input_order(self):
        logs = [self.field("b.Vornakite", 2), *sample_logs(), self.logs / "gone.txt",
                self.field("a.Vornakite", 4)]
        rc, out, _ = self.run_converter("--summary", "--clean", "--json", "--local-sd", "5",
                                        *logs)
        self.assertEqual(rc, 1)
        objects = [json.loads(line) for line in out.splitlines()[:-1]]
        raw = (self.cwd / "Rx" / "summary.csv").read_bytes()
        self.assertTrue(raw.endswith(b"\r\n"))
        self.assertNotIn(b"\n", raw.replace(b"\r\n", b""))
        rows = list(csv.DictReader(io.StringIO(raw.decode(), newline="")))
        converted = [o for o in objects if o["status"] == "ok"]
        self.assertEqual([r["set"] for r in rows], [Path(o["set"]).name for o in converted])
        for row, o in zip(rows, converted):
            self.assertEqual(int(row["points"]), o["points"])
            self.assertEqual((int(row["kept"]), int(row["removed"])), (o["kept"], o["removed"]))
            self.assertEqual([int(row["removed_" + c]) for c in CODES],
                             [o["removed_by"][c] for c in CODES])
            self.assertEqual(row["local-sd"], "5")
            self.assertEqual(row["overridden"], "local-sd")
            for when in ("before", "after"):
                lo, mid, hi = (float(row["yield_%s_%s" % (s, when)])
                               for s in ("min", "median", "max"))
                self.assertLessEqual(lo, mid)
                self.assertLessEqual(mid, hi)
            self.assertLess(float(row["west"]), float(row["east"]))

    def test_the_summary_replaces_the_last_one_whole_or_is_not_written(self):
        log = sample_logs()[0]
        rx = self.cwd / "Rx"
        rx.mkdir()
        # An earlier summary, known by its header row.
        (rx / "summary.csv").write_text("set,points,kept,removed,removed_ZERO\r\nold,1,1,0,0\r\n")
        rc, out, _ = self.run_converter("--summary", log)
        self.assertEqual(rc, 0)
        self.assertEqual(out.splitlines()[-1], "Summary written to %s." % Path("Rx",
                                                                              "summary.csv"))
        self.assertTrue((rx / "summary.csv").read_text().startswith("set,points,kept,"))
        # A folder in the way: the sets are written, the summary is not, and the run fails.
        (rx / "summary.csv").unlink()
        (rx / "summary.csv").mkdir()
        rc, out, _ = self.run_converter("-q", "--summary", log)
        self.assertEqual(rc, 1)
        self.assert_lines(out, [summary(1, 1), "Error: %s: Failed to create summary.csv"
                                % Path("Rx", "summary.csv")])
        self.assertEqual([p.name for p in rx.iterdir() if p.name.startswith(".")], [])
        # No log converted: nothing written.
        rc, out, _ = self.run_converter("-o", "none", "--summary", "--report", "none.html",
                                        self.logs / "gone.txt")
        self.assertEqual(rc, 1)
        self.assertFalse((self.cwd / "none").exists() or (self.cwd / "none.html").exists())


class HtmlReport(AnalysisCase):
    def test_the_report_has_a_section_per_converted_log_and_nothing_from_outside(self):
        logs = [*sample_logs(), self.field("dirty.Vornakite", 11)]
        rc, out, err = self.run_converter("--report", "reports/season.html", *logs)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(out.splitlines()[-1],
                         "Report written to %s." % Path("reports", "season.html"))
        html = (self.cwd / "reports" / "season.html").read_text()
        self.assertTrue(html.startswith("<!DOCTYPE html>") and html.endswith("</html>\n"))
        self.assertEqual(html.count('<section class="log"'), len(logs))
        for log in logs:
            self.assertIn('<h2>%s <span class="logs">&mdash; %s</span></h2>'
                          % (base_name(log.read_bytes()), log.name), html)
        self.assertIsNone(re.search(r"(src|href)=\"(https?:)?//|@import|url\(", html))
        self.assertEqual(os.listdir(self.cwd / "reports"), ["season.html"])

    def test_a_report_that_cannot_be_written_fails_the_run_but_not_the_sets(self):
        (self.cwd / "taken").write_text("a file, not a folder")
        rc, out, _ = self.run_converter("--report", "taken/r.html", sample_logs()[0])
        self.assertEqual(rc, 1)
        lines = out.splitlines()
        self.assertEqual(lines[-2], summary(1, 1))
        self.assertRegex(lines[-1], r"^Error: taken/r\.html: create_directories: ")
        self.assert_set(self.cwd / "Rx", base_name(sample_logs()[0].read_bytes()),
                        base.sample_count(sample_logs()[0].read_bytes()))


NUMBER_KEYS = ["swath_m", "swath_set", "area_ha", "area_ac", "yield_mean_bu_ac",
               "yield_plain_mean_bu_ac", "yield_mean_t_ha", "production_bu", "production_t",
               "standard_moisture_pct", "dry_yield_mean_bu_ac", "dry_production_bu",
               "numbers_notes"]
NUMBER_COLUMNS = ["log", "swath_m", "swath_set", "area_ha", "area_ac", "yield_mean_bu_ac",
                  "yield_mean_t_ha", "production_bu", "production_t", "standard_moisture_pct",
                  "dry_yield_mean_bu_ac", "dry_production_bu", "numbers_note"]
LAG_KEYS = ["flow_lag", "flow_lag_confidence", "moisture_lag", "moisture_lag_confidence"]
LAG_COLUMNS = ["removed_TRN", "removed_NOV", "flow_lag_samples", "flow_lag_confidence",
               "moisture_lag_samples", "moisture_lag_confidence"]
# field_log: 14 passes 9 m apart of 70 samples 1.8 m apart.
FIELD_AREA_M2 = 14 * 70 * 1.8 * 9.0


class FieldNumbers(AnalysisCase):
    def run_json(self, *args):
        rc, out, err = self.run_converter("--json", "--summary", *args)
        self.assertEqual((rc, err), (0, ""))
        rows = list(csv.DictReader(io.StringIO((self.cwd / "Rx" / "summary.csv").read_text(),
                                               newline="")))
        return [json.loads(line) for line in out.splitlines()[:-1]], rows

    def test_the_numbers_in_the_line_the_json_and_the_summary(self):
        log = self.field("f.Vornakite", 5)
        cases = [
            # options, swath, standard moisture
            ([], None, 15.5),
            (["--swath-m", "10"], 10.0, 15.5),
            (["--standard-moisture", "20"], None, 20.0),
        ]
        for options, swath, standard in cases:
            with self.subTest(options=options):
                objects, rows = self.run_json("--clean", *options, log)
                o, row = objects[0], rows[0]
                self.assertEqual(list(row)[-len(NUMBER_COLUMNS + LAG_COLUMNS):],
                                 NUMBER_COLUMNS + LAG_COLUMNS)
                self.assertEqual(row["log"], "f.Vornakite")
                self.assertEqual(o["swath_set"], swath is not None)
                self.assertAlmostEqual(o["swath_m"], swath or 9.0, delta=0.45)
                self.assertAlmostEqual(float(row["swath_m"]), o["swath_m"], places=2)
                truth = FIELD_AREA_M2 * o["swath_m"] / 9.0
                self.assertAlmostEqual(o["area_ha"] * 1e4, truth, delta=truth * 0.05)
                self.assertAlmostEqual(o["area_ac"] * 4046.8564224, o["area_ha"] * 1e4, delta=10)
                self.assertAlmostEqual(o["production_bu"], o["yield_mean_bu_ac"] * o["area_ac"],
                                       delta=0.5)
                self.assertAlmostEqual(o["yield_mean_bu_ac"], o["yield_plain_mean_bu_ac"],
                                       delta=o["yield_plain_mean_bu_ac"] * 0.03)
                self.assertEqual(o["standard_moisture_pct"], standard)
                # Dry at the standard from about 18 % moisture.
                self.assertAlmostEqual(o["dry_yield_mean_bu_ac"], o["yield_mean_bu_ac"] *
                                       (100 - 18) / (100 - standard), delta=1.0)
                self.assertAlmostEqual(o["yield_mean_t_ha"], o["yield_mean_bu_ac"] * 0.0627669,
                                       delta=0.01)
                self.assertAlmostEqual(float(row["production_bu"]), o["production_bu"],
                                       delta=0.01)
                rc, out, _ = self.run_converter("--clean", *options, log)
                line = self.cleaning_lines(out)[0]
                self.assertRegex(line, r"; estimated: [0-9.]+ ac harvested, swath [0-9.]+ m%s, "
                                 r"[0-9,]+ bu, [0-9,]+ bu at [0-9.]+ %% moisture$"
                                 % (" \\(set\\)" if swath else ""))

    def test_an_unknown_crop_has_no_dry_yield_or_tonnes(self):
        log = self.write_log("x.Vornakite", field_log("Farm", 6).replace("@Corn@", "@Mixed@"))
        objects, rows = self.run_json(log)
        self.assertNotIn("swath_m", objects[0])  # without --clean, the objects are as before
        self.assertEqual((rows[0]["dry_yield_mean_bu_ac"], rows[0]["yield_mean_t_ha"]), ("", ""))
        self.assertIn('unknown crop "Mixed"', rows[0]["numbers_note"])
        self.assertNotEqual(rows[0]["production_bu"], "")


class Merged(AnalysisCase):
    def test_a_section_and_rows_per_merged_set(self):
        # Two fields, each logged on two days, given interleaved.
        a1, b1 = self.field("a1.Vornakite", 21), self.field("b1.Vornakite", 22)
        a2 = self.write_log("a2.Vornakite", field_log("Farm 21", 21))
        b2 = self.write_log("b2.Vornakite", field_log("Farm 22", 22))
        far = field_log("Farm 22", 22).replace("@4203", "@4248")  # 5 km north
        b3 = self.write_log("b3.Vornakite", far)
        rc, out, err = self.run_converter("--merge", "--clean", "--summary", "--report", "r.html",
                                          a1, b1, a2, b2, b3)
        self.assertEqual((rc, err), (0, ""))
        html = (self.cwd / "r.html").read_text()
        ids = re.findall(r'<canvas id="map-([^"]*)"', html)
        data = re.findall(r"VK_LOGS.push\(\{id:\"([^\"]*)\",name:[^,]*,logs:(\[[^\]]*\]),"
                          r"starts:(\[[^\]]*\])", html)
        self.assertEqual(len(ids), 2)
        self.assertEqual(sorted(set(ids)), sorted(ids))
        self.assertEqual([d[0] for d in data], ids)
        self.assertEqual([json.loads(d[1]) for d in data],
                         [["a1.Vornakite", "a2.Vornakite"],
                          ["b1.Vornakite", "b2.Vornakite", "b3.Vornakite"]])
        self.assertEqual([json.loads(d[2]) for d in data], [[0, 980], [0, 980, 1960]])
        rows = list(csv.DictReader(io.StringIO((self.cwd / "Rx" / "summary.csv").read_text(),
                                               newline="")))
        self.assertEqual([(r["set"][:7], r["log"], r["points"]) for r in rows],
                         [("Farm_21", "", "1960"), ("Farm_21", "a1.Vornakite", "980"),
                          ("Farm_21", "a2.Vornakite", "980"), ("Farm_22", "", "2940"),
                          ("Farm_22", "b1.Vornakite", "980"), ("Farm_22", "b2.Vornakite", "980"),
                          ("Farm_22", "b3.Vornakite", "980")])
        # The set's production is that of its logs together.
        self.assertAlmostEqual(float(rows[0]["production_bu"]),
                               float(rows[1]["production_bu"]) + float(rows[2]["production_bu"]),
                               delta=float(rows[0]["production_bu"]) * 0.03)
        # Logs 5 km apart under one name: a warning after the set's last log's lines.
        lines = out.splitlines()
        warning = [k for k, line in enumerate(lines) if line.startswith("Warning: ")]
        self.assertEqual(len(warning), 1)
        self.assertEqual(lines[warning[0] - 2], "Processing b3.Vornakite...")
        self.assertRegex(lines[warning[0]], r"^Warning: the logs merged into Farm_22\S* lie up "
                         r"to [0-9.]+ km apart: probably different fields that reduce to the "
                         r"same name$")
        rc, out, _ = self.run_converter("--merge", "--json", "-o", "j", a1, b1, a2, b2, b3)
        objects = [json.loads(line) for line in out.splitlines()[:-1]]
        self.assertEqual([len(o.get("warnings", [])) for o in objects], [0, 0, 0, 0, 1])


class Usage(AnalysisCase):
    def test_analysis_usage_errors_exit_2(self):
        log = self.write_log("a.Vornakite", log_text("A", "B", "C"))
        cases = [
            (["--jump-m", "25", log], "--jump-m needs --clean"),
            (["--skip", "DUP", "--summary", log], "--skip needs --clean"),
            (["--clean", "--jump-m", "far", log], "invalid value for --jump-m: far"),
            (["--clean", "--ramp-fraction", "1.5", log], "invalid value for --ramp-fraction"),
            (["--clean", "--local-sd", "-1", log], "invalid value for --local-sd"),
            (["--clean", "--filters", "ZERO,NOPE", log], "unknown filter code in --filters"),
            (["--clean", "--filters", "", log], "--filters needs at least one filter code"),
            (["--clean", log, "--jump-m"], "--jump-m needs a value"),
            ([log, "--report"], "--report needs a file"),
            (["--report", "", log], "--report needs a file, not an empty name"),
            (["--report", "--grid", "2", log],
             "--report needs a file, not --grid (a file of that name: ./--grid)"),
            (["-o", "--clean", log], "-o needs a folder, not --clean (a folder of that name: ./--clean)"),
            (["--clean", "--jump", "3", log], "unknown option --jump"),
            (["--swath-m", "9", log], "--swath-m needs --clean, --summary, --report or --grid"),
            (["--standard-moisture", "15", log],
             "--standard-moisture needs --clean, --summary, --report or --grid"),
            (["--clean", "--swath-m", "0", log], "invalid value for --swath-m: 0"),
            (["--clean", "--swath-m", "wide", log], "invalid value for --swath-m: wide"),
            (["--clean", "--standard-moisture", "100", log],
             "invalid value for --standard-moisture: 100"),
            (["--grid", "-2", log], "invalid value for --grid: -2"),
            (["--grid", "0", log], "invalid value for --grid: 0"),
            ([log, "--grid"], "--grid needs a value"),
            (["--flow-lag", "5", log], "--flow-lag needs --clean"),
            (["--clean", "--flow-lag", "late", log], "invalid value for --flow-lag: late"),
            (["--clean", "--moisture-lag", "251", log], "invalid value for --moisture-lag: 251"),
            (["--clean", "--moisture-lag", "-1", log], "invalid value for --moisture-lag: -1"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                rc, out, err = self.run_converter(*args)
                self.assertEqual((rc, out), (2, ""))
                self.assertIn("vornakite-convert: " + message, err)
        self.assertEqual(os.listdir(self.cwd), [])

    def test_help_lists_the_options_and_every_filter_with_its_thresholds(self):
        rc, out, _ = self.run_converter("--help")
        self.assertEqual(rc, 0)
        for option in ["--clean", "--summary", "--report FILE", "--filters CODES",
                       "--skip CODES", "--swath-m M", "--grid CELL_M"]:
            self.assertRegex(out, r"(?m)^  %s  " % re.escape(option))
        for code in CODES:
            self.assertRegex(out, r"(?m)^  %s +\w" % code)
        for threshold in ["jump-m", "slow-mph", "speed-min-mph", "speed-max-mph", "speed-change",
                          "yield-min", "yield-max", "local-radius-m", "local-sd", "moisture-min",
                          "moisture-max", "moisture-dev", "ramp-fraction", "ramp-samples"]:
            self.assertRegex(out, r"(?m)^      --%s VALUE  " % threshold)
        self.assertTrue(all(len(line) <= 100 for line in out.splitlines()))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_analysis_cli.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [options]")
    base.CONVERTER = os.path.abspath(sys.argv[1])
    base.SAMPLES = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
