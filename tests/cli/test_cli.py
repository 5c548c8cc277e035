#!/usr/bin/python3
"""End-to-end tests of vornakite-convert: printed lines, exit status and the files it writes.

Usage: test_cli.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]
"""

import json
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
SET_EXTENSIONS = (".shp", ".shx", ".dbf", ".prj", ".cpg")
WGS84_PRJ = (b'GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],'
             b'PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]]')


def summary(ok, total, folder="Rx"):
    return "Conversion complete: %d/%d files processed successfully. Outputs in %s." % (
        ok, total, folder)


def sample_logs():
    return sorted(p for p in Path(SAMPLES).iterdir() if p.suffix.lower() in LOG_EXTENSIONS)


def log_lines(data):
    """The lines of a log as the converter reads them: LF ends a line, CR before LF dropped."""
    data = data.split(b"\x1a", 1)[0]
    lines = data.split(b"\n")
    if lines and lines[-1] == b"" and data.endswith(b"\n"):
        lines.pop()
    return [line[:-1] if line.endswith(b"\r") else line for line in lines]


def sample_count(data):
    count = 0
    for line in log_lines(data)[1:]:
        if line.startswith(b"DY") and len(line.split(b"@")) >= 16:
            count += 1
    return count


def base_name(data):
    """Header fields 6, 7, 8 joined by '_', other than A-Z a-z 0-9 - . _ replaced by '_'."""
    fields = log_lines(data)[0].split(b"@")
    joined = b"_".join(fields[6:9])
    name = "".join(chr(b) if re.match(rb"[-.0-9A-Za-z_]", bytes([b])) else "_" for b in joined)
    return name.lstrip("_.")


def dy(speed=45, weight=531, moisture=184, yld=1854, lat=420313255, lon=-936391289, density=556):
    """One sample record of 16 fields; unused fields hold what a monitor writes there."""
    return "DY@%s@08:13:17@30@%s@%s@%s@%s@%s@2702@2887@4@17@2@%s@1" % (
        speed, weight, moisture, yld, lat, lon, density)


def log_text(farm, field, crop, samples=2, line_end="\n", records=None):
    header = "VKLOG@3.2@SN 40417-K@2026-10-01@08:12:05@J. Olsen@%s@%s@%s@P1197AM" % (
        farm, field, crop)
    if records is None:
        records = [dy(lat=420313255 + 11 * i, lon=-936391289 - 7 * i) for i in range(samples)]
    return line_end.join([header, "GP@08:13:00@420312428@-936392128@0.9@12@4"] + records) + line_end


class ConverterTestCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="vornakite_cli_")
        self.tmp = Path(self._tmp.name)
        self.cwd = self.tmp / "work"
        self.cwd.mkdir()
        self.logs = self.tmp / "logs"
        self.logs.mkdir()

    def tearDown(self):
        self._tmp.cleanup()

    def write_log(self, name, content):
        path = self.logs / name
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return path

    def run_converter(self, *args, cwd=None):
        proc = subprocess.run([CONVERTER, *map(str, args)], cwd=cwd or self.cwd,
                              capture_output=True, timeout=120)
        return proc.returncode, proc.stdout.decode("utf-8"), proc.stderr.decode("utf-8")

    def assert_lines(self, stdout, expected):
        self.assertTrue(stdout.endswith("\n"), repr(stdout[-80:]))
        self.assertEqual(stdout.split("\n")[:-1], expected)

    def assert_set(self, folder, name, points):
        """The five files of one set, with the sizes n points give."""
        for ext in SET_EXTENSIONS:
            self.assertTrue((folder / (name + ext)).is_file(), "%s%s missing" % (name, ext))
        self.assertEqual((folder / (name + ".shp")).stat().st_size, 100 + 28 * points, name)
        self.assertEqual((folder / (name + ".shx")).stat().st_size, 100 + 8 * points, name)
        self.assertEqual((folder / (name + ".dbf")).stat().st_size, 194 + 41 * points, name)
        self.assertEqual((folder / (name + ".prj")).read_bytes(), WGS84_PRJ, name)
        self.assertEqual((folder / (name + ".cpg")).read_bytes(), b"UTF-8", name)

    def set_names(self, folder):
        return sorted(p.name for p in folder.iterdir())


class SampleBatch(ConverterTestCase):
    def test_converts_every_sample_into_rx_under_the_current_directory(self):
        logs = sample_logs()
        self.assertGreaterEqual(len(logs), 2, "no sample logs in %s" % SAMPLES)
        rc, out, err = self.run_converter(*logs)
        self.assertEqual(rc, 0, err)
        self.assertEqual(err, "")
        self.assert_lines(out, ["Processing %s..." % p.name for p in logs] +
                          [summary(len(logs), len(logs))])
        rx = self.cwd / "Rx"
        expected = []
        for log in logs:
            data = log.read_bytes()
            self.assert_set(rx, base_name(data), sample_count(data))
            expected += [base_name(data) + ext for ext in SET_EXTENSIONS]
        self.assertEqual(self.set_names(rx), sorted(expected))

    def test_prj_and_cpg_are_exact_without_line_end(self):
        rc, _, err = self.run_converter(sample_logs()[0])
        self.assertEqual(rc, 0, err)
        name = base_name(sample_logs()[0].read_bytes())
        prj = (self.cwd / "Rx" / (name + ".prj")).read_bytes()
        self.assertEqual(len(prj), 131)
        self.assertEqual(prj, WGS84_PRJ)
        self.assertEqual((self.cwd / "Rx" / (name + ".cpg")).read_bytes(), b"UTF-8")

    def test_a_second_run_overwrites_the_set_of_the_first(self):
        log = self.write_log("a.Vornakite", log_text("North Farm", "Field 12/B", "Corn", 5))
        self.assertEqual(self.run_converter(log)[0], 0)
        self.write_log("a.Vornakite", log_text("North Farm", "Field 12/B", "Corn", 3))
        rc, out, _ = self.run_converter(log)
        self.assertEqual(rc, 0)
        self.assert_lines(out, ["Processing a.Vornakite...", summary(1, 1)])
        rx = self.cwd / "Rx"
        self.assert_set(rx, "North_Farm_Field_12_B_Corn", 3)
        self.assertEqual(len(self.set_names(rx)), 5, self.set_names(rx))

    def test_processing_line_names_the_file_without_its_folder(self):
        sub = self.cwd / "season 2026"
        sub.mkdir()
        (sub / "east.csv").write_text(log_text("A", "B", "C"))
        rc, out, _ = self.run_converter(Path("season 2026") / "east.csv", sub / "east.csv")
        self.assertEqual(rc, 0)
        self.assert_lines(out, ["Processing east.csv...", "Processing east.csv...",
                                summary(2, 2)])

    def test_option_o_writes_into_the_folder_and_names_it_as_given(self):
        log = self.write_log("a.Vornakite", log_text("North Farm", "Field 12/B", "Corn"))
        for folder in ["out/nested sets", str(self.tmp / "abs out"), "./dot/"]:
            with self.subTest(folder=folder):
                rc, out, err = self.run_converter("-o", folder, log)
                self.assertEqual(rc, 0, err)
                self.assert_lines(out, ["Processing a.Vornakite...", summary(1, 1, folder)])
                self.assert_set(self.cwd / folder, "North_Farm_Field_12_B_Corn", 2)
        self.assertFalse((self.cwd / "Rx").exists())

    def test_output_folder_that_is_a_file_fails_every_log(self):
        (self.cwd / "Rx").write_text("not a folder")
        log = self.write_log("a.Vornakite", log_text("A", "B", "C"))
        rc, out, _ = self.run_converter(log, log)
        self.assertEqual(rc, 1)
        lines = out.split("\n")[:-1]
        self.assertEqual(len(lines), 5, lines)
        self.assertEqual(lines[0], "Processing a.Vornakite...")
        self.assertRegex(lines[1], r"^Error: .*create_directories")
        self.assertEqual(lines[2], "Processing a.Vornakite...")
        self.assertRegex(lines[3], r"^Error: .*create_directories")
        self.assertEqual(lines[4], summary(0, 2))
        self.assertEqual((self.cwd / "Rx").read_text(), "not a folder")


class FailingLogs(ConverterTestCase):
    def test_each_failure_follows_its_processing_line_and_the_batch_goes_on(self):
        good = self.write_log("first.Vornakite", log_text("North Farm", "Field 12/B", "Corn", 4))
        # A bad log with the same header names as the last one, so it must not claim the name.
        last = ("Oak Creek", "Home Quarter", "Soybeans")
        cases = [
            ("missing.Vornakite", None, "Cannot open file"),
            ("folder.Vornakite", "DIR", "Cannot open file"),
            ("empty.txt", b"", "Empty file"),
            ("short.csv", "VKLOG@3.2@SN@2026-10-01@x@y@A@B\n" + dy() + "\n",
             "Invalid header format"),
            ("nodata.Vornakite", "VKLOG@1@2@3@4@5@A@B@C\nGP@1@2\nEV@x@HEADER_UP\n",
             "No yield data (DY) lines found"),
            ("letters.Vornakite", log_text(*last, records=[dy(), dy(density="abc")]),
             "invalid stod argument"),
            ("huge.Vornakite", log_text(*last, records=[dy(yld="1e999")]),
             "stod argument out of range"),
            ("nan.Vornakite", log_text(*last, records=[dy(), dy(lat="nan")]),
             "Non-finite coordinate in yield data"),
        ]
        paths = [good]
        expected = ["Processing first.Vornakite..."]
        for name, content, message in cases:
            path = self.logs / name
            if content == "DIR":
                # A folder stands for the logs in it: here one of the same name that leads
                # nowhere.
                path.mkdir()
                (path / name).symlink_to(self.tmp / "nowhere")
            elif content is not None:
                self.write_log(name, content)
            paths.append(path)
            expected += ["Processing %s..." % name, "Error: " + message]
        paths.append(self.write_log("last.txt", log_text(*last, samples=3)))
        expected += ["Processing last.txt...", summary(2, len(paths))]

        rc, out, _ = self.run_converter(*paths)
        self.assertEqual(rc, 1)
        self.assert_lines(out, expected)
        rx = self.cwd / "Rx"
        self.assert_set(rx, "North_Farm_Field_12_B_Corn", 4)
        self.assert_set(rx, "Oak_Creek_Home_Quarter_Soybeans", 3)
        self.assertEqual(len(self.set_names(rx)), 10, self.set_names(rx))

    def test_a_batch_where_every_log_fails_still_ends_with_the_summary(self):
        bad = self.write_log("bad.txt", "only@a@header\n")
        rc, out, _ = self.run_converter(self.logs / "gone.Vornakite", bad)
        self.assertEqual(rc, 1)
        self.assert_lines(out, ["Processing gone.Vornakite...", "Error: Cannot open file",
                                "Processing bad.txt...", "Error: Invalid header format",
                                summary(0, 2)])
        self.assertFalse((self.cwd / "Rx").exists(), "a log failing in reading made Rx")


class Printing(ConverterTestCase):
    def test_control_characters_in_names_are_escaped_so_each_line_stays_one_line(self):
        cases = [
            ("a\nError: forged.Vornakite", "Processing a\\nError: forged.Vornakite..."),
            ("tab\there\r.txt", "Processing tab\\there\\r.txt..."),
            ("bell\x07\x1b[31m.csv", "Processing bell\\x07\\x1B[31m.csv..."),
            ("line\u2028sep.txt", "Processing line\\u2028sep.txt..."),
        ]
        paths = [self.write_log(name, log_text("A", "B", "C%d" % i)) for i, (name, _) in
                 enumerate(cases)]
        rc, out, err = self.run_converter(*paths)
        self.assertEqual(rc, 0, err)
        self.assert_lines(out, [line for _, line in cases] + [summary(4, 4)])


class Usage(ConverterTestCase):
    def test_usage_errors_exit_2_with_usage_on_stderr(self):
        log = self.write_log("a.Vornakite", log_text("A", "B", "C"))
        for args in [[], ["--frobnicate", log], ["-x", log], ["-o"], [log, "-o"], ["-o", "out"],
                     ["-o", "", log], ["--quiet", "--json", log], ["--json", "-q", log]]:
            with self.subTest(args=args):
                rc, out, err = self.run_converter(*args)
                self.assertEqual(rc, 2)
                self.assertEqual(out, "")
                self.assertIn("usage", err.lower())
                self.assertIn("-o", err)
        self.assertEqual(os.listdir(self.cwd), [])

    def test_help_prints_usage_on_stdout(self):
        rc, out, err = self.run_converter("--help")
        self.assertEqual((rc, err), (0, ""))
        self.assertIn("usage", out.lower())
        self.assertIn("-o", out)
        self.assertIn("LOG", out)
        self.assertEqual(os.listdir(self.cwd), [])

    def test_help_lists_every_option_and_the_exit_statuses(self):
        rc, out, _ = self.run_converter("-h")
        self.assertEqual(rc, 0)
        for option in ["-o DIR", "-r, --recursive", "--format LIST", "--merge", "--no-clobber",
                       "-j, --jobs N", "-q, --quiet", "--json", "-h, --help", "--version"]:
            self.assertRegex(out, r"(?m)^  %s  " % re.escape(option))
        self.assertRegex(out, r"(?m)^Exit status: 0 when every log converted, 1 when any log "
                              r"failed, 2 for a usage error\.$")
        self.assertTrue(all(len(line) <= 100 for line in out.splitlines()), out)

    def test_options_may_follow_the_logs_and_double_dash_ends_them(self):
        log = self.write_log("a.Vornakite", log_text("A", "B", "C"))
        dashed = self.write_log("-q", log_text("D", "E", "F"))
        rc, out, _ = self.run_converter(log, "--json", "--", "-q")
        self.assertEqual(rc, 1)  # "-q" is a log here, but not one under the current folder
        objects = [json.loads(line) for line in out.splitlines()]
        self.assertEqual([o.get("log") for o in objects[:2]], [str(log), "-q"])
        self.assertEqual(objects[1]["error"], "Cannot open file")
        rc, out, _ = self.run_converter("--quiet", log, "--", dashed)
        self.assertEqual(rc, 0)
        self.assert_lines(out, [summary(2, 2)])

    def test_version_prints_one_line(self):
        rc, out, err = self.run_converter("--version")
        self.assertEqual((rc, err), (0, ""))
        self.assertRegex(out, r"^[^\n]*\d+\.\d+(\.\d+)?[^\n]*\n$")


class Folders(ConverterTestCase):
    def make_tree(self, names):
        """Logs (and the folders they need) under self.logs; a name ending in '/' is a folder."""
        for i, name in enumerate(names):
            path = self.logs / name
            if name.endswith("/"):
                path.mkdir(parents=True, exist_ok=True)
            else:
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_text(log_text("Farm", "Field", "Crop%d" % i))

    def processed(self, out):
        return [line[len("Processing "):-3] for line in out.split("\n")
                if line.startswith("Processing ")]

    def test_a_folder_converts_the_logs_directly_in_it_sorted_ignoring_case(self):
        self.make_tree(["season/b.TXT", "season/A.csv", "season/c.Vornakite", "season/C2.vornakite",
                        "season/notes.md", "season/x.shp", "season/sub/d.txt",
                        "season/folder.txt/e.txt", "single.txt"])
        rc, out, err = self.run_converter(self.logs / "single.txt", self.logs / "season",
                                          self.logs / "single.txt")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.processed(out), ["single.txt", "A.csv", "b.TXT", "c.Vornakite",
                                               "C2.vornakite", "single.txt"])
        self.assertEqual(out.splitlines()[-1], summary(6, 6))
        self.assertEqual(len(self.set_names(self.cwd / "Rx")), 6 * 5)

    def test_r_takes_each_folders_own_logs_then_its_subfolders_depth_first(self):
        self.make_tree(["top/z.txt", "top/b/x.csv", "top/B2/y.txt", "top/a/deep/er/1.txt",
                        "top/a/deep/2.txt", "top/a/3.txt", "top/a.txt", "top/a/Z/4.txt",
                        "top/empty/"])
        rc, out, _ = self.run_converter("-r", self.logs / "top")
        self.assertEqual(rc, 0)
        self.assertEqual(self.processed(out), ["a.txt", "z.txt", "3.txt", "2.txt", "1.txt",
                                               "4.txt", "x.csv", "y.txt"])
        rc, out, _ = self.run_converter("--json", "--recursive", "top", cwd=self.logs)
        self.assertEqual([json.loads(line).get("log") for line in out.splitlines()[:-1]],
                         ["top/a.txt", "top/z.txt", "top/a/3.txt", "top/a/deep/2.txt",
                          "top/a/deep/er/1.txt", "top/a/Z/4.txt", "top/b/x.csv", "top/B2/y.txt"])

    def test_a_folder_without_logs_makes_an_empty_batch(self):
        self.make_tree(["empty/", "other/readme.md"])
        rc, out, _ = self.run_converter(self.logs / "empty", self.logs / "other")
        self.assertEqual(rc, 0)
        self.assert_lines(out, [summary(0, 0)])
        self.assertFalse((self.cwd / "Rx").exists())

    def test_a_folder_that_cannot_be_read_fails_like_a_log_that_cannot_be_opened(self):
        self.make_tree(["top/a.txt", "top/locked/hidden.txt", "top/z/b.txt"])
        command = []
        if os.geteuid() == 0:
            # Root reads every folder: the converter runs as nobody instead.
            setpriv = shutil.which("setpriv")
            if setpriv is None:
                self.skipTest("no setpriv to run the converter as another user")
            command = [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
            for folder, _, _ in os.walk(self.tmp):
                os.chmod(folder, 0o777)
        os.chmod(self.logs / "top" / "locked", 0)
        try:
            proc = subprocess.run(command + [CONVERTER, "-r", "--", str(self.logs / "top")],
                                  cwd=self.cwd, capture_output=True, timeout=120)
        finally:
            os.chmod(self.logs / "top" / "locked", 0o755)
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assert_lines(proc.stdout.decode(), [
            "Processing a.txt...", "Processing locked...", "Error: Cannot open file",
            "Processing b.txt...", summary(2, 3)])


class Reports(ConverterTestCase):
    def batch(self):
        """A good log, a missing one, a bad one and a good one of the same name as the first."""
        return [self.write_log("a.Vornakite", log_text("North Farm", "Field 12/B", "Corn", 3)),
                self.logs / "gone.txt",
                self.write_log("bad.csv", "only@a@header\n"),
                self.write_log("b.txt", log_text("North Farm", "Field 12/B", "Corn", 4))]

    def test_quiet_prints_only_the_error_lines_naming_their_logs_and_the_summary(self):
        logs = self.batch()
        rc, out, err = self.run_converter("--quiet", *logs)
        self.assertEqual((rc, err), (1, ""))
        self.assert_lines(out, ["Error: %s: Cannot open file" % logs[1],
                                "Error: %s: Invalid header format" % logs[2], summary(2, 4)])
        self.assert_set(self.cwd / "Rx", "North_Farm_Field_12_B_Corn_2", 4)
        rc, out, _ = self.run_converter("-q", logs[0], logs[3])
        self.assertEqual(rc, 0)
        self.assert_lines(out, [summary(2, 2)])

    def test_json_prints_one_object_per_log_in_input_order_then_one_for_the_batch(self):
        logs = self.batch()
        rc, out, err = self.run_converter("--json", *logs)
        self.assertEqual((rc, err), (1, ""))
        lines = out.split("\n")
        self.assertEqual(lines[-1], "")
        rx = self.cwd / "Rx"
        self.assertEqual([json.loads(line) for line in lines[:-1]], [
            {"log": str(logs[0]), "status": "ok", "set": str(rx / "North_Farm_Field_12_B_Corn"),
             "points": 3, "error": None, "error_code": None, "line": None, "field": None},
            {"log": str(logs[1]), "status": "error", "set": None, "points": 0,
             "error": "Cannot open file", "error_code": "cannot_open", "line": None,
             "field": None},
            {"log": str(logs[2]), "status": "error", "set": None, "points": 0,
             "error": "Invalid header format", "error_code": "invalid_header", "line": 1,
             "field": None},
            {"log": str(logs[3]), "status": "ok", "set": str(rx / "North_Farm_Field_12_B_Corn_2"),
             "points": 4, "error": None, "error_code": None, "line": None, "field": None},
            {"converted": 2, "total": 4, "output": str(rx)},
        ])
        # Keys in the documented order.
        self.assertTrue(lines[0].startswith('{"log": '), lines[0])
        self.assertTrue(lines[1].endswith('"error": "Cannot open file", "error_code": '
                                          '"cannot_open", "line": null, "field": null}'), lines[1])
        self.assertTrue(lines[4].startswith('{"converted": 2, "total": 4, "output": '), lines[4])
        self.assert_set(rx, "North_Farm_Field_12_B_Corn", 3)

    def test_json_names_the_output_folder_as_given(self):
        log = self.write_log("a.Vornakite", log_text("A", "B", "C"))
        rc, out, _ = self.run_converter("-o", "out/sets", "--json", log)
        self.assertEqual(rc, 0)
        objects = [json.loads(line) for line in out.splitlines()]
        self.assertEqual(objects[0]["set"], "out/sets/A_B_C")
        self.assertEqual(objects[1], {"converted": 1, "total": 1, "output": "out/sets"})

    def test_json_strings_escape_quotes_controls_and_invalid_utf8_bytes_reversibly(self):
        names = [b'quote".txt', b"back\\slash.txt", b"new\nline.txt", b"bell\x07\x1f.txt",
                 b"del\x7f.txt", b"sep\xe2\x80\xa8.txt", "S\u00fcd \u5317.txt".encode(),
                 b"latin1 \xfc.txt", b"cut \xe2\x82.txt", b"surrogate \xed\xa0\x80.txt"]
        paths = []
        for i, name in enumerate(names):
            path = os.fsencode(self.logs) + b"/" + name
            with open(path, "wb") as f:
                f.write(log_text("A", "B", "C%d" % i).encode())
            paths.append(os.fsdecode(path))
        paths.append(os.fsdecode(os.fsencode(self.logs) + b"/missing \xff\x01.txt"))
        proc = subprocess.run([CONVERTER, "--json", *paths], cwd=self.cwd, capture_output=True,
                              timeout=120)
        self.assertEqual(proc.returncode, 1, proc.stderr)
        text = proc.stdout.decode("utf-8")  # valid UTF-8 whatever the names' bytes
        self.assertIsNone(re.search("[\x00-\x1f\x7f-\x9f\u2028\u2029]", text.replace("\n", "")))
        lines = text.split("\n")[:-1]
        self.assertEqual(len(lines), len(paths) + 1)
        objects = [json.loads(line) for line in lines]
        self.assertEqual([os.fsencode(o["log"]) for o in objects[:-1]],
                         [os.fsencode(p) for p in paths])
        self.assertEqual([o["status"] for o in objects[:-1]], ["ok"] * len(names) + ["error"])
        self.assertIn('\\udcff\\u0001.txt", "status": "error"', lines[-2])
        self.assertIn('quote\\".txt', lines[0])
        self.assertIn('/S\u00fcd \u5317.txt", "status"', lines[6])  # as UTF-8, not escaped
        self.assertEqual(objects[-1]["converted"], len(names))


class Naming(ConverterTestCase):
    def test_header_fields_six_to_eight_name_the_set(self):
        cases = [
            (("North Farm", "Field 12/B", "Corn"), "North_Farm_Field_12_B_Corn"),
            (("", "Field 7", "Soy"), "Field_7_Soy"),
            (("", "", "Wheat"), "Wheat"),
            (("Gr\u00fcn", "F", "C"), "Gr__n_F_C"),  # two UTF-8 bytes, two underscores
            (("._Lake", "x:y\\z", "Corn."), "Lake_x_y_z_Corn."),
            (("", "", "CON"), "CON_"),
            (("", "", "nul.x"), "nul_.x"),
            (("", "NUL.farm", "_"), "NUL_.farm__"),
        ]
        paths = [self.write_log("log%d.txt" % i, log_text(*fields, samples=i + 1))
                 for i, (fields, _) in enumerate(cases)]
        rc, out, err = self.run_converter(*paths)
        self.assertEqual(rc, 0, out + err)
        for i, (_, name) in enumerate(cases):
            self.assert_set(self.cwd / "Rx", name, i + 1)
        self.assertTrue((self.cwd / "Rx" / "Lake_x_y_z_Corn..prj").is_file())

    def test_same_names_in_one_batch_get_the_smallest_free_suffix(self):
        logs = [
            ("a.Vornakite", ("North Farm", "Field 12/B", "Corn"), 2, "North_Farm_Field_12_B_Corn"),
            ("b.Vornakite", ("North Farm", "Field 12/B", "Corn"), 3,
             "North_Farm_Field_12_B_Corn_2"),
            ("c.Vornakite", ("NORTH FARM", "FIELD 12/B", "CORN"), 4,
             "NORTH_FARM_FIELD_12_B_CORN_3"),
            ("d.Vornakite", ("North", "Farm Field", "12 B Corn 2"), 5,
             "North_Farm_Field_12_B_Corn_2_2"),
        ]
        paths = [self.write_log(f, log_text(*fields, samples=n)) for f, fields, n, _ in logs]
        rc, out, _ = self.run_converter(*paths)
        self.assertEqual(rc, 0)
        self.assert_lines(out, ["Processing %s..." % f for f, _, _, _ in logs] + [summary(4, 4)])
        rx = self.cwd / "Rx"
        for _, _, n, name in logs:
            self.assert_set(rx, name, n)
        self.assertEqual(len(self.set_names(rx)), 20, self.set_names(rx))

    def test_empty_header_names_fall_back_to_the_file_name(self):
        logs = [
            ("2026-10-05.Vornakite", ("", "", ""), "2026-10-05"),
            ("east.field.txt", ("\u5317", "//", ".."), "east.field"),
            ("2026-10-05.csv", ("___", "", ""), "2026-10-05_2"),
            ("\u00e9\u00e9.csv", ("", "", ""), "yield"),
        ]
        paths = [self.write_log(f, log_text(*fields, samples=i + 2))
                 for i, (f, fields, _) in enumerate(logs)]
        rc, out, _ = self.run_converter(*paths)
        self.assertEqual(rc, 0)
        self.assert_lines(out, ["Processing %s..." % f for f, _, _ in logs] + [summary(4, 4)])
        for i, (_, _, name) in enumerate(logs):
            self.assert_set(self.cwd / "Rx", name, i + 2)

    def test_crlf_logs_leave_no_carriage_return_in_the_name(self):
        text = "VKLOG@1@2@3@4@5@North Farm@Field 12/B@Corn\r\n" + dy() + "\r\n" + dy() + "\r\n"
        rc, out, _ = self.run_converter(self.write_log("crlf.Vornakite", text))
        self.assertEqual(rc, 0, out)
        self.assert_set(self.cwd / "Rx", "North_Farm_Field_12_B_Corn", 2)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_cli.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]")
    CONVERTER = os.path.abspath(sys.argv[1])
    SAMPLES = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
