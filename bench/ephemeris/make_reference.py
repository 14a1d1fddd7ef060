#!/usr/bin/python3
"""Reference solar positions and Sun-Earth distances for bench/accuracy.

Writes two tables into the folder given (default: this script's folder):
  random.csv  5000 instants with the Sun up, uniform in time over
              2020-01-01 to 2030-12-31 UT, longitude uniform in [-180, 180),
              latitude uniform in [-75, 75] (seeded, reproducible);
  warsaw.csv  Warsaw (21.0 E, 52.2 N) every hour on the hour, UT, with the
              Sun up, through 2023 and 2024 (a common and a leap year).
Columns: year, month, day, hour [decimal h UT], lon [deg E], lat [deg N],
zenith [deg], distance [AU]. The zenith angle is the topocentric one from
the XEphem/VSOP87 theory of PyEphem with the observer at sea level and
pressure 0 (no refraction), the frame in which Kasten & Young (1989) give
the air mass; the distance is the Sun-Earth distance of the same instant.
Each reference value is computed from the rounded values as written.

Needs Debian python3-ephem:  /usr/bin/python3 bench/ephemeris/make_reference.py
"""
import math
import os
import random
import sys

import ephem

HEADER = "year,month,day,hour,lon,lat,zenith,distance"


def position(year, month, day, hour, lon, lat):
    observer = ephem.Observer()
    observer.lon = math.radians(lon)
    observer.lat = math.radians(lat)
    observer.elevation = 0.0
    observer.pressure = 0.0  # no refraction
    observer.date = ephem.Date((year, month, day)) + hour / 24.0
    sun = ephem.Sun(observer)
    return 90.0 - math.degrees(sun.alt), sun.earth_distance


def decimal(value, decimals):
    """`value` with at most `decimals` decimals, trailing zeros dropped."""
    text = f"{value:.{decimals}f}"
    return text.rstrip("0").rstrip(".") if "." in text else text


def row(year, month, day, hour, lon, lat):
    zenith, distance = position(year, month, day, hour, lon, lat)
    fields = [str(year), str(month), str(day), decimal(hour, 6), decimal(lon, 4), decimal(lat, 4),
              decimal(zenith, 5), decimal(distance, 8)]
    return zenith, ",".join(fields)


def provenance(out, what):
    out.write(f"# {what}\n")
    out.write(f"# PyEphem {ephem.__version__}, pressure 0 (no refraction), elevation 0 m; made by\n")
    out.write("#   /usr/bin/python3 bench/ephemeris/make_reference.py\n")
    out.write(HEADER + "\n")


def random_instants(out, count=5000, seed=20260101):
    rng = random.Random(seed)
    start = ephem.Date((2020, 1, 1))
    span = ephem.Date((2031, 1, 1)) - start
    provenance(out, f"{count} random instants, Sun up, 2020-2030 UT, |lat| <= 75 deg, seed {seed}")
    written = 0
    while written < count:
        instant = ephem.Date(start + rng.random() * span)
        lon = round(rng.uniform(-180.0, 180.0), 4)
        lat = round(rng.uniform(-75.0, 75.0), 4)
        year, month, day, h, m, s = instant.tuple()
        hour = round(h + m / 60.0 + s / 3600.0, 6)
        if hour >= 24.0:
            continue
        zenith, line = row(year, month, day, hour, lon, lat)
        if zenith < 90.0:
            out.write(line + "\n")
            written += 1


def warsaw(out):
    provenance(out, "Warsaw 21.0 E 52.2 N, hourly on the hour UT, Sun up, 2023 and 2024")
    for year in (2023, 2024):
        day = ephem.Date((year, 1, 1))
        while ephem.Date(day).tuple()[0] == year:
            y, month, d = ephem.Date(day).tuple()[:3]
            for hour in range(24):
                zenith, line = row(y, month, d, float(hour), 21.0, 52.2)
                if zenith < 90.0:
                    out.write(line + "\n")
            day = ephem.Date(day + 1)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, "random.csv"), "w") as out:
        random_instants(out)
    with open(os.path.join(folder, "warsaw.csv"), "w") as out:
        warsaw(out)


if __name__ == "__main__":
    main()
