#!/usr/bin/python3
"""Plot of POSSOL's zenith error over the year at Warsaw, from the error
table that `tirovan_accuracy <folder> <errors.csv>` writes.

Needs Debian python3-matplotlib:
  /usr/bin/python3 bench/ephemeris/plot_zenith_error.py errors.csv docs/zenith-error.png
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main():
    source, target = sys.argv[1], sys.argv[2]
    series = {}
    with open(source) as table:
        for row in csv.DictReader(table):
            year = int(row["year"])
            day = int(row["doy"]) + float(row["hour"]) / 24.0
            series.setdefault(year, ([], []))
            series[year][0].append(day)
            series[year][1].append(float(row["error"]))

    fig, ax = plt.subplots(figsize=(9, 4.5), dpi=100)
    styles = {2023: ("tab:blue", "2023 (common year)"), 2024: ("tab:red", "2024 (leap year)")}
    for year, (days, errors) in sorted(series.items()):
        colour, label = styles.get(year, ("tab:gray", str(year)))
        ax.scatter(days, errors, s=2, color=colour, label=label, linewidths=0)
    ax.axhline(0.0, color="black", linewidth=0.6)
    # From 1 March of a leap year the run's day count is one day behind.
    ax.axvline(61, color="gray", linewidth=0.6, linestyle="--")
    ax.text(63, ax.get_ylim()[1] * 0.9, "1 March 2024", fontsize=8, color="gray")
    ax.set_xlim(0, 367)
    ax.set_xlabel("day of the year")
    ax.set_ylabel("zenith error, POSSOL - ephemeris [deg]")
    ax.set_title("Solar zenith error at Warsaw (52.2 N, 21.0 E), every hour with the Sun up")
    ax.grid(True, linewidth=0.3)
    ax.legend(markerscale=5, loc="lower left")
    fig.tight_layout()
    fig.savefig(target)


if __name__ == "__main__":
    main()
