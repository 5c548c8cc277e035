#!/usr/bin/python3
"""The installed and packaged programs, each in a clean folder, convert the sample logs.

deb: `cmake --install` into a new prefix, and the Debian package unpacked: exactly the expected
files, the package's fields, each program writing the build's own bytes. zip: the Windows .zip
holds exactly both programs and the documents; its converter runs under Wine.
Usage: test_packages.py deb|zip BUILD SAMPLES CMAKE CPACK CONVERTER|WINE_RUN
"""

import subprocess
import sys
import tempfile
from pathlib import Path

DOCS = ["README.md", "LICENSE", "docs/cleaning.md", "docs/field-numbers.md",
        "docs/reliability.md", "docs/report.md", "docs/report.png"]
LINUX_FILES = {"bin/vornakite-convert"} | {"share/doc/vornakite-convert/" + d for d in DOCS}
WINDOWS_FILES = {"VornakiteConverter.exe", "vornakite-convert.exe"} | set(DOCS)
SETS = ["Hansen_Farms_South_80__East__Corn", "North_Farm_Field_12_B_Corn",
        "Oak_Creek_Home_Quarter_Soybeans"]
SET_FILES = [s + ext for s in SETS for ext in (".cpg", ".dbf", ".prj", ".shp", ".shx")]


def check(condition, what):
    if not condition:
        sys.exit("FAILED: " + what)


def run(*command, cwd=None):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    check(done.returncode == 0, " ".join(command) + " failed:\n" + done.stdout + done.stderr)
    return done.stdout


def files_under(folder):
    return {str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file()}


def converted(program, samples, folder, wine_run=None):
    """The files `program SAMPLES` writes into folder/Rx, by name, as bytes (the .dbf's date
    of last update left out, so that runs either side of midnight compare equal)."""
    folder.mkdir(parents=True)
    command = [wine_run, program] if wine_run else [program]
    out = run(*command, samples, cwd=folder)  # exit status 0: every log converted
    check("Conversion complete: 3/3 files processed successfully" in out, program + ": " + out)
    rx = folder / "Rx"
    check(sorted(files_under(rx)) == SET_FILES, program + " wrote " + str(files_under(rx)))
    data = {name: (rx / name).read_bytes() for name in SET_FILES}
    return {name: b[:1] + b[4:] if name.endswith(".dbf") else b for name, b in data.items()}


def package(build, cpack, generator, tmp):
    run(cpack, "-G", generator, "--config", str(build / "CPackConfig.cmake"), "-B", str(tmp))
    made = list(tmp.glob("*." + generator.lower()))
    check(len(made) == 1, "cpack made " + str(made))
    return made[0]


def test_deb(build, samples, cmake, cpack, tmp, converter):
    expected = converted(converter, samples, tmp / "build-run")
    prefix = tmp / "prefix"
    run(cmake, "--install", str(build), "--prefix", str(prefix))
    check(files_under(prefix) == LINUX_FILES, "installed " + str(files_under(prefix)))
    check(converted(str(prefix / "bin/vornakite-convert"), samples, tmp / "run") == expected,
          "the installed program writes other bytes")

    deb = package(build, cpack, "DEB", tmp / "packages")
    fields = dict(line.split(": ", 1) for line in run("dpkg-deb", "-f", str(deb)).splitlines()
                  if line[:1].isalpha())
    version = run(converter, "--version").split()[-1]
    for key, want in [("Package", "vornakite-convert"), ("Version", version),
                      ("Section", "science"), ("Maintainer", None), ("Description", None)]:
        got = fields.get(key)
        check(got == want if want else got, "%s is %r, not %r" % (key, got, want))
    check("libc6" in fields.get("Depends", "") and "libstdc++6" in fields["Depends"],
          "Depends is " + repr(fields.get("Depends")))
    root = tmp / "root"
    run("dpkg-deb", "-x", str(deb), str(root))
    check(files_under(root) == {"usr/" + f for f in LINUX_FILES}, "packaged " + str(deb))
    check(converted(str(root / "usr/bin/vornakite-convert"), samples, tmp / "deb-run") == expected,
          "the packaged program writes other bytes")


def test_zip(build, samples, cmake, cpack, tmp, wine_run):
    archive = package(build, cpack, "ZIP", tmp / "packages")
    top = archive.stem + "/"
    listed = {n for n in run("unzip", "-Z1", str(archive)).splitlines() if not n.endswith("/")}
    check(listed == {top + f for f in WINDOWS_FILES}, "zipped " + str(listed))
    run("unzip", "-q", str(archive), "-d", str(tmp / "unzipped"))
    folder = tmp / "unzipped" / top
    for exe in ["VornakiteConverter.exe", "vornakite-convert.exe"]:
        check((folder / exe).read_bytes()[:2] == b"MZ", exe + " is no Windows program")
    converted(str(folder / "vornakite-convert.exe"), samples, tmp / "run", wine_run)


if __name__ == "__main__":
    mode, build, samples, cmake, cpack, program = sys.argv[1:7]
    with tempfile.TemporaryDirectory(prefix="vornakite_install_") as tmp:
        test = test_deb if mode == "deb" else test_zip
        test(Path(build), samples, cmake, cpack, Path(tmp), program)
