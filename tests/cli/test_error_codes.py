#!/usr/bin/python3
"""vornakite-convert --json: the code, line and field of each kind of failure a log can have.

Usage: test_error_codes.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR [unittest options]
"""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_cli  # noqa: E402
from test_cli import ConverterTestCase, dy, log_text  # noqa: E402

READ_CHUNK = 1 << 18  # the reader's piece size for a log larger than it


def around_chunk_end(bad, after):
    """A log whose bad record starts 20 bytes before the first read ends (so it continues in
    the next read), or, with `after`, well inside the second read; and the bad record's line."""
    text = log_text("A", "B", "C", records=[])
    lines = text.count("\n")
    limit = READ_CHUNK - 20 if not after else READ_CHUNK + 5000
    while len(text) + len(dy()) + 1 <= limit:
        text += dy() + "\n"
        lines += 1
    text += "x" * (limit - len(text) - 1) + "\n"  # a record of another kind up to the limit
    return text + bad + "\n" + dy() + "\n", lines + 2


class ErrorCodes(ConverterTestCase):
    def test_each_failure_has_its_code_line_and_field(self):
        big_before, line_before = around_chunk_end(dy(moisture="?"), False)
        big_after, line_after = around_chunk_end(dy(lon="-1e400"), True)
        header = "VKLOG@3.2@SN@2026-10-01@08:12:05@J@A@B@C\n"
        # name, log content (None: no file, "LINK": a link to nowhere), options, message, code,
        # line, field
        cases = [
            ("missing", None, [], "Cannot open file", "cannot_open", None, None),
            ("dangling link", "LINK", [], "Cannot open file", "cannot_open", None, None),
            ("empty", b"", [], "Empty file", "empty_file", None, None),
            ("ctrl-z", b"\x1aVKLOG", [], "Empty file", "empty_file", None, None),
            ("header", "A@B@C@D@E@F@G@H\n" + dy() + "\n", [], "Invalid header format",
             "invalid_header", 1, None),
            ("no samples", header + "GP@1@2\nDY@1@2\n", [], "No yield data (DY) lines found",
             "no_yield_data", None, None),
            ("letters", log_text("A", "B", "C", records=[dy(), dy(), dy(density="abc")]), [],
             "invalid stod argument", "invalid_number", 5, 14),
            ("empty field", header + dy(lat="") + "\n", [], "invalid stod argument",
             "invalid_number", 2, 7),
            ("speed", header + dy() + "\r\n\r\n" + dy(speed="x") + "\r\n", [],
             "invalid stod argument", "invalid_number", 4, 1),
            ("earliest field", header + dy(weight="w", yld="y") + "\n", [],
             "invalid stod argument", "invalid_number", 2, 6),
            ("overflow", header + dy(yld="1e999"), [], "stod argument out of range",
             "number_out_of_range", 2, 6),
            ("subnormal", header + dy(lat="4.9e-324") + "\n", [], "stod argument out of range",
             "number_out_of_range", 2, 7),
            ("infinite", header + dy() + "\n" + dy(lon="inf") + "\n", [],
             "Non-finite coordinate in yield data", "non_finite_coordinate", 3, 8),
            ("nan", header + dy(lat="nan", lon="nan") + "\n", [],
             "Non-finite coordinate in yield data", "non_finite_coordinate", 2, 7),
            ("across reads", big_before, [], "invalid stod argument", "invalid_number",
             line_before, 5),
            ("second read", big_after, [], "stod argument out of range", "number_out_of_range",
             line_after, 8),
            ("exists", log_text("A", "B", "C"), ["--no-clobber", "-o", "taken"],
             "Output set already exists", "output_exists", None, None),
            ("folder is a file", log_text("A", "B", "C"), ["-o", "file"], None, "output_folder",
             None, None),
            ("file is a folder", log_text("A", "B", "C"), ["-o", "blocked"],
             "Failed to create shapefile outputs", "output_failed", None, None),
            ("grid too large", log_text("A", "B", "C", records=[dy(), dy(lat=430313255)]),
             ["--grid", "1", "-o", "grid"], None, "no_grid", None, None),
        ]
        (self.cwd / "taken").mkdir()
        (self.cwd / "taken" / "A_B_C.dbf").write_bytes(b"earlier")
        (self.cwd / "file").write_bytes(b"not a folder")
        (self.cwd / "blocked" / "A_B_C.shp").mkdir(parents=True)
        for name, content, options, message, code, line, field in cases:
            with self.subTest(name=name):
                log = self.logs / (name + ".txt")
                if content == "LINK":
                    log.symlink_to(self.tmp / "nowhere")
                elif content is not None:
                    self.write_log(log.name, content)
                for merge in ([], ["--merge"]):
                    rc, out, _ = self.run_converter("--json", *merge, *options, log)
                    self.assertEqual(rc, 1, merge)
                    got = json.loads(out.splitlines()[0])
                    self.assertEqual(list(got)[4:8], ["error", "error_code", "line", "field"])
                    if message is not None:
                        self.assertEqual(got["error"], message, merge)
                    self.assertEqual((got["error_code"], got["line"], got["field"]),
                                     (code, line, field), merge)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_error_codes.py PATH_TO_VORNAKITE_CONVERT SAMPLES_DIR "
                 "[unittest options]")
    test_cli.CONVERTER = os.path.abspath(sys.argv[1])
    test_cli.SAMPLES = os.path.abspath(sys.argv[2])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
