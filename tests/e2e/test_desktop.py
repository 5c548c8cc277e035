#!/usr/bin/python3
"""VornakiteConverter.exe end to end, used the way a person uses it.

The program runs under Wine in a virtual desktop on an X display of its own.
Mouse clicks and key presses come from xdotool, dropped files from xdnd_drop.py (as a
file manager drops them); what is on screen is read back with window_probe.exe (texts,
list entries, enabled states, where things are).

Usage: test_desktop.py CONVERTER_EXE WINDOW_PROBE_EXE SAMPLES_DIR ARTEFACT_DIR

ARTEFACT_DIR receives the Wine prefix, the program's working folders and the
screenshots desktop-open-dialog.png and desktop-after-batch.png.
"""

import ctypes
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zlib
from pathlib import Path

from xdnd_drop import drop_files

DESKTOP = "vk"
SCREEN = "1024x768"
DISPLAYS = range(60, 70)

IDC_SELECT_FILES = 2001
IDC_CONVERT = 2002
IDC_FILE_LIST = 2003
IDC_STATUS = 2005
IDC_LOG = 2004

TITLE = "Vornakite to Shapefile Converter"
EMPTY_SELECTION = "Please select at least one file."
FIELDS = ["Yield_bu", "Moist_pct", "Weight_ta", "Dens_lbbu", "Speed_MPH"]
SET_EXTENSIONS = (".shp", ".shx", ".dbf", ".prj", ".cpg")
LOG_EXTENSIONS = (".vornakite", ".txt", ".csv")


class Stop(Exception):
    """A check failed that the rest of a session builds on."""


class Report:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def check(self, ok, what, detail=None):
        if ok:
            self.passed += 1
            print("PASS  " + what, flush=True)
        else:
            self.failed.append(what)
            print("FAIL  " + what + ("" if detail is None else "\n      got: %r" % (detail,)),
                  flush=True)
        return ok

    def require(self, ok, what, detail=None):
        if not self.check(ok, what, detail):
            raise Stop(what)

    def need(self, ok, what, detail=None):
        """A precondition of the next step: reported only when it fails."""
        if not ok:
            self.require(ok, what, detail)


def note(text):
    print("      " + text, flush=True)


def wait_for(condition, timeout, interval=0.1):
    """Polls until condition() gives a true value; returns it, or the last value at the timeout."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= end:
            return value
        time.sleep(interval)


# --- the sample logs ------------------------------------------------------------------------


def log_lines(data):
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return [line[:-1] if line.endswith(b"\r") else line for line in lines]


class Sample:
    def __init__(self, path):
        self.path = path
        self.name = path.name
        lines = log_lines(path.read_bytes())
        fields = lines[0].split(b"@")
        # Header fields 6, 7 and 8 (farm, field, crop), joined by '_', anything but
        # A-Z a-z 0-9 - . _ replaced by '_'.
        joined = b"_".join(fields[6:9]).decode("latin-1")
        self.base = re.sub(r"[^-.0-9A-Za-z_]", "_", joined)
        self.points = sum(1 for line in lines[1:]
                          if line.startswith(b"DY") and len(line.split(b"@")) >= 16)

    def outputs(self):
        return {self.base + ext for ext in SET_EXTENSIONS}


def summary(ok, total):
    return "Conversion complete: %d/%d files processed successfully. Outputs in Rx." % (ok, total)


# --- screenshots ----------------------------------------------------------------------------


def png_from_ppm(ppm):
    """A binary PPM (P6, maxval 255) as PNG bytes."""
    tokens = []
    pos = 0
    while len(tokens) < 4:
        while ppm[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not ppm[pos:pos + 1].isspace():
            pos += 1
        tokens.append(ppm[start:pos])
    magic, width, height, maxval = tokens[0], int(tokens[1]), int(tokens[2]), int(tokens[3])
    if magic != b"P6" or maxval != 255:
        raise ValueError("not an 8-bit binary PPM")
    pixels = ppm[pos + 1:pos + 1 + width * height * 3]
    stride = width * 3
    raw = b"".join(b"\0" + pixels[y * stride:(y + 1) * stride] for y in range(height))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# --- the display, Wine and the program ------------------------------------------------------


def end_with_parent():
    """Runs in a child before exec: the kernel stops it when this script dies, even by SIGKILL."""
    try:
        ctypes.CDLL("libc.so.6").prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except OSError:
        pass


class Desktop:
    """An X display of this test's own, its own Wine prefix, and the probe's view of the screen."""

    def __init__(self, probe, artefacts):
        self.xvfb, self.display = self._start_xvfb()
        print("      Xvfb on :%d" % self.display, flush=True)
        self.prefix = artefacts / "wineprefix"
        self.env = dict(os.environ, DISPLAY=":%d" % self.display, WINEPREFIX=str(self.prefix),
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("WAYLAND_DISPLAY", None)
        self._prepare_prefix(artefacts / "wineprefix.ready")
        self.probe_exe = str(probe)
        # Programs start in Wine's virtual desktop unless a session says otherwise.
        self.virtual = True

    @staticmethod
    def _start_xvfb():
        for number in DISPLAYS:
            lock = Path("/tmp/.X%d-lock" % number)
            sock = "/tmp/.X11-unix/X%d" % number
            if lock.exists() or Path(sock).exists():
                continue
            # Xvfb's lock file settles a race with another server starting on the same
            # number: the loser exits. The display is ours once the lock names our
            # Xvfb and the socket takes connections.
            xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", SCREEN + "x24",
                                     "-nolisten", "tcp"],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, preexec_fn=end_with_parent)

            def ready():
                if xvfb.poll() is not None:
                    return True
                try:
                    if lock.read_text().strip() != str(xvfb.pid):
                        return False
                    with socket.socket(socket.AF_UNIX) as client:
                        client.connect(sock)
                    return True
                except OSError:
                    return False

            wait_for(ready, 30)
            if xvfb.poll() is None and ready():
                return xvfb, number
            xvfb.kill()
            xvfb.wait()
        raise RuntimeError("no free X display among :%d to :%d" % (DISPLAYS[0], DISPLAYS[-1]))

    def run(self, args, timeout=60):
        """(exit status, output bytes) of a command in this test's Wine environment.

        The output goes through a file, not a pipe: the first Wine process of a prefix
        starts Wine's own background processes, which inherit its descriptors and would
        keep a pipe open long after the command has ended.
        """
        with tempfile.TemporaryFile() as out:
            done = subprocess.run([str(a) for a in args], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return done.returncode, out.read()

    def _prepare_prefix(self, ready_mark):
        # A server left over from an interrupted run of this prefix goes first.
        self.run(["wineserver", "-k"])
        self.run(["wineserver", "-w"])
        if not ready_mark.exists():
            started = time.monotonic()
            self.run(["wine", "wineboot", "-i"], timeout=240)
            self.run(["wineserver", "-w"], timeout=120)
            ready_mark.touch()
            note("new Wine prefix in %.0f s" % (time.monotonic() - started))
        # One server for the whole test, so that Wine's services start once and not
        # again with every program start.
        self.run(["wineserver", "-p"])

    def windows_path(self, path):
        return self.run(["winepath", "-w", path])[1].decode().strip()

    def close(self):
        self.run(["wineserver", "-k"])
        self.run(["wineserver", "-w"])
        self.xvfb.terminate()
        try:
            self.xvfb.wait(10)
        except subprocess.TimeoutExpired:
            self.xvfb.kill()
            self.xvfb.wait()

    # The program, started in its working folder inside the virtual desktop (or with
    # windows of its own on the X display); what Wine prints goes to wine.log beside it.
    def start_program(self, exe, cwd):
        desktop = ["explorer", "/desktop=%s,%s" % (DESKTOP, SCREEN)] if self.virtual else []
        with open(cwd / "wine.log", "wb") as log:
            return subprocess.Popen(
                ["wine"] + desktop + [self.windows_path(exe)],
                cwd=cwd, env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)

    # What the probe reads.
    def probe_command(self, *args):
        desktop = ["--desktop=" + DESKTOP] if self.virtual else []
        return ["wine", self.probe_exe] + desktop + [str(a) for a in args]

    def x_window(self, title):
        """The X window of a Wine window shown without the virtual desktop, or None."""
        found = subprocess.run(["xdotool", "search", "--name", "^%s$" % re.escape(title)],
                               env=self.env, capture_output=True, text=True, timeout=60)
        ids = found.stdout.split()
        return int(ids[0]) if ids else None

    def probe(self, *args):
        """(exit status, UTF-8 output) of one probe command."""
        code, out = self.run(self.probe_command(*args))
        return code, out.decode("utf-8")

    def text(self, window):
        code, out = self.probe("text", window)
        return out if code == 0 else None

    def rect(self, window):
        code, out = self.probe("rect", window)
        return tuple(int(v) for v in out.split()) if code == 0 else None

    def enabled(self, window):
        code, out = self.probe("enabled", window)
        return out.strip() if code == 0 else None

    def list_entries(self):
        code, out = self.probe("list")
        return out.splitlines() if code == 0 else None

    def log_text(self):
        return self.text(IDC_LOG)

    def message_box(self):
        """(text, [(label, rect)]) of the program's message box, or None."""
        code, out = self.probe("msgbox")
        if code != 0:
            return None
        lines = out.splitlines()
        buttons = []
        for line in lines[1:]:
            parts = line.split(" ", 5)
            buttons.append((parts[5] if len(parts) > 5 else "", tuple(map(int, parts[1:5]))))
        return (lines[0] if lines else ""), buttons

    def dialog(self):
        """The file-open dialog as {'caption', 'rect', 'buttons': {label: rect},
        'edits': [(rect, text)], 'combos': [text]}, or None."""
        code, out = self.probe("dialog")
        if code != 0:
            return None
        found = {"buttons": {}, "edits": [], "combos": []}
        for line in out.splitlines():
            parts = line.split(" ", 5)
            kind, rect = parts[0], tuple(map(int, parts[1:5]))
            text = parts[5] if len(parts) > 5 else ""
            if kind == "dialog":
                found["rect"], found["caption"] = rect, text
            elif kind == "button":
                found["buttons"][text.replace("&", "")] = rect
            elif kind == "edit":
                found["edits"].append((rect, text))
            elif kind == "combo":
                found["combos"].append(text)
        return found

    # What a person does.
    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True, timeout=60)

    def click(self, rect):
        x, y, w, h = rect
        self.xdotool("mousemove", x + w // 2, y + h // 2, "click", "1")

    def key(self, *keys):
        self.xdotool("key", "--delay", "30", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "15", text)

    def screenshot(self, rect, path):
        """Saves the screen area once two grabs in a row agree, so the picture shows the
        window after it has finished painting."""
        x, y, w, h = rect
        grab = ["import", "-display", ":%d" % self.display, "-window", "root",
                "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-depth", "8", "ppm:-"]
        previous = None
        for grabs in range(1, 26):
            image = subprocess.run(grab, capture_output=True, check=True, timeout=60).stdout
            if image == previous:
                break
            previous = image
            time.sleep(0.2)
        path.write_bytes(png_from_ppm(image))
        note("screenshot %s (%d grabs)" % (path, grabs))


# --- steps of a session ---------------------------------------------------------------------


class Session:
    def __init__(self, desktop, report, exe, folder):
        self.d = desktop
        self.r = report
        self.folder = folder
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.program = desktop.start_program(exe, folder)
        self.closed = False

    def rx(self):
        return self.folder / "Rx"

    def wait_main_window(self):
        rect = wait_for(lambda: self.d.rect("main"), 120, 0.25)
        self.r.require(rect is not None, "the main window appears")
        self.r.check(self.d.text("main") == TITLE, 'its caption reads "%s"' % TITLE,
                     self.d.text("main"))
        return rect

    def click_control(self, control, reacted, what, timeout=10):
        """Clicks a control of the main window until the program shows a reaction.

        A click that is lost on the way to a window just shown is tried again; the
        clicks used here are harmless twice (the first one opens a modal window or
        starts a batch, which the check sees).
        """
        for attempt in range(3):
            rect = self.d.rect(control)
            self.r.need(rect is not None, "%s is on screen" % what)
            self.d.click(rect)
            result = wait_for(reacted, timeout)
            if result:
                return result
            note("no reaction to the click on %s, clicking again" % what)
        return None

    def open_dialog(self):
        dialog = self.click_control(IDC_SELECT_FILES, self.d.dialog, "the Select button")
        self.r.require(dialog is not None, "the file-open dialog opens")
        self.r.check(self.d.enabled("main") == "disabled",
                     "while the dialog is open the main window takes no input")
        self.r.need(dialog["edits"], "the dialog has a file-name box", dialog)
        return dialog

    def type_file_name(self, dialog, text):
        """Types text into the file-name box, replacing what it holds; retypes it when
        a key press went astray."""
        box = max(dialog["edits"], key=lambda edit: edit[0][1])[0]  # the lowest edit box
        self.d.click(box)
        for attempt in range(3):
            self.d.key("ctrl+a")
            self.d.type(text)
            typed = wait_for(lambda: self.file_name_box() == text, 5)
            if typed:
                return
            note("file-name box holds %r, typing again" % self.file_name_box())
        self.r.require(False, "the file-name box takes the typed text %r" % text,
                       self.file_name_box())

    def file_name_box(self):
        dialog = self.d.dialog()
        if dialog is None or not dialog["edits"]:
            return None
        return max(dialog["edits"], key=lambda edit: edit[0][1])[1]

    def dialog_closed(self, what):
        gone = wait_for(lambda: self.d.dialog() is None, 30)
        self.r.require(gone, what)
        self.r.check(self.d.enabled("main") == "enabled", "the main window takes input again")

    def select(self, folder_win, samples, screenshot=None):
        dialog = self.open_dialog()
        self.type_file_name(dialog, folder_win)
        self.d.key("Return")
        self.type_file_name(dialog, " ".join('"%s"' % s.name for s in samples))
        if screenshot is not None:
            self.d.screenshot(dialog["rect"], screenshot)
        self.d.key("Return")
        self.dialog_closed("the dialog closes on confirming %d files" % len(samples))
        return dialog

    def convert(self, samples, lines_before):
        self.click_control(IDC_CONVERT, lambda: self.d.text(IDC_STATUS), "the Convert button")
        done = wait_for(lambda: self.d.text(IDC_STATUS) == "Done", 120, 0.2)
        self.r.require(done, 'the status line reads "Done" after the batch',
                       self.d.text(IDC_STATUS))
        expected = (lines_before + ["Processing %s..." % s.name for s in samples] +
                    [summary(len(samples), len(samples))])
        self.check_log(expected, "the log: %d Processing lines in order, then the summary %d/%d"
                       % (len(samples), len(samples), len(samples)))
        self.r.check(self.d.enabled(IDC_CONVERT) == "enabled", "Convert is enabled again")

    def check_log(self, lines, what):
        text = self.d.log_text()
        wanted = "".join(line + "\r\n" for line in lines)
        self.r.check(text == wanted, what + " (each line ending in CR LF)", text)

    def check_outputs(self, samples):
        rx = self.rx()
        wanted = set().union(*(s.outputs() for s in samples))
        present = {p.name for p in rx.iterdir()} if rx.is_dir() else set()
        self.r.check(present == wanted,
                     "Rx holds exactly the five files of each converted log (%d files)"
                     % len(wanted), sorted(present))
        for s in samples:
            shp = rx / (s.base + ".shp")
            if not shp.exists():
                continue
            empty = [p.name for p in rx.glob(s.base + ".*") if p.stat().st_size == 0]
            self.r.check(not empty, "%s: no output file is empty" % s.base, empty)
            info = subprocess.run(["ogrinfo", "-ro", "-so", "-al", str(shp)], capture_output=True,
                                  text=True, timeout=60)
            geometry = re.search(r"^Geometry: (.*)$", info.stdout, re.M)
            count = re.search(r"^Feature Count: (\d+)$", info.stdout, re.M)
            fields = re.findall(r"^(\w+): (?:Real|Integer|Integer64|String)\b", info.stdout, re.M)
            self.r.check(info.returncode == 0 and geometry and geometry.group(1) == "Point" and
                         count and int(count.group(1)) == s.points and fields == FIELDS,
                         "ogrinfo reads %s.shp: Point, %d features, fields %s"
                         % (s.base, s.points, ", ".join(FIELDS)),
                         info.stdout[-600:] + info.stderr[-300:])

    def close(self, how, again=None):
        """Closes the window as a person does (`how`; `again` for the later tries, if given);
        the program must end with exit value 0."""
        with tempfile.TemporaryFile() as out:
            watcher = subprocess.Popen(self.d.probe_command("wait-exit", 60000), env=self.d.env,
                                       stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.DEVNULL)

            def output():
                out.seek(0)
                return out.read().decode()

            watching = wait_for(lambda: "\n" in output() or watcher.poll() is not None, 30)
            self.r.need(watching and output().startswith("watching"),
                        "the program's process can be watched", output())
            for attempt in range(3):
                (how if attempt == 0 or again is None else again)()
                try:
                    watcher.wait(10)
                    break
                except subprocess.TimeoutExpired:
                    note("the window is still open, closing it again")
            else:
                watcher.kill()
                watcher.wait()
            result = output().splitlines()[1:]
        self.r.check(result == ["exit 0"],
                     "closing the window ends the program with exit value 0", result)
        self.r.check(self.d.rect("main") is None, "the main window is gone")
        self.closed = True

    def end(self):
        """Waits for the virtual desktop to close after the program (Wine ends it a few
        seconds after its last process); after a failed step the session's processes
        are stopped, so that the next session meets no window of this one."""
        try:
            self.program.wait(30 if self.closed else 1)
        except subprocess.TimeoutExpired:
            os.killpg(self.program.pid, signal.SIGTERM)
            self.program.wait()
            wait_for(lambda: self.d.rect("main") is None, 15)


def run_session(title, desktop, report, exe, folder, steps, virtual=True):
    """Starts the program afresh in its own working folder and runs the steps; a failed
    precondition ends only this session."""
    print("\n== " + title, flush=True)
    desktop.virtual = virtual
    session = Session(desktop, report, exe, folder)
    try:
        steps(session, desktop, report)
    except Stop:
        pass
    except Exception:
        report.check(False, "the session runs without an error of the test itself",
                     traceback.format_exc())
    finally:
        session.end()
        desktop.virtual = True


def first_session(s, d, r, samples_win, samples, artefacts):
    """Convert with nothing selected, three logs selected and converted, Alt+F4."""
    s.wait_main_window()
    r.check(d.enabled(IDC_SELECT_FILES) == "enabled" and d.enabled(IDC_CONVERT) == "enabled",
            "at start both buttons are enabled")
    r.check(d.list_entries() == [] and d.text(IDC_STATUS) == "" and d.log_text() == "",
            "at start the file list, the status line and the log are empty")

    box = s.click_control(IDC_CONVERT, d.message_box, "the Convert button")
    r.require(box is not None, "Convert with nothing selected shows a message box")
    text, buttons = box
    r.check(text == EMPTY_SELECTION, 'the message box says "%s"' % EMPTY_SELECTION, text)
    r.check([label for label, _ in buttons] == ["OK"], "it has just one button, OK", buttons)
    r.check(d.enabled("main") == "disabled",
            "while it is open the main window takes no input")
    r.need(buttons, "the message box has a button to close it", box)
    d.click(buttons[0][1])
    r.require(wait_for(lambda: d.message_box() is None, 15), "clicking OK closes it")
    r.check(d.text(IDC_STATUS) == "" and d.log_text() == "",
            "the status line and the log stay empty", (d.text(IDC_STATUS), d.log_text()))
    r.check(d.enabled(IDC_CONVERT) == "enabled", "Convert stays enabled")
    r.check(not s.rx().exists(), "nothing is written")

    dialog = s.select(samples_win, samples, artefacts / "desktop-open-dialog.png")
    r.check("Vornakite files" in dialog["combos"],
            'the dialog opens with the file type "Vornakite files"', dialog["combos"])
    r.check(d.list_entries() == [x.name for x in samples],
            "the file list holds the %d file names in order" % len(samples), d.list_entries())
    selected = ["Selected %d file(s)" % len(samples)]
    s.check_log(selected, 'the log has the line "%s"' % selected[0])

    s.convert(samples, selected)
    s.check_outputs(samples)
    d.screenshot(d.rect("main"), artefacts / "desktop-after-batch.png")

    s.close(lambda: d.key("alt+F4"))


def second_session(s, d, r, samples_win, picked, other):
    """A selection, the dialog opened again and cancelled twice, the selection converted,
    the close box."""
    s.wait_main_window()
    s.select(samples_win, picked)
    names = [x.name for x in picked]
    selected = ["Selected %d file(s)" % len(picked)]
    r.check(d.list_entries() == names, "the file list holds %s" % names, d.list_entries())
    s.check_log(selected, 'the log has the line "%s"' % selected[0])

    dialog = s.open_dialog()
    s.type_file_name(dialog, '"%s"' % other.name)
    r.need("Cancel" in dialog["buttons"], "the dialog has a Cancel button", dialog)
    d.click(dialog["buttons"]["Cancel"])
    s.dialog_closed("Cancel closes the dialog")
    r.check(d.list_entries() == names, "after Cancel the file list is unchanged",
            d.list_entries())
    s.check_log(selected, "after Cancel the log is unchanged")

    s.open_dialog()
    d.key("Escape")
    s.dialog_closed("Escape closes the dialog")
    r.check(d.list_entries() == names, "after Escape the file list is unchanged",
            d.list_entries())
    s.check_log(selected, "after Escape the log is unchanged")

    s.convert(picked, selected)
    s.check_outputs(picked)

    def close_box():
        x, y, w, _ = d.rect("main")
        d.click((x + w - 20, y + 6, 12, 12))  # the X at the caption's right end

    s.close(close_box)


class BigLog:
    """A log long enough that a batch of a few takes seconds under Wine: its samples are
    followed by a long zero-filled tail (sparse, so it costs no disk), read to its end."""
    SAMPLES = 600000
    TAIL = 3 << 30

    def __init__(self, folder, index):
        self.name = "big%d.Vornakite" % index
        line = b"DY@45@x@x@123456@153@1875@415000000@-975000000@a@b@c@d@e@562@z\r\n"
        folder.mkdir(parents=True, exist_ok=True)
        with open(folder / self.name, "wb") as f:
            f.write(b"VK@1@2@3@4@5@Big@Field@%d\r\n" % index + line * self.SAMPLES)
            f.truncate(f.tell() + self.TAIL)


def third_session(s, d, r, logs_win, logs):
    """Logs selected, Convert, and the window closed while the batch still runs."""
    s.wait_main_window()
    s.select(logs_win, logs)
    s.click_control(IDC_CONVERT, lambda: d.text(IDC_STATUS), "the Convert button")
    running = wait_for(lambda: "Processing big0.Vornakite..." in d.log_text(), 30, 0.05)
    r.require(running and d.text(IDC_STATUS) == "Converting files...",
              'the batch runs: status "Converting files...", the first Processing line',
              (d.text(IDC_STATUS), d.log_text()))
    r.check(d.enabled(IDC_CONVERT) == "disabled", "Convert is disabled during the batch")
    s.close(lambda: d.key("alt+F4"))
    last = s.rx() / ("Big_Field_%d.cpg" % (len(logs) - 1))
    r.check(not last.exists(), "the batch was cut short: the last log's set was never finished")
    rx = s.rx()
    present = sorted(p.name for p in rx.iterdir()) if rx.is_dir() else []
    r.check(not [n for n in present if n.startswith(".")], "no temporary file is left in Rx",
            present)
    bases = {n.rsplit(".", 1)[0] for n in present}
    whole = all(
        sorted(n for n in present if n.rsplit(".", 1)[0] == b) ==
        sorted(b + e for e in (".cpg", ".dbf", ".prj", ".shp", ".shx")) and
        (rx / (b + ".shp")).stat().st_size == 100 + 28 * BigLog.SAMPLES for b in bases)
    r.check(whole, "every set in Rx is whole: its five files with every sample", present)


def fourth_session(s, d, r, folder, loose, samples):
    """A folder and a file dropped onto the window from the X side, as from a file manager
    (Wine hands the drop to the window as WM_DROPFILES), the dropped logs converted, Alt+F4.

    The program runs without Wine's virtual desktop here: there the desktop's own process
    takes every drop, and Wine cannot pass a drop on from it to another process.
    """
    s.wait_main_window()
    target = d.x_window(TITLE)
    r.require(target is not None, "the main window has an X window of its own")
    x, y, w, h = d.rect(IDC_FILE_LIST)
    outcome = drop_files(":%d" % d.display, target, x + w // 2, y + h // 2, [folder, loose.path])
    r.require(outcome == "dropped", "the window takes a folder and a file dropped on it", outcome)
    names = [x.name for x in samples]
    r.check(wait_for(lambda: d.list_entries() == names, 15),
            "the file list holds the folder's logs in name order, then the file: %s" % names,
            d.list_entries())
    selected = ["Selected %d file(s)" % len(samples)]
    s.check_log(selected, 'the log has the line "%s"' % selected[0])
    s.convert(samples, selected)
    s.check_outputs(samples)

    def alt_f4():
        # Without a window manager nothing gives the window the keyboard back after the batch:
        # a click into it does, as a person clicks into a window before pressing Alt+F4. The
        # status line takes the click without doing anything.
        d.click(d.rect(IDC_STATUS))
        time.sleep(0.3)
        d.key("alt+F4")

    def system_menu_close():
        # Now and then, on a fresh Wine prefix with no window manager, the keys of Alt+F4 do
        # not reach the window after the drop; Close from its system menu ends it the same way.
        note("Alt+F4 did not reach the window; Close from its system menu")
        d.probe("close")

    s.close(alt_f4, system_menu_close)


def main(argv):
    if len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    exe, probe, samples_dir, artefacts = (Path(a).resolve() for a in argv[1:])
    artefacts.mkdir(parents=True, exist_ok=True)
    samples = [Sample(p) for p in sorted(samples_dir.iterdir())
               if p.suffix.lower() in LOG_EXTENSIONS]
    if len(samples) < 3:
        print("need three sample logs in %s" % samples_dir, file=sys.stderr)
        return 2
    samples = samples[:3]

    report = Report()
    started = time.monotonic()
    desktop = Desktop(probe, artefacts)
    try:
        samples_win = desktop.windows_path(samples_dir)
        run_session("session 1: empty Convert, three logs selected and converted, Alt+F4",
                    desktop, report, exe, artefacts / "session-1",
                    lambda s, d, r: first_session(s, d, r, samples_win, samples, artefacts))
        picked, other = [samples[0], samples[2]], samples[1]
        run_session("session 2: two logs selected, the dialog cancelled twice, close box",
                    desktop, report, exe, artefacts / "session-2",
                    lambda s, d, r: second_session(s, d, r, samples_win, picked, other))
        big_folder = artefacts / "big-logs"
        big = [BigLog(big_folder, i) for i in range(6)]
        run_session("session 3: the window closed while a batch runs",
                    desktop, report, exe, artefacts / "session-3",
                    lambda s, d, r: third_session(s, d, r, desktop.windows_path(big_folder),
                                                  big))
        shutil.rmtree(big_folder, ignore_errors=True)

        # A folder holding the first two logs (besides a file and a subfolder that are no
        # logs of it), and the third log dropped on its own.
        drop_folder = artefacts / "drop-folder"
        shutil.rmtree(drop_folder, ignore_errors=True)
        (drop_folder / "older").mkdir(parents=True)
        for sample in samples[:2]:
            shutil.copyfile(sample.path, drop_folder / sample.name)
        (drop_folder / "notes.md").write_text("not a log\n")
        shutil.copyfile(samples[2].path, drop_folder / "older" / samples[2].name)
        run_session("session 4: a folder and a file dropped onto the window, converted, Alt+F4",
                    desktop, report, exe, artefacts / "session-4",
                    lambda s, d, r: fourth_session(s, d, r, drop_folder, samples[2], samples),
                    virtual=False)
    finally:
        desktop.close()

    print("\n%d checks passed, %d failed (%.0f s)" % (report.passed, len(report.failed),
                                                    time.monotonic() - started))
    for what in report.failed:
        print("FAILED: " + what)
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
