#!/usr/bin/python3
"""Times vornakite-convert --clean on the worst layouts of vornakite-genadverse and on an
ordinary log of the same size (vornakite-genlog) with extreme threshold options, against the
ordinary log with the default options; the runs are taken in turns so that a change of load
weighs on all alike. Goal: no layout or option above 3x the ordinary log's time. With --units,
also the processor time of each analysis unit per layout (vornakite-timeunits).

Usage: adverse_bench.py --bin BUILD_DIR [--samples 1000000] [--reps 3] [--layouts a,b,...]
                        [--timeout 300] [--before CONVERTER] [--units] [--data DIR] [--out FILE]
--before: also times another build's converter (once per case, with the timeout), for a
before-and-after table.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

# The ordinary log with options that stretch the filters' searches.
OPTIONS = [
    ["--local-radius-m", "1e300"],
    ["--local-radius-m", "1e6"],
    ["--local-radius-m", "0.001"],
    ["--local-sd", "0"],
    ["--jump-m", "1e300"],
    ["--jump-m", "0"],
    ["--ramp-samples", "1000"],
]


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def measured(measure, argv, timeout):
    """(wall seconds, processor seconds), or None when it ran out of time."""
    cpu = children_cpu()
    proc = subprocess.run([str(measure), "--timeout", str(timeout)] + [str(a) for a in argv],
                          capture_output=True, text=True)
    out = proc.stdout.split()
    if out and out[0] == "timeout":
        return None
    if proc.returncode != 0 or len(out) != 3 or out[2] != "0":
        sys.exit("%s failed:\n%s%s" % (" ".join(map(str, argv)), proc.stdout, proc.stderr))
    return float(out[0]), children_cpu() - cpu


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--samples", type=int, default=1000000)
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--layouts", help="comma-separated (default: every layout)")
    ap.add_argument("--timeout", type=float, default=300.0)
    ap.add_argument("--before", help="another converter to time once per case")
    ap.add_argument("--units", action="store_true", help="time each analysis unit too")
    ap.add_argument("--data", help="folder of the logs (default: /dev/shm)")
    ap.add_argument("--out")
    args = ap.parse_args()

    build = Path(args.bin).resolve()
    tool = lambda room, name: build / room / name
    measure = tool("bench", "vornakite-measure")
    convert = tool("cli", "vornakite-convert")
    genadverse = tool("bench", "vornakite-genadverse")
    data = Path(args.data or ("/dev/shm" if Path("/dev/shm").is_dir() else build))
    data = data / ("vornakite-adverse-%d" % os.getpid())
    data.mkdir(parents=True, exist_ok=True)
    report = []

    def say(line=""):
        print(line, flush=True)
        report.append(line)

    try:
        n = args.samples
        listed = subprocess.run([genadverse, "--list"], capture_output=True, text=True,
                                check=True).stdout.splitlines()
        layouts = [line.split()[0] for line in listed]
        if args.layouts:
            layouts = [name for name in layouts if name in args.layouts.split(",")]
        ordinary = data / "ordinary.Vornakite"
        subprocess.run([tool("bench", "vornakite-genlog"), str(n), ordinary], check=True,
                       stdout=subprocess.DEVNULL)
        cases = [("ordinary", ordinary, [])]
        for name in layouts:
            log = data / (name + ".Vornakite")
            subprocess.run([genadverse, "--layout", name, str(n), log], check=True)
            cases.append((name, log, []))
        cases += [("ordinary " + " ".join(o), ordinary, o) for o in OPTIONS]

        say("1-minute load at the start: %.2f; %s samples per log." % (os.getloadavg()[0],
                                                                       format(n, ",")))
        say()
        out = data / "out"
        times = {name: [] for name, _, _ in cases}
        for _ in range(args.reps):
            for name, log, options in cases:
                shutil.rmtree(out, ignore_errors=True)
                out.mkdir()
                times[name].append(measured(measure, [convert, "-q", "-o", out, "--clean"] +
                                            options + [log], args.timeout))
        before = {}
        if args.before:
            for name, log, options in cases:
                shutil.rmtree(out, ignore_errors=True)
                out.mkdir()
                before[name] = measured(measure, [args.before, "-q", "-o", out, "--clean"] +
                                        options + [log], args.timeout)
        shutil.rmtree(out, ignore_errors=True)

        def median(name, k):
            runs = times[name]
            return None if None in runs else statistics.median(r[k] for r in runs)

        base, base_cpu = median("ordinary", 0), median("ordinary", 1)
        say("| `--clean` on | s (median of %d) | processor s | x ordinary | x ordinary, "
            "processor |%s" % (args.reps, " before, s |" if args.before else ""))
        say("|---|---:|---:|---:|---:|%s" % ("---:|" if args.before else ""))
        worst = 0.0
        for name, _, _ in cases:
            wall, cpu = median(name, 0), median(name, 1)
            was = ""
            if args.before:
                b = before[name]
                was = " over %.0f |" % args.timeout if b is None else " %.2f |" % b[0]
            if wall is None:
                say("| %s | over %.0f | | | |%s" % (name, args.timeout, was))
                worst = float("inf")
                continue
            if name != "ordinary":
                worst = max(worst, wall / base)
            say("| %s | %.2f | %.2f | %.2fx | %.2fx |%s" % (name, wall, cpu, wall / base,
                                                            cpu / base_cpu, was))
        say()
        say("| Goal | Result |")
        say("|---|---|")
        say("| no layout or option above 3x the ordinary log's time (worst %.2fx) | %s |"
            % (worst, "holds" if worst <= 3.0 else "MISSED"))
        say()
        if args.units:
            units(tool("bench", "vornakite-timeunits"), [c[1] for c in cases[:len(layouts) + 1]],
                  args.timeout, say)
        say("1-minute load at the end: %.2f." % os.getloadavg()[0])
    finally:
        shutil.rmtree(data, ignore_errors=True)
    if args.out:
        Path(args.out).write_text("\n".join(report) + "\n")


def units(timeunits, logs, timeout, say):
    """The processor milliseconds of each unit per log."""
    rows = []
    for log in logs:
        try:
            proc = subprocess.run([timeunits, log], capture_output=True, text=True,
                                  timeout=timeout)
            words = proc.stdout.split()
        except subprocess.TimeoutExpired:
            words = [log.stem, "timeout"]
        rows.append((words[0], dict(w.split("=") for w in words[1:] if "=" in w)))
    names = [k for k in rows[0][1]] if rows else []
    say("| processor ms | " + " | ".join(names) + " |")
    say("|---|" + "---:|" * len(names))
    for log, cost in rows:
        say("| %s | %s |" % (log, " | ".join(cost.get(k, "-") for k in names)))
    say()


if __name__ == "__main__":
    main()
