#!/usr/bin/python3
"""Times the conversion engine against the floor of its work on this machine, against the
converter as it was before the streaming engine, from 100,000 to 50,000,000 samples, in a batch
of many small logs, a batch on one core against all cores (-j), and as the Windows build under
Wine; times --clean --summary --report against the plain conversion; checks the goals.

Usage: engine_bench.py --bin BUILD_DIR [--data DIR (default: in memory, /dev/shm)]
                       [--sizes 100000,1000000,10000000,50000000] [--reps 5] [--reference CONVERTER] [--wine-exe EXE --wine-prefix DIR]
                       [--batch 2000x500] [--jobs-batch 100x100000] [--jobs 2] [--ram DIR]
                       [--analysis 1000000] [--only-analysis] [--out FILE]
"""

import hashlib

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

MEASURE = None


def measured(argv, env=None):
    """Runs argv through the measuring launcher: (seconds, peak RSS in bytes)."""
    proc = subprocess.run([str(MEASURE)] + [str(a) for a in argv], capture_output=True,
                          text=True, env=env)
    out = proc.stdout.split()
    if proc.returncode != 0 or len(out) != 3 or out[2] != "0":
        sys.exit("%s failed:\n%s%s" % (" ".join(map(str, argv)), proc.stdout, proc.stderr))
    return float(out[0]), int(out[1]) * 1024


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def median_of(reps, run):
    results = [run() for _ in range(reps)]
    return statistics.median(r[0] for r in results), max(r[1] for r in results)


def set_sizes(folder):
    """The sizes of the .shp, .shx and .dbf the converter wrote into `folder`."""
    shp = next(folder.glob("*.shp"))
    return [shp.with_suffix(ext).stat().st_size for ext in (".shp", ".shx", ".dbf")]


def verdict(ok):
    return "holds" if ok else "MISSED"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--data")
    ap.add_argument("--sizes", default="100000,1000000,10000000,50000000")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--reference", help="the converter before the streaming engine")
    ap.add_argument("--wine-exe", help="vornakite-convert.exe to run under Wine")
    ap.add_argument("--wine-prefix")
    ap.add_argument("--batch", default="2000x500", help="LOGSxSAMPLES of the batch case")
    ap.add_argument("--jobs-batch", default="100x100000",
                    help="LOGSxSAMPLES of the batch converted with -j 1 and -j JOBS")
    ap.add_argument("--jobs", type=int, default=os.cpu_count(),
                    help="the -j compared with -j 1 (default: the number of cores)")
    ap.add_argument("--ram", help="folder of the -j runs' logs and sets (default: /dev/shm)")
    ap.add_argument("--analysis", type=int, default=1000000,
                    help="samples of the cleaning, summary and report case (0: none)")
    ap.add_argument("--only-analysis", action="store_true",
                    help="run the cleaning, summary and report case alone")
    ap.add_argument("--out")
    args = ap.parse_args()

    global MEASURE
    build = Path(args.bin).resolve()
    MEASURE = build / "bench" / "vornakite-measure"
    # Logs and sets in memory by default (a RAM file system where there is one): the disk's
    # write-back, shared with every other program on the machine, would otherwise set the pace.
    in_ram = not args.data and Path("/dev/shm").is_dir()
    data = (Path(args.data).resolve() if args.data else
            Path("/dev/shm/vornakite-engine-%d" % os.getpid()) if in_ram else build / "engine-data")
    data.mkdir(parents=True, exist_ok=True)
    try:
        run_cases(args, build, data, in_ram)
    finally:
        if in_ram:
            shutil.rmtree(data, ignore_errors=True)


def run_cases(args, build, data, in_ram):
    convert = build / "cli" / "vornakite-convert"
    floor = build / "bench" / "vornakite-floor"
    genlog = build / "bench" / "vornakite-genlog"
    report = []

    def say(line=""):
        print(line, flush=True)
        report.append(line)

    say("1-minute load at the start: %.2f; logs and sets in %s." % (
        os.getloadavg()[0], "memory (/dev/shm)" if in_ram else data))
    say()
    # What the process holds before it converts anything.
    start_rss = min(measured([convert, "--version"])[1] for _ in range(3))

    goals = []
    if args.analysis:
        analysis_case(args, convert, genlog, data, say, goals)
    if args.only_analysis:
        finish(args, say, report, goals)
        return

    rows = {}
    for n in [int(s) for s in args.sizes.split(",")]:
        log = data / ("engine-%d.Vornakite" % n)
        if not log.exists():
            subprocess.run([genlog, str(n), log], check=True, stdout=subprocess.DEVNULL)
        out = data / "out"
        ours, peak = median_of(args.reps, lambda: measured([convert, "-o", fresh(out), log]))
        sizes = set_sizes(out)
        shutil.rmtree(out, ignore_errors=True)  # each run's sets go before the next one's
        flo, _ = median_of(args.reps, lambda: measured(
            [floor, fresh(data / "out-floor")] + sizes + [log]))
        shutil.rmtree(data / "out-floor", ignore_errors=True)
        ref = None
        if args.reference:
            ref, _ = median_of(max(3, args.reps // 2), lambda: measured(
                [args.reference, "-o", fresh(data / "out-ref"), log]))
            shutil.rmtree(data / "out-ref", ignore_errors=True)
        rows[n] = (ours, flo, ref, peak - start_rss)
        print("  %d samples done" % n, file=sys.stderr, flush=True)
        if n >= 10000000:
            log.unlink()  # gigabytes; generated again for the next run
    shutil.rmtree(data / "out", ignore_errors=True)
    shutil.rmtree(data / "out-floor", ignore_errors=True)
    shutil.rmtree(data / "out-ref", ignore_errors=True)

    say("| Samples | vornakite-convert s | ns per sample | floor s | x floor | before the "
        "streaming engine s | x before | peak RSS above start MiB |")
    say("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for n, (ours, flo, ref, extra) in rows.items():
        say("| %s | %.3f | %.0f | %.3f | %.2fx | %s | %s | %.1f |" % (
            format(n, ","), ours, ours / n * 1e9, flo, ours / flo,
            "%.3f" % ref if ref else "-", "%.2fx" % (ours / ref) if ref else "-", extra / 2**20))
    say()

    if 1000000 in rows:
        ours, flo, ref, _ = rows[1000000]
        goals.append(("1M samples: at most 120 ns per sample", ours / 1e6 * 1e9 <= 120))
        goals.append(("1M samples: at most 3.5x the floor", ours / flo <= 3.5))
        if ref:
            goals.append(("1M samples: at most 0.4x the time before", ours / ref <= 0.4))
    for n in (1000000, 10000000, 50000000):
        if n in rows:
            goals.append(("peak memory at %s samples at most 8 MiB above the start"
                          % format(n, ","), rows[n][3] <= 8 * 2**20))
    per = [rows[n][0] / n for n in rows]
    if len(per) > 1:
        goals.append(("time per sample within 25 %% from %s to %s samples"
                      % (format(min(rows), ","), format(max(rows), ",")),
                      max(per) <= 1.25 * min(per)))

    logs, samples = (int(x) for x in args.batch.split("x"))
    batch = data / "batch"
    if not batch.is_dir() or len(list(batch.iterdir())) != logs:
        fresh(batch)
        for i in range(logs):
            subprocess.run([genlog, "--seed", str(i), str(samples), batch / ("%05d.Vornakite" % i)],
                           check=True, stdout=subprocess.DEVNULL)
    paths = sorted(batch.iterdir())
    # One log at a time (-j 1) and the default, all cores; the floor is one loop on one core.
    one, _ = median_of(args.reps, lambda: measured(
        [convert, "-j", "1", "-o", fresh(data / "out")] + paths))
    every, _ = median_of(args.reps, lambda: measured([convert, "-o", fresh(data / "out")] + paths))
    sizes = set_sizes(data / "out")
    flo, _ = median_of(args.reps, lambda: measured(
        [floor, fresh(data / "out-floor")] + sizes + paths))
    overhead = (one - flo) / logs * 1e6
    say("Batch of %s logs of %s samples: the floor %.3f s; vornakite-convert -j 1 %.3f s, %.1f us "
        "per log beyond the floor; with all cores (the default) %.3f s, %.1f us per log." % (
            format(logs, ","), format(samples, ","), flo, one, overhead, every,
            (every - flo) / logs * 1e6))
    say()
    goals.append(("batch, -j 1: at most 30 us per log beyond a plain open/read/write loop",
                  overhead <= 30))
    shutil.rmtree(data / "out", ignore_errors=True)
    shutil.rmtree(data / "out-floor", ignore_errors=True)

    # All cores: the same batch with -j 1 and -j JOBS, which must write the same bytes.
    logs, samples = (int(x) for x in args.jobs_batch.split("x"))
    batch = data / "jobs-batch"
    if not batch.is_dir() or len(list(batch.iterdir())) != logs:
        fresh(batch)
        for i in range(logs):
            subprocess.run([genlog, "--seed", str(i), str(samples), batch / ("%05d.Vornakite" % i)],
                           check=True, stdout=subprocess.DEVNULL)
    # The logs and the sets in memory (a RAM file system where there is one): the disk's
    # write-back, shared with every other program on the machine, would otherwise set the pace
    # of both runs alike.
    ram = Path(args.ram or ("/dev/shm" if Path("/dev/shm").is_dir() else data))
    ram = ram / ("vornakite-jobs-%d" % os.getpid())
    shutil.copytree(batch, ram / "logs")
    paths = sorted((ram / "logs").iterdir())
    runs = {1: [], args.jobs: []}
    cpu = {1: [], args.jobs: []}
    digests = {}
    # Taken in turns, so that both see the same load from other programs on the machine.
    for _ in range(args.reps):
        for jobs in runs:
            out = fresh(ram / ("out-j%d" % jobs))
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            runs[jobs].append(measured([convert, "-q", "-j", jobs, "-o", out] + paths)[0])
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu[jobs].append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
            digests[jobs] = hashlib.sha256(b"".join(
                p.name.encode() + p.read_bytes() for p in sorted(out.iterdir()))).hexdigest()
            shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(ram, ignore_errors=True)
    times = {jobs: statistics.median(t) for jobs, t in runs.items()}
    speedup = times[1] / times[args.jobs]
    say("Batch of %s logs of %s samples in %s: -j 1 %.3f s, -j %d %.3f s (medians, in turns; "
        "1-minute load %.2f after): %.2fx; processor time %.3f s and %.3f s; the same bytes: %s."
        % (format(logs, ","), format(samples, ","), ram.parent, times[1], args.jobs,
           times[args.jobs], os.getloadavg()[0], speedup, statistics.median(cpu[1]),
           statistics.median(cpu[args.jobs]),
           "yes" if digests[1] == digests[args.jobs] else "NO"))
    say()
    goals.append(("-j %d at least 1.7x as fast as -j 1 on %s logs of %s samples, same bytes"
                  % (args.jobs, format(logs, ","), format(samples, ",")),
                  speedup >= 1.7 and digests[1] == digests[args.jobs]))

    if args.wine_exe:
        env = dict(os.environ, WINEPREFIX=str(Path(args.wine_prefix).resolve()), WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        if not (Path(args.wine_prefix) / "system.reg").exists():
            subprocess.run(["wine", "wineboot", "-i"], env=env, capture_output=True)
        subprocess.run(["wineserver", "-p"], env=env)
        # Wine's background programs start with its first program and keep that program's
        # output open: start them here, away from any measured run's pipes.
        subprocess.run(["wine", "cmd.exe", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            log = data / "engine-1000000.Vornakite"
            if not log.exists():
                subprocess.run([genlog, "1000000", log], check=True, stdout=subprocess.DEVNULL)
            wine = ["wine", args.wine_exe]
            measured(wine + ["--version"], env)  # the first start prepares the server
            startup, _ = median_of(args.reps, lambda: measured(wine + ["--version"], env))
            under_wine, _ = median_of(args.reps, lambda: measured(
                wine + ["-o", fresh(data / "out-wine"), log], env))
            native, _ = median_of(args.reps, lambda: measured(
                [convert, "-o", fresh(data / "out"), log]))
            ratio = (under_wine - startup) / native
            say("Windows build under Wine, 1,000,000 samples: %.3f s, Wine's own start-up (a "
                "--version run) %.3f s, native %.3f s: %.2fx native after the start-up."
                % (under_wine, startup, native, ratio))
            say()
            goals.append(("under Wine at most 1.3x native after Wine's start-up", ratio <= 1.3))
        finally:
            subprocess.run(["wineserver", "-k"], env=env)
            shutil.rmtree(data / "out-wine", ignore_errors=True)
            shutil.rmtree(data / "out", ignore_errors=True)

    finish(args, say, report, goals)


def analysis_case(args, convert, genlog, data, say, goals):
    """--clean --summary --report against the plain conversion of the same log, runs taken in
    turns so that a change of load on the machine weighs on both alike."""
    n = args.analysis
    log = data / ("engine-%d.Vornakite" % n)
    if not log.exists():
        subprocess.run([genlog, str(n), log], check=True, stdout=subprocess.DEVNULL)
    out = data / "out-analysis"
    plain, full = [], []
    for _ in range(max(args.reps, 3)):
        plain.append(measured([convert, "-q", "-o", fresh(out), log]))
        full.append(measured([convert, "-q", "-o", fresh(out), "--clean", "--summary",
                              "--report", out / "report.html", log]))
    shutil.rmtree(out, ignore_errors=True)
    p = statistics.median(t for t, _ in plain)
    f = statistics.median(t for t, _ in full)
    peak = max(m for _, m in full)
    say("| %s samples | s (median of %d) | x plain | peak RSS MiB |" % (format(n, ","),
                                                                      len(plain)))
    say("|---|---:|---:|---:|")
    say("| vornakite-convert | %.3f | 1.00x | %.1f |" % (p, max(m for _, m in plain) / 2**20))
    say("| vornakite-convert --clean --summary --report | %.3f | %.2fx | %.1f |"
        % (f, f / p, peak / 2**20))
    say()
    goals.append(("%s samples: --clean --summary --report at most 2x the plain conversion"
                  % format(n, ","), f / p <= 2.0))
    goals.append(("%s samples: the same with the grain-flow lag undone at most 2.5x"
                  % format(n, ","), f / p <= 2.5))
    if n == 1_000_000:
        goals.append(("1,000,000 samples: --clean --summary --report peak memory at most 64 MiB",
                      peak <= 64 * 2**20))


def finish(args, say, report, goals):
    say("| Goal | Result |")
    say("|---|---|")
    for what, ok in goals:
        say("| %s | %s |" % (what, verdict(ok)))
    say()
    say("1-minute load at the end: %.2f." % os.getloadavg()[0])
    if args.out:
        Path(args.out).write_text("\n".join(report) + "\n")


if __name__ == "__main__":
    main()
