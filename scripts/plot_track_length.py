#!/usr/bin/python3
"""Plots the reader's time per sector against the records per track.

Reads the JSON output of bench/d88_bench (--benchmark_format=json, or
--benchmark_out=FILE --benchmark_out_format=json) of the reader before and
after a change, takes the BM_TrackLength cases, and writes a PNG: time per
sector on a log scale for both, and the "after" figures alone on a linear
scale from zero, where a flat cost shows as a flat line.

Usage: scripts/plot_track_length.py BEFORE.json AFTER.json OUT.png
Needs matplotlib (Debian: python3-matplotlib); run by hand, not by CI.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def per_sector_ns(path):
    """{records per track: nanoseconds per sector} from one benchmark run.

    Uses the median of repetitions when the run has aggregates, otherwise the
    mean of the plain results; time per sector is 1 / items_per_second.
    """
    with open(path, encoding="utf-8") as f:
        benchmarks = json.load(f)["benchmarks"]
    samples = {}
    medians = {}
    for b in benchmarks:
        name = b.get("run_name", b["name"])
        if not name.startswith("BM_TrackLength/"):
            continue
        records = int(name.split("/")[1])
        ns = 1e9 / b["items_per_second"]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[records] = ns
        else:
            samples.setdefault(records, []).append(ns)
    if medians:
        return medians
    return {r: sum(v) / len(v) for r, v in samples.items()}


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    before = per_sector_ns(argv[1])
    after = per_sector_ns(argv[2])
    if not before or not after:
        sys.exit("no BM_TrackLength results in the input")

    fig, (both, flat) = plt.subplots(1, 2, figsize=(11, 4.5))
    for data, label, style in ((before, "before (walk from the first record)", "o-"),
                               (after, "after (each track walked once, indexed)", "s-")):
        xs = sorted(data)
        both.plot(xs, [data[x] for x in xs], style, label=label)
    both.set_yscale("log")
    both.set_xlabel("records per track (128-byte sectors)")
    both.set_ylabel("time per sector (ns, log scale)")
    both.set_title("readSectors of a whole disk: before and after")
    both.grid(True, which="both", alpha=0.3)
    both.legend()

    xs = sorted(after)
    flat.plot(xs, [after[x] for x in xs], "s-", color="C1")
    flat.set_ylim(0, max(after.values()) * 1.5)
    flat.set_xlabel("records per track (128-byte sectors)")
    flat.set_ylabel("time per sector (ns)")
    flat.set_title("after alone, from zero: the cost is flat")
    flat.grid(True, alpha=0.3)
    for x in xs:
        flat.annotate(f"{after[x]:.0f}", (x, after[x]), textcoords="offset points",
                      xytext=(0, 6), ha="center", fontsize=8)

    fig.tight_layout()
    fig.savefig(argv[3], dpi=100)


if __name__ == "__main__":
    main(sys.argv)
