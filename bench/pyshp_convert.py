#!/usr/bin/python3
"""The conversion as a GIS user would script it with pyshp: reads the log itself and writes
the same point set (.shp, .shx, .dbf with the five columns, .prj, .cpg).

Usage: pyshp_convert.py LOG OUTPUT_BASE
"""

import sys

import shapefile

WGS84_PRJ = ('GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],'
             'PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]]')


def main():
    log_path, base = sys.argv[1], sys.argv[2]
    with open(log_path, "rb") as f:
        data = f.read().split(b"\x1a", 1)[0]
    lines = data.split(b"\n")

    w = shapefile.Writer(base, shapeType=shapefile.POINT, encoding="utf-8")
    w.field("Yield_bu", "N", 10, 2)
    w.field("Moist_pct", "N", 6, 1)
    w.field("Weight_ta", "N", 10, 2)
    w.field("Dens_lbbu", "N", 8, 1)
    w.field("Speed_MPH", "N", 6, 1)
    for line in lines[1:]:
        if not line.startswith(b"DY"):
            continue
        if line.endswith(b"\r"):
            line = line[:-1]
        f = line.split(b"@")
        if len(f) < 16:
            continue
        w.point(float(f[8]) / 1e7, float(f[7]) / 1e7)
        w.record(float(f[6]) / 10, float(f[5]) / 10, float(f[4]) / 100, float(f[14]) / 10,
                 float(f[1]) / 10)
    w.close()
    with open(base + ".prj", "w") as f:
        f.write(WGS84_PRJ)
    with open(base + ".cpg", "w") as f:
        f.write("UTF-8")


if __name__ == "__main__":
    main()
