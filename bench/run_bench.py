#!/usr/bin/python3
"""Times vornakite-convert against the tools users would pick instead, on generated logs.

For each sample count: generates the log (and the same samples as CSV for ogr2ogr), runs every
tool several times on it, checks once that each wrote the same .shp/.shx/.dbf bytes as
vornakite-convert, and prints a Markdown table: min and median seconds, samples and input MB
per second (from the median), peak resident memory, and the time relative to vornakite-convert.

Usage: run_bench.py --bin BUILD_DIR [--data DIR] [--sizes 100000,1000000,5000000]
                    [--reps 5] [--slow-reps 3] [--pyshp-limit 120] [--wait-quiet 1200]
                    [--out FILE]
"""

import argparse
import datetime
import hashlib
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
PYTHON = "/usr/bin/python3"  # the system Python, which has Debian's pyshp


MEASURE = None  # the vornakite-measure launcher


def run_measured(argv, timeout=None):
    """Runs argv; returns (seconds, peak RSS in bytes), or None when it ran past `timeout`."""
    cmd = [MEASURE] + (["--timeout", str(timeout)] if timeout else []) + [str(a) for a in argv]
    proc = subprocess.run(cmd, capture_output=True, text=True)
    out = proc.stdout.split()
    if out == ["timeout"]:
        return None
    if proc.returncode != 0 or len(out) != 3 or out[2] != "0":
        sys.exit("%s failed:\n%s%s" % (" ".join(map(str, argv)), proc.stdout, proc.stderr))
    return float(out[0]), int(out[1]) * 1024  # the peak is reported in KiB


def digest(path, skip=0):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        f.seek(skip)
        while True:
            block = f.read(1 << 20)
            if not block:
                break
            h.update(block)
    return h.hexdigest()


def same_outputs(ours, theirs):
    """Compares .shp, .shx, .dbf byte for byte; a missing final 0x1A in the .dbf is noted."""
    notes = []
    for ext in (".shp", ".shx"):
        if digest(ours + ext) != digest(theirs + ext):
            return "no: " + ext
    a, b = Path(ours + ".dbf").read_bytes(), Path(theirs + ".dbf").read_bytes()
    if a != b:
        if a[:-1] == b and a[-1:] == b"\x1a":
            notes.append("no .dbf end marker")
        else:
            return "no: .dbf"
    return "yes" + (" (" + ", ".join(notes) + ")" if notes else "")


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def wait_until_quiet(limit_seconds, threshold=0.7):
    start = time.time()
    while True:
        load = os.getloadavg()[0]
        if load < threshold or time.time() - start > limit_seconds:
            return load
        time.sleep(15)


def machine():
    model = "?"
    for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
    mem_kib = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                mem_kib = int(line.split()[1])
    return "%d cores (%s), %.1f GiB memory, %s %s" % (
        os.cpu_count(), model, mem_kib / 2**20, platform.system(), platform.release())


def tool_version(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True).stdout.strip().splitlines()[0]
    except (OSError, IndexError):
        return "?"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="build folder with cli/ and bench/")
    ap.add_argument("--data", default=None, help="folder for logs and outputs")
    ap.add_argument("--sizes", default="100000,1000000,5000000")
    ap.add_argument("--reps", type=int, default=5, help="runs of the C++ programs")
    ap.add_argument("--slow-reps", type=int, default=3, help="runs of ogr2ogr and pyshp")
    ap.add_argument("--pyshp-limit", type=float, default=120.0,
                    help="seconds after which pyshp is stopped and skipped at that size")
    ap.add_argument("--wait-quiet", type=float, default=0.0,
                    help="wait up to this many seconds for a 1-minute load below 0.7")
    ap.add_argument("--out", default=None, help="also write the report to this file")
    args = ap.parse_args()

    global MEASURE
    build = Path(args.bin).resolve()
    MEASURE = build / "bench" / "vornakite-measure"
    convert = build / "cli" / "vornakite-convert"
    baseline = build / "bench" / "vornakite-baseline"
    genlog = build / "bench" / "vornakite-genlog"
    data = Path(args.data).resolve() if args.data else build / "bench-data"
    data.mkdir(parents=True, exist_ok=True)
    sizes = [int(s) for s in args.sizes.split(",")]

    load = wait_until_quiet(args.wait_quiet) if args.wait_quiet > 0 else os.getloadavg()[0]
    report = []
    say = lambda line="": (print(line, flush=True), report.append(line))
    say("Run of %s, on %s." % (datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
                              machine()))
    say("1-minute load at the start: %.2f. Tools: %s; %s; pyshp %s." % (
        load, tool_version(["ogr2ogr", "--version"]), platform.python_implementation() + " " +
        tool_version([PYTHON, "-c", "import platform; print(platform.python_version())"]),
        tool_version([PYTHON, "-c", "import shapefile; print(shapefile.__version__)"])))
    say("Inputs and outputs in the page cache (warm); each tool runs %d times (ogr2ogr and "
        "pyshp %d times)." % (args.reps, args.slow_reps))
    say()

    # The fixed memory of the converter: a log of a thousand samples.
    small = data / "fixed.Vornakite"
    subprocess.run([genlog, "1000", small], check=True, stdout=subprocess.DEVNULL)
    fixed_rss = min(run_measured([convert, "-o", fresh(data / "out-fixed"), small])[1]
                    for _ in range(3))

    rows = []
    per_sample = []
    for n in sizes:
        log = data / ("log-%d.Vornakite" % n)
        csv = data / ("log-%d.csv" % n)
        subprocess.run([genlog, "--csv", csv, str(n), log], check=True, stdout=subprocess.DEVNULL)
        log_mb = log.stat().st_size / 1e6
        csv_mb = csv.stat().st_size / 1e6

        out_vk = data / "out-vornakite"
        ours_base = ""

        def vk_run():
            return run_measured([convert, "-o", fresh(out_vk), log])

        def bl_run():
            return run_measured([baseline, log, fresh(data / "out-baseline") / "set"])

        def ogr_run(timeout=None):
            return run_measured(["ogr2ogr", "-f", "ESRI Shapefile", "-a_srs", "EPSG:4326",
                                 "-lco", "ENCODING=UTF-8", "-oo", "X_POSSIBLE_NAMES=X",
                                 "-oo", "Y_POSSIBLE_NAMES=Y", "-oo", "KEEP_GEOM_COLUMNS=NO",
                                 fresh(data / "out-ogr") / "set.shp", csv], timeout)

        def py_run(timeout=None):
            return run_measured([PYTHON, HERE / "pyshp_convert.py", log,
                                 fresh(data / "out-pyshp") / "set"], timeout)

        tools = [
            ("vornakite-convert", vk_run, args.reps, "log", log_mb, None),
            ("minimal baseline (from_chars)", bl_run, args.reps, "log", log_mb,
             data / "out-baseline" / "set"),
            ("ogr2ogr from CSV", ogr_run, args.slow_reps, "CSV", csv_mb, data / "out-ogr" / "set"),
            ("pyshp script", py_run, args.slow_reps, "log", log_mb, data / "out-pyshp" / "set"),
        ]
        results = {}
        reference = data / "out-reference"
        for name, fn, reps, input_kind, input_mb, out_base in tools:
            times, peaks, same = [], [], "reference"
            for rep in range(reps):
                r = fn(args.pyshp_limit) if fn is py_run else fn()
                if r is None:
                    times = None
                    break
                times.append(r[0])
                peaks.append(r[1])
                if rep == 0 and fn is vk_run:
                    # The converter's outputs, kept for comparing the others with.
                    fresh(reference)
                    for f in out_vk.iterdir():
                        shutil.copy(f, reference / f.name)
                    ours_base = str(next(reference.glob("*.shp")).with_suffix(""))
                elif rep == 0:
                    same = same_outputs(ours_base, str(out_base))
            results[name] = (times, peaks, same, input_kind, input_mb)
            print("  %d samples: %s done" % (n, name), file=sys.stderr, flush=True)

        ref = statistics.median(results["vornakite-convert"][0])
        for name, (times, peaks, same, input_kind, input_mb) in results.items():
            if times is None:
                rows.append((n, name, None, None, None, None, None, None, "skipped: ran past %d s"
                             % args.pyshp_limit, input_kind))
                continue
            med = statistics.median(times)
            rows.append((n, name, min(times), med, n / med, input_mb / med, max(peaks) / 2**20,
                         med / ref, same, input_kind))
            if name == "vornakite-convert":
                per_sample.append((n, med / n * 1e9, (max(peaks) - fixed_rss) / n, log_mb))
        shutil.rmtree(reference, ignore_errors=True)

    say("| Samples | Tool | min s | median s | samples/s | input MB/s | peak RSS MiB | "
        "time vs vornakite-convert | same bytes |")
    say("|---:|---|---:|---:|---:|---:|---:|---:|---|")
    for n, name, tmin, tmed, sps, mbps, rss, ratio, same, kind in rows:
        if tmin is None:
            say("| %s | %s | - | - | - | - | - | - | %s |" % (format(n, ","), name, same))
            continue
        say("| %s | %s | %.3f | %.3f | %s | %.1f (%s) | %.1f | %.2fx | %s |" % (
            format(n, ","), name, tmin, tmed, format(int(sps), ","), mbps, kind, rss, ratio,
            same))
    say()
    say("vornakite-convert per sample (fixed memory, a 1,000-sample log: %.1f MiB):"
        % (fixed_rss / 2**20))
    say()
    say("| Samples | log MB | ns per sample | peak RSS above fixed, bytes per sample |")
    say("|---:|---:|---:|---:|")
    for n, ns, bps, mb in per_sample:
        say("| %s | %.1f | %.0f | %.1f |" % (format(n, ","), mb, ns, bps))
    say()
    say("Load at the end: %.2f." % os.getloadavg()[0])

    if args.out:
        Path(args.out).write_text("\n".join(report) + "\n")


if __name__ == "__main__":
    main()
