#!/usr/bin/env python3
"""Mutation run over src/: one single-token change at a time, each built in a
scratch copy of the tree and run against the native suite.

    scripts/mutate.sh                     every mutant of the files in scope
    scripts/mutate.sh --sample 12 --seed 7   a random sample (for CI)
    scripts/mutate.sh --rerun-survivors   only the survivors of the last run
    scripts/mutate.sh --files 'src/cleaning/*.cpp' ...   other files
    scripts/mutate.sh --list              print the mutants, run nothing
    scripts/mutate.sh --check-equivalent  run only the listed mutants: a killed one is no equivalent

The working tree is never touched: the tree is copied to build/mutation/tree
and built once in build/mutation/native; each mutant rewrites one file of the
copy, so only that file is compiled again before the test binary is linked.
Results go to build/mutation/ (results.json, survivors.txt, report.txt).
"""

import argparse
import collections
import fnmatch
import glob
import hashlib
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time

import catalogue  # beside this file, which Python puts first on the path of a script

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
HERE = os.path.join(ROOT, "scripts", "mutation")
WORK = os.path.join(ROOT, "build", "mutation")
TREE = os.path.join(WORK, "tree")
BUILD = os.path.join(WORK, "native")
COPIED = ["CMakeLists.txt", "src", "sim", "tests/CMakeLists.txt", "tests/native", "tests/contract"]
TEST_BINARY = os.path.join(BUILD, "tests", "jq_native_tests")

# The suite in three stages, quickest first, so that most mutants are
# killed within a fraction of a second. The random-machine oracle runs with
# fewer machines than in the test run; its seed stays the fixed default.
SLOW = ["RandomMachinesTest.*", "FaultSweepTest.*"]
STAGES = [
    ("fast", "-" + ":".join(SLOW), {}),
    ("sweep", "FaultSweepTest.*", {}),
    ("random", "RandomMachinesTest.*", {"JQ_RANDOM_MACHINES": "400"}),
]


def log(*args):
    print(*args, flush=True)


def read_list(name):
    """Non-comment lines of a committed list file."""
    path = os.path.join(HERE, name)
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip() and not line.lstrip().startswith("#")]


class EquivalentList:
    """Entries "path: original => mutated # reason" match that change on any
    line with that text; "path:line: ..." only on that line (for a line whose
    text recurs where the same change would tell)."""

    def __init__(self, name="equivalent.txt"):
        self.reasons = {}
        for line in read_list(name):
            entry, _, reason = line.partition(" # ")
            path, _, rest = entry.partition(": ")
            self.reasons[f"{path}: {rest.strip()}"] = reason.strip()

    def reason(self, m):
        return self.reasons.get(m.where()) or self.reasons.get(m.key)

    def __contains__(self, m):
        return self.reason(m) is not None

    def stale(self, mutants):
        used = {m.key for m in mutants} | {m.where() for m in mutants}
        return sorted(k for k in self.reasons if k not in used)


def files_in_scope(patterns):
    excluded = [line.split()[0] for line in read_list("excluded.txt")]
    found = []
    for pattern in patterns:
        named = not any(c in pattern for c in "*?[")  # a file named outright is never left out
        for path in sorted(glob.glob(os.path.join(ROOT, pattern), recursive=True)):
            rel = os.path.relpath(path, ROOT)
            if os.path.isfile(path) and rel not in found \
                    and (named or not any(fnmatch.fnmatch(rel, e) for e in excluded)):
                found.append(rel)
    return found


def all_mutants(files):
    out = []
    for rel in files:
        with open(os.path.join(ROOT, rel), encoding="latin-1") as f:
            out.extend(catalogue.mutants_of(rel, f.read()))
    return out


# --- the scratch tree and its build ---

def sync_tree():
    """Copy what the native test build needs, writing only files that differ
    so that make sees no change where there is none."""
    wanted = set()
    for item in COPIED:
        src = os.path.join(ROOT, item)
        paths = [src] if os.path.isfile(src) else [
            os.path.join(d, f) for d, _, fs in os.walk(src) for f in fs]
        for path in paths:
            rel = os.path.relpath(path, ROOT)
            if "__pycache__" in rel:
                continue
            wanted.add(rel)
            with open(path, "rb") as f:
                data = f.read()
            if rel == "CMakeLists.txt":
                # a mutant that only draws a warning (an unused variable) still runs
                data = data.replace(b"-Werror", b"")
            write_if_changed(os.path.join(TREE, rel), data)
    for d, _, fs in os.walk(TREE):
        for f in fs:
            rel = os.path.relpath(os.path.join(d, f), TREE)
            if rel not in wanted:
                os.remove(os.path.join(d, f))


def write_if_changed(path, data):
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_lines(name, lines):
    """A file of build/mutation/, one line each."""
    with open(os.path.join(WORK, name), "w") as f:
        f.write("".join(line + "\n" for line in lines))


def write_file(path, data):
    """Write and make sure make sees it as newer than its object file, even
    within the file system's time granularity."""
    with open(path, "wb") as f:
        f.write(data)
    now = time.time()
    os.utime(path, (now + 2, now + 2))


# No optimisation and no debug information: quick to build, and a mutant in
# code that is not compiled leaves the objects byte for byte as they were.
# The stack protector turns a write past a local buffer into a crash.
FLAGS = "-O0 -g0 -fstack-protector-all"


def configure():
    subprocess.run(["cmake", "-S", TREE, "-B", BUILD, "-DCMAKE_BUILD_TYPE=",
                    "-DCMAKE_CXX_FLAGS=" + FLAGS, "-DCMAKE_C_FLAGS=" + FLAGS],
                   check=True, stdout=subprocess.DEVNULL)


def run(command, **options):
    """(whether the command succeeds, its output)"""
    r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **options)
    return r.returncode == 0, r.stdout.decode(errors="replace")


def build(target="jq_native_tests"):
    return run(["cmake", "--build", BUILD, "--target", target, "-j", "2"])


def build_unmutated(again=""):
    ok, out = build()
    if not ok:
        sys.exit(f"the unmutated tree does not build{again}:\n" + out[-3000:])


def build_product_and_link():
    """For a header mutant: compile the product (and the simulator) again, not
    the tests, and link the test binary from the tests' objects as they are.
    The tests keep the expectations they were compiled with, and a header that
    every test file includes does not cost a rebuild of the whole suite."""
    ok, out = build("jq_product")
    if not ok:
        return ok, out
    tests = os.path.join(BUILD, "tests")
    with open(os.path.join(tests, "CMakeFiles", "jq_native_tests.dir", "link.txt")) as f:
        return run(f.read().strip(), shell=True, cwd=tests)


def object_digest():
    """One digest over every object file of the product and the simulator:
    a mutant that leaves them all as they were was never compiled."""
    h = hashlib.sha256()
    for d in ("CMakeFiles/jq_product.dir", "sim"):
        for base, _, fs in sorted(os.walk(os.path.join(BUILD, d))):
            for f in sorted(fs):
                if f.endswith(".o"):
                    with open(os.path.join(base, f), "rb") as o:
                        h.update(f.encode() + hashlib.sha256(o.read()).digest())
    return h.hexdigest()


def run_suite(timeouts):
    """(killed, which stage killed it or None)."""
    for (name, flt, extra), limit in zip(STAGES, timeouts):
        env = dict(os.environ, **extra)
        try:
            r = subprocess.run([TEST_BINARY, "--gtest_filter=" + flt, "--gtest_fail_fast",
                                "--gtest_brief=1"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, env=env, timeout=limit, cwd=BUILD)
        except subprocess.TimeoutExpired:
            return True, name + " (timeout)"
        if r.returncode != 0:
            return True, name
    return False, None


def baseline():
    sync_tree()
    configure()
    build_unmutated()
    timeouts = []
    for name, flt, extra in STAGES:
        start = time.time()
        ok, out = run([TEST_BINARY, "--gtest_filter=" + flt, "--gtest_brief=1"],
                      env=dict(os.environ, **extra), cwd=BUILD)
        if not ok:
            sys.exit(f"the unmutated suite fails in stage {name}:\n" + out[-3000:])
        timeouts.append(max(5.0, 8 * (time.time() - start)))
    return timeouts


def run_mutants(mutants, timeouts, on_result):
    # A sample runs in batches, and a killed header mutant leaves its objects
    # behind when its batch ends: the unmutated tree is built again before its
    # objects are taken as the ones a mutant must change.
    build_unmutated(" again")
    digest = object_digest()
    current = None  # the file of the scratch tree that holds a mutant
    originals = {}
    try:
        for m in mutants:
            if current and current != m.path:
                write_file(os.path.join(TREE, current), originals[current])
            path = os.path.join(TREE, m.path)
            if m.path not in originals:
                with open(os.path.join(ROOT, m.path), "rb") as f:
                    originals[m.path] = f.read()
            write_file(path, "\n".join(m.apply(originals[m.path].decode("latin-1").split("\n"))).encode("latin-1"))
            current = m.path
            start = time.time()
            header = m.path.endswith(".h")
            ok, _ = build_product_and_link() if header else build()
            if not ok:
                status, stage = "unbuilt", None
            elif object_digest() == digest:
                status, stage = "uncompiled", None
            else:
                killed, stage = run_suite(timeouts)
                if not killed and header:
                    # An inline function that a test file also compiles may
                    # have been linked from the test's unchanged copy: a
                    # survivor is built again with the tests compiled too.
                    ok, _ = build()
                    killed, stage = run_suite(timeouts) if ok else (False, None)
                    # The tests' objects now hold the mutant: build them again
                    # from the original before the next header mutant links them.
                    write_file(path, originals[m.path])
                    build()
                status = "killed" if killed else "survived"
            on_result(m, status, stage, time.time() - start)
    finally:
        if current:
            write_file(os.path.join(TREE, current), originals[current])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--files", nargs="+", default=["src/**/*.cpp", "src/**/*.h"],
                    help="files or globs relative to the repository; scripts/mutation/excluded.txt "
                         "applies to what a glob matches, not to a file named outright")
    ap.add_argument("--sample", type=int, help="run this many mutants drawn at random")
    ap.add_argument("--seed", type=int, default=1, help="seed of the sample")
    ap.add_argument("--rerun-survivors", action="store_true",
                    help="run only the mutants that survived the last run, and update its results")
    ap.add_argument("--list", action="store_true", help="print the mutants and stop")
    ap.add_argument("--check-equivalent", action="store_true",
                    help="run only the mutants the equivalent and unspecified lists name; one that "
                         "a test kills is on the list wrongly (nothing is merged into the results)")
    ap.add_argument("--fresh", action="store_true",
                    help="forget the results of files outside this run's scope")
    args = ap.parse_args()

    # A run stopped by a time limit (timeout sends SIGTERM) keeps what it has
    # measured, as one stopped by Ctrl-C does.
    def stop(signum, frame):
        raise KeyboardInterrupt()
    signal.signal(signal.SIGTERM, stop)

    files = files_in_scope(args.files)
    mutants = all_mutants(files)
    equivalent = EquivalentList()
    # Changes that nothing the product must do decides (the dialog's
    # geometry): neither run nor scored, and counted apart from the equivalent.
    unspecified = EquivalentList("unpinned.txt")
    listed = lambda m: m in equivalent or m in unspecified  # noqa: E731
    os.makedirs(WORK, exist_ok=True)
    results_path = os.path.join(WORK, "results.json")

    if args.list:
        for m in mutants:
            log(m.where() + ("   [equivalent]" if m in equivalent else
                             "   [unspecified]" if m in unspecified else ""))
        log(f"{len(mutants)} mutants in {len(files)} files")
        return 0

    stale = equivalent.stale(mutants) + unspecified.stale(mutants)
    stale_here = [e for e in stale if e.split(":")[0] in files]  # the lists name other files too
    previous = {}
    if args.rerun_survivors:
        with open(results_path) as f:
            previous = {r["where"]: r for r in json.load(f)["mutants"]}
        todo = [m for m in mutants if not listed(m)
                and previous.get(m.where(), {}).get("status", "survived") in ("survived", "equivalent")]
    elif args.check_equivalent:
        todo = [m for m in mutants if listed(m)]
    else:
        todo = [m for m in mutants if not listed(m)]
    if args.sample is not None:
        # Drawn in order from one shuffle: a mutant that does not build or
        # changes no object is replaced by the next one drawn.
        todo = random.Random(args.seed).sample(todo, len(todo))

    started = time.time()
    on_list = sum(m in equivalent for m in mutants)
    on_unspecified = sum(m in unspecified for m in mutants)
    log(f"mutation: {len(mutants)} mutants in {len(files)} files, {on_list} on the equivalent list, "
        f"{on_unspecified} unspecified, {len(todo)} to run; building the scratch tree")
    timeouts = baseline()
    log(f"mutation: baseline built and passing ({time.time() - started:.0f} s); "
        f"stage time limits {', '.join('%.0f s' % t for t in timeouts)}")

    records = dict(previous)
    counted = seen = 0

    def record(m, status, stage, **more):
        records[m.where()] = {"where": m.where(), "path": m.path, "line": m.line, "kind": m.kind,
                              "status": status, "stage": stage, **more}

    def on_result(m, status, stage, took):
        nonlocal counted, seen
        record(m, status, stage, seconds=round(took, 2))
        counted += status in ("killed", "survived")
        seen += 1
        mark = {"killed": "killed by " + str(stage), "survived": "SURVIVED",
                "unbuilt": "does not build", "uncompiled": "not compiled (objects unchanged)"}[status]
        log(f"[{seen}/{len(todo)}] {m.where()}  -> {mark} ({took:.1f} s)")

    # A header mutant rebuilds every file that includes it, and so does putting
    # the header back: one file's mutants run together, the headers last.
    try:
        if args.sample is None:
            order = {p: i for i, p in enumerate(files)}
            run_mutants(sorted(todo, key=lambda m: (m.path.endswith(".h"), order[m.path], m.line)),
                        timeouts, on_result)
        else:
            # A batch is as long as the sample still needs, so the sample is
            # complete at the earliest at the end of a batch.
            drawn = 0
            while counted < args.sample and drawn < len(todo):
                batch = todo[drawn:drawn + args.sample - counted]
                drawn += len(batch)
                run_mutants(sorted(batch, key=lambda m: (m.path.endswith(".h"), m.path, m.line)),
                            timeouts, on_result)
    except KeyboardInterrupt:
        # What ran is kept: a later --rerun-survivors runs the rest.
        log("mutation: interrupted; the results so far are kept")
        for m in todo:
            if m.where() not in records:
                record(m, "survived", "not run", seconds=0)

    if args.check_equivalent:
        wrong = [r["where"] for r in records.values() if r["status"] == "killed"]
        held = sum(r["status"] == "survived" for r in records.values())
        write_lines("equivalent-check.txt", wrong)
        for w in wrong:
            log("killed, so not equivalent: " + w)
        for entry in stale_here:
            log("entry matching no mutant: " + entry)
        log(f"{held} listed mutants survive, {len(wrong)} are killed, {len(stale_here)} entries "
            f"match nothing ({time.time() - started:.0f} s)")
        return 1 if wrong or stale_here else 0

    if args.sample is not None:
        ran = [r for r in records.values() if r["status"] in ("killed", "survived")]
        survivors = [r["where"] for r in ran if r["status"] == "survived"]
        for s in survivors:
            log("survivor: " + s)
        failed = len(survivors)
        # An entry that matches nothing any more (its line moved, or the code
        # changed) no longer stands for what its reason says: a sample over the
        # whole scope fails on it, so the list is mended with the code.
        if args.files == ap.get_default("files"):
            for entry in stale:
                log("equivalent-list entry matching no mutant: " + entry)
            failed += len(stale)
        log(f"mutation sample of {len(ran)} (seed {args.seed}) in {time.time() - started:.0f} s")
        log(f"{len(ran) - len(survivors)} passed, {failed} failed")
        return 1 if failed else 0

    # the full run (or a rerun merged into it)
    for m in filter(listed, mutants):
        status, which = ("equivalent", equivalent) if m in equivalent else ("unspecified", unspecified)
        record(m, status, None, reason=which.reason(m))
    # The results of files outside this run's scope stay as the last run that
    # covered them left them, so that runs over parts of src/ add up.
    others = []
    if os.path.exists(results_path) and not args.fresh:
        with open(results_path) as f:
            others = [r for r in json.load(f)["mutants"] if r["path"] not in files]
    records.update((r["where"], r) for r in others)
    live = {m.where() for m in mutants} | {r["where"] for r in others}
    rows = [records[w] for w in sorted(records, key=lambda w: (w.split(":")[0], int(w.split(":")[1])))
            if w in live]
    with open(results_path, "w") as f:
        json.dump({"files": sorted(set(files) | {r["path"] for r in others}), "mutants": rows}, f, indent=1)
    survivors = [r["where"] for r in rows if r["status"] == "survived"]
    write_lines("survivors.txt", survivors)

    per = collections.defaultdict(collections.Counter)
    for r in rows:
        per[r["path"]][r["status"]] += 1
    tot = sum(per.values(), collections.Counter())

    def row(name, c):
        return (f"{name:42} {sum(c.values()):5} {c['killed']:6} {c['survived']:5} "
                f"{c['equivalent']:6} {c['unspecified']:7} {c['unbuilt']:7} {c['uncompiled']:7}")
    report = [f"{'file':42} {'made':>5} {'killed':>6} {'surv.':>5} {'equiv.':>6} {'unspec.':>7} "
              f"{'unbuilt':>7} {'uncomp.':>7}"]
    report += [row(path, per[path]) for path in sorted(per)] + [row("total", tot)]
    scored = tot["killed"] + tot["survived"]
    score = 100.0 * tot["killed"] / scored if scored else 100.0
    report.append(f"score: killed / (killed + survived) = {tot['killed']} / {scored} ({score:.1f}%); "
                  f"beside it {tot['equivalent']} equivalent and {tot['unspecified']} unspecified, not run; "
                  f"{tot['unbuilt']} do not build and {tot['uncompiled']} change no object file "
                  "(none of these is counted)")
    if stale_here:
        report.append("list entries that match no mutant any more: " + "; ".join(stale_here))
    report.append(f"survivors: {os.path.relpath(os.path.join(WORK, 'survivors.txt'), ROOT)}; "
                  f"time {time.time() - started:.0f} s")
    write_lines("report.txt", report)
    log("\n".join(report))
    for s in survivors:
        log("survivor: " + s)
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
