#!/usr/bin/env python3
"""Writes the sample yield logs into the repository's samples/ folder.

Each log is one combine harvesting a field in serpentine passes, one sample per second:
straight passes about 60 s long and one header width (9.1 m) apart, joined by half-circle
turns at the headlands where the header is raised and the monitor logs zero flow. Between
the "DY" samples the monitor writes GPS status ("GP"), header events ("EV") and operator
marks ("MK"), which the converter passes over.

The output is deterministic: every random value comes from a generator seeded per log.
Usage: make_samples.py [OUTPUT_DIR]
"""

import math
import random
import sys
from pathlib import Path

METERS_PER_DEG_LAT = 111_132.954
SWATH_M = 9.144  # 30 ft header
MPH_TO_MPS = 0.44704


class Crop:
    def __init__(self, name, yield_bu_ac, moisture_pct, test_weight_lb_bu, speed_mph):
        self.name = name
        self.yield_bu_ac = yield_bu_ac  # (mean, spatial amplitude, noise)
        self.moisture_pct = moisture_pct  # (mean, spatial amplitude, noise)
        self.test_weight = test_weight_lb_bu  # (mean, noise)
        self.speed_mph = speed_mph  # (mean, noise)


CORN = Crop("Corn", (192.0, 28.0, 9.0), (18.0, 2.6, 0.35), (56.0, 0.6), (4.6, 0.25))
SOYBEANS = Crop("Soybeans", (58.0, 9.0, 3.5), (12.8, 1.1, 0.2), (60.0, 0.4), (5.4, 0.3))


class Session:
    """A harvest session: the field's south-west corner, passes and the monitor's header."""

    def __init__(self, file_name, header, crop, origin, passes, pass_seconds, start_tod,
                 seed, line_end, marks):
        self.file_name = file_name
        self.header = header
        self.crop = crop
        self.origin = origin  # (lat, lon) in degrees
        self.passes = passes
        self.pass_seconds = pass_seconds
        self.start_tod = start_tod  # seconds since midnight, local time
        self.seed = seed
        self.line_end = line_end
        self.marks = marks  # {(pass index, second in pass): text}


def hhmmss(tod):
    return "%02d:%02d:%02d" % (tod // 3600, (tod // 60) % 60, tod % 60)


class Monitor:
    """Turns positions in metres east/north of the origin into log records."""

    def __init__(self, session):
        self.s = session
        self.rng = random.Random(session.seed)
        self.lines = []
        self.tod = session.start_tod
        self.elev_dm = 2870 + self.rng.randint(0, 40)
        self.moisture = session.crop.moisture_pct[0]

    def to_units(self, east_m, north_m):
        lat0, lon0 = self.s.origin
        lat = lat0 + north_m / METERS_PER_DEG_LAT
        lon = lon0 + east_m / (111_319.488 * math.cos(math.radians(lat0)))
        return round(lat * 1e7), round(lon * 1e7)

    def surface(self, east_m, north_m):
        """Smooth field variation in [-1, 1]: a low swale and a sandy knoll."""
        return 0.6 * math.sin(east_m / 37.0 + 0.4) * math.cos(north_m / 23.0) + 0.4 * math.sin(
            (east_m + north_m) / 51.0)

    def record(self, *fields):
        self.lines.append("@".join(str(f) for f in fields))

    def gps_status(self, lat, lon):
        sats = 14 + self.rng.randint(-2, 3)
        hdop = "%.1f" % (0.7 + self.rng.random() * 0.4)
        self.record("GP", hhmmss(self.tod), lat, lon, hdop, sats, 4)

    def sample(self, east_m, north_m, heading_deg, speed_mph, pass_no, header_down):
        crop = self.s.crop
        # Receiver noise of a few centimetres on top of the path.
        lat, lon = self.to_units(east_m + self.rng.gauss(0, 0.03),
                                 north_m + self.rng.gauss(0, 0.03))
        v = self.surface(east_m, north_m)
        if header_down:
            y_mean, y_amp, y_noise = crop.yield_bu_ac
            bu_ac = max(0.0, y_mean + y_amp * v + self.rng.gauss(0, y_noise))
            m_mean, m_amp, m_noise = crop.moisture_pct
            self.moisture = m_mean - m_amp * v + self.rng.gauss(0, m_noise)
            test_weight = crop.test_weight[0] + self.rng.gauss(0, crop.test_weight[1])
            flow_lb_s = bu_ac * test_weight * speed_mph * MPH_TO_MPS * SWATH_M / 4046.86
        else:
            bu_ac = 0.0
            test_weight = crop.test_weight[0] + self.rng.gauss(0, crop.test_weight[1])
            flow_lb_s = 0.0
        tons_ac = bu_ac * test_weight / 2000.0
        self.elev_dm += self.rng.choice((-1, 0, 0, 1))
        sats = 15 + self.rng.randint(-1, 2)
        self.record(
            "DY",
            round(speed_mph * 10),  # 1 speed, 0.1 mph
            hhmmss(self.tod),  # 2 time of day
            30,  # 3 swath width, ft
            round(tons_ac * 100),  # 4 wet weight, 0.01 t/ac
            round(self.moisture * 10),  # 5 moisture, 0.1 %
            round(bu_ac * 10),  # 6 yield, 0.1 bu/ac
            lat,  # 7 latitude, 1e-7 deg
            lon,  # 8 longitude, 1e-7 deg
            round(heading_deg * 10) % 3600,  # 9 heading, 0.1 deg
            self.elev_dm,  # 10 elevation, dm
            4,  # 11 fix quality (RTK)
            sats,  # 12 satellites
            pass_no,  # 13 pass number
            round(test_weight * 10),  # 14 density, 0.1 lb/bu
            1 if header_down else 0,  # 15 header status
            "%.2f" % flow_lb_s,  # 16 mass flow, lb/s
        )
        if self.tod % 30 == 0:
            self.gps_status(lat, lon)
        self.tod += 1

    def harvest(self):
        crop = self.s.crop
        self.lines.append("@".join(self.s.header))
        self.record("CA", "MOIST", "1.012", "FLOW", "0.987", "TEMP", "11.5")
        east = 0.0
        north = SWATH_M / 2
        for p in range(self.s.passes):
            eastbound = p % 2 == 0
            heading = 90.0 if eastbound else 270.0
            self.record("EV", hhmmss(self.tod), "HEADER_DOWN", p + 1)
            for second in range(self.s.pass_seconds):
                speed = crop.speed_mph[0] + self.rng.gauss(0, crop.speed_mph[1])
                if second < 3:  # accelerating out of the turn
                    speed *= 0.7 + 0.1 * second
                note = self.s.marks.get((p, second))
                if note:
                    lat, lon = self.to_units(east, north)
                    self.record("MK", hhmmss(self.tod), lat, lon, note)
                self.sample(east, north, heading + self.rng.gauss(0, 0.8), speed, p + 1, True)
                step = speed * MPH_TO_MPS
                east += step if eastbound else -step
            if p == self.s.passes - 1:
                break
            self.record("EV", hhmmss(self.tod), "HEADER_UP", p + 1)
            # Half-circle turn at the headland onto the next pass, header raised.
            radius = SWATH_M / 2
            turn_speed = 3.1
            turn_seconds = round(math.pi * radius / (turn_speed * MPH_TO_MPS))
            centre_north = north + radius
            for k in range(1, turn_seconds + 1):
                a = math.pi * k / (turn_seconds + 1)
                bulge = radius * math.sin(a)
                turn_east = east + bulge if eastbound else east - bulge
                turn_north = centre_north - radius * math.cos(a)
                turn_heading = (90.0 - math.degrees(a)) if eastbound else (270.0 + math.degrees(a))
                self.sample(turn_east, turn_north, turn_heading % 360.0,
                            turn_speed + self.rng.gauss(0, 0.15), p + 1, False)
            north += SWATH_M
        self.record("EV", hhmmss(self.tod), "HEADER_UP", self.s.passes)
        self.record("ES", hhmmss(self.tod), "END OF SESSION")
        return self.s.line_end.join(self.lines) + self.s.line_end


SESSIONS = [
    Session(
        "2026-10-01.Vornakite",
        ["VKLOG", "3.2", "SN 40417-K", "2026-10-01", "08:12:05", "J. Olsen", "North Farm",
         "Field 12/B", "Corn", "P1197AM", "30 ft"],
        CORN, (42.0312018, -93.6405731), 6, 60, 8 * 3600 + 12 * 60 + 5, 20261001, "\n",
        {(1, 22): "Rock pile", (4, 41): "Wet spot"}),
    Session(
        "2026-10-03.Vornakite",
        ["VKLOG", "3.2", "SN 40417-K", "2026-10-03", "13:47:30", "M. Hansen", "Hansen Farms",
         "South 80 (East)", "Corn", "DKC62-70", "30 ft"],
        CORN, (40.0934412, -88.2459307), 5, 58, 13 * 3600 + 47 * 60 + 30, 20261003, "\r\n",
        {(2, 30): "Lodged corn"}),
    Session(
        "2026-10-06_soybeans.txt",
        ["VKLOG", "3.2", "SN 40417-K", "2026-10-06", "10:05:12", "J. Olsen", "Oak Creek",
         "Home Quarter", "Soybeans", "AG30XF2", "30 ft"],
        SOYBEANS, (41.5868350, -93.8123664), 4, 62, 10 * 3600 + 5 * 60 + 12, 20261006, "\n",
        {(0, 15): "Waterway", (3, 50): "Weeds"}),
]


def main():
    default = Path(__file__).resolve().parent.parent / "samples"
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    out.mkdir(parents=True, exist_ok=True)
    for session in SESSIONS:
        text = Monitor(session).harvest()
        (out / session.file_name).write_bytes(text.encode("ascii"))
        samples = sum(1 for line in text.splitlines() if line.startswith("DY"))
        print("%s: %d samples" % (session.file_name, samples))


if __name__ == "__main__":
    main()
