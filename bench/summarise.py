#!/usr/bin/env python3
"""Summarises the JSON results of scripts/bench.sh as the tables of
docs/performance.md: cost per enumeration key of the cleaning run and of the
floor, the 100,000-key/1,000-key ratio, and the cost of the trace calls with
the switch off against the build without them.

Each benchmark ran several times in each build, the two builds in turn, so
that a change of load on the machine hits both alike; the median of the
rounds is taken. Instruction counts, where callgrind gave them, come from
one run each."""

import argparse
import glob
import json
import os
import statistics
import sys

TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
SIZES = [1000, 10000, 100000]
FAMILIES = [("9x", "9x family, Enum\\USB"), ("Nt", "NT family, Enum\\USB")]


def load(directory):
    """{build: {benchmark name: [ns per iteration, one per round]}}, context."""
    times, context, errors = {}, None, []
    for path in sorted(glob.glob(os.path.join(directory, "*.json"))):
        build = os.path.basename(path).rsplit("-", 1)[0]
        with open(path) as f:
            data = json.load(f)
        context = context or data["context"]
        for b in data["benchmarks"]:
            if b.get("error_occurred"):
                errors.append(f"{build} {b['name']}: {b.get('error_message')}")
                continue
            if b.get("run_type") == "aggregate":
                continue
            ns = b["real_time"] * TO_NS[b["time_unit"]]
            times.setdefault(build, {}).setdefault(b["name"], []).append(ns)
    return times, context, errors


def load_instructions(directory, errors):
    """{(build, "RunNt", keys): instructions of one run} from callgrind's
    files <build>-<kind><family>-<keys>.out beside the benchmark's JSON."""
    counts = {}
    for path in sorted(glob.glob(os.path.join(directory, "*.out"))):
        stem = os.path.basename(path)[:-len(".out")]
        build, what, keys = stem.rsplit("-", 2)
        total = None
        with open(path) as f:
            for line in f:
                if line.startswith("totals:"):
                    total = int(line.split()[1])
        with open(os.path.join(directory, stem + ".json")) as f:
            runs = [b for b in json.load(f)["benchmarks"] if b.get("run_type") != "aggregate"]
        if total is None or len(runs) != 1 or runs[0].get("error_occurred"):
            errors.append(f"instructions of {stem}: no single clean run")
            continue
        counts[(build, what, int(keys))] = total / runs[0]["iterations"]
    return counts


def median(times, build, name):
    values = times.get(build, {}).get(name)
    return statistics.median(values) if values else None


def name(kind, family, keys):
    return f"BM_{kind}{family}/{keys}/manual_time"


def fmt(value, digits=0):
    return "n/a" if value is None else f"{value:,.{digits}f}"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("results")
    parser.add_argument("--compiler", default="")
    args = parser.parse_args()

    times, context, errors = load(args.results)
    if not times:
        sys.exit("no results in " + args.results)
    rounds = max(len(v) for t in times.values() for v in t.values())
    shipped, untraced = "jq_bench", "jq_bench_untraced"
    out = []

    out.append("Measured on: {} CPUs at {} MHz ({}), L2 {} KiB; {}; Release build; "
               "{} rounds per build, medians.".format(
                   context.get("num_cpus"), context.get("mhz_per_cpu"),
                   context.get("host_name"),
                   next((c["size"] // 1024 for c in context.get("caches", []) if c["level"] == 2), "?"),
                   args.compiler or "compiler not given", rounds))
    out.append("")

    out.append("Cost per enumeration key (the run's time divided by the number of keys), "
               "shipped build, trace switch off:")
    out.append("")
    out.append("| Machine | Keys | Run (ns/key) | Floor (ns/key) | Run / floor |")
    out.append("|---|---:|---:|---:|---:|")
    linear = []
    for family, label in FAMILIES:
        per_key = {}
        for keys in SIZES:
            run = median(times, shipped, name("Run", family, keys))
            floor = median(times, shipped, name("Floor", family, keys))
            run_k = run / keys if run is not None else None
            floor_k = floor / keys if floor is not None else None
            per_key[keys] = (run_k, floor_k)
            out.append(f"| {label} | {keys:,} | {fmt(run_k)} | {fmt(floor_k)} | "
                       f"{fmt(ratio(run_k, floor_k), 2)} |")
        fixed = median(times, shipped, name("Run", family, 0))
        linear.append((label, ratio(per_key[100000][0], per_key[1000][0]),
                       ratio(per_key[100000][1], per_key[1000][1]), fixed))
    out.append("")
    out.append("| Machine | Run: per key at 100,000 / at 1,000 | Floor: the same | "
               "Run with no key (µs) |")
    out.append("|---|---:|---:|---:|")
    for label, run_ratio, floor_ratio, fixed in linear:
        out.append(f"| {label} | {fmt(run_ratio, 2)} | {fmt(floor_ratio, 2)} | "
                   f"{fmt(None if fixed is None else fixed / 1e3, 1)} |")
    out.append("")

    out.append("Trace calls with the switch off, against the product built without them "
               "(the floor makes no trace call: its ratio shows the noise between the two "
               "builds):")
    out.append("")
    out.append("| Machine | Keys | Run, shipped (ms) | Run, calls compiled out (ms) | "
               "Run ratio | Floor ratio |")
    out.append("|---|---:|---:|---:|---:|---:|")
    for family, label in FAMILIES:
        for keys in SIZES:
            a = median(times, shipped, name("Run", family, keys))
            b = median(times, untraced, name("Run", family, keys))
            fa = median(times, shipped, name("Floor", family, keys))
            fb = median(times, untraced, name("Floor", family, keys))
            out.append(f"| {label} | {keys:,} | {fmt(a and a / 1e6, 2)} | {fmt(b and b / 1e6, 2)} | "
                       f"{fmt(ratio(a, b), 3)} | {fmt(ratio(fa, fb), 3)} |")
    call = median(times, shipped, "BM_TraceCallSwitchOff")
    empty = median(times, untraced, "BM_TraceCallSwitchOff")
    out.append("")
    out.append(f"One trace call with the switch off: {fmt(call, 2)} ns "
               f"(compiled out: {fmt(empty, 2)} ns).")

    instructions = load_instructions(os.path.join(args.results, "instructions"), errors)
    if instructions:
        out.append("")
        out.append("Instructions executed per key (callgrind, one run each; not disturbed by "
                   "other programs):")
        out.append("")
        out.append("| Machine | Keys | Run | Floor | Run, calls compiled out | "
                   "Run / compiled out |")
        out.append("|---|---:|---:|---:|---:|---:|")
        for family, label in FAMILIES:
            for keys in SIZES:
                run = instructions.get((shipped, "Run" + family, keys))
                floor = instructions.get((shipped, "Floor" + family, keys))
                bare = instructions.get((untraced, "Run" + family, keys))
                out.append(f"| {label} | {keys:,} | {fmt(run and run / keys)} | "
                           f"{fmt(floor and floor / keys)} | {fmt(bare and bare / keys)} | "
                           f"{fmt(ratio(run, bare), 4)} |")
        out.append("")
        out.append("| Machine | Run: instructions per key at 100,000 / at 1,000 | Floor: the same |")
        out.append("|---|---:|---:|")
        for family, label in FAMILIES:
            def per_key(kind, keys):
                total = instructions.get((shipped, kind + family, keys))
                return total and total / keys
            out.append(f"| {label} | {fmt(ratio(per_key('Run', 100000), per_key('Run', 1000)), 3)} | "
                       f"{fmt(ratio(per_key('Floor', 100000), per_key('Floor', 1000)), 3)} |")

    if errors:
        out.append("")
        out.append("Benchmarks that failed their check:")
        out.extend("- " + e for e in errors)
    print("\n".join(out))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
