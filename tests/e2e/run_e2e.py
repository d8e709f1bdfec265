#!/usr/bin/env python3
"""End-to-end tests: the shipped i686 DLL, loaded by jqhost.exe under wine32.

    run_e2e.py [--build DIR] [-k TEXT] [--list]

BUILD is the win32 build (the shipped DLL, its diagnostic twin, the 32-bit
jqhost.exe and devreg.exe); the programs run under the Wine loader that fits
their machine type (wine32 for i686, wine64 for an x86_64 build), in a WoW64
prefix. One fresh Wine prefix per run (BUILD/wine-e2e, about ten seconds to
create), shared by every case; a case that changes the registry removes what
it made (its `cleanup` keys are deleted before and after it). Each case sets the Windows version
jqhost.exe sees, optionally imports .reg files, runs the host with its calls
and dialog answers, and checks the results, the dialogs, the trace lines
(OutputDebugStringA texts, read from Wine's debugstr channel) and registry
keys afterwards. The cases live in cases.py.

Cases about device nodes register them first with devreg.exe (through the
setup API, as Windows' enumerators would) and list them afterwards with it;
the nodes they name are removed before and after the case, like its keys.

Prints one line per case and a final "N passed, N failed"; exits 1 when any
case fails (2 when the run could not start). Dialogs need a display, so the
runner restarts itself under `xvfb-run -a` when there is none.

Python 3 standard library only.
"""

import fnmatch
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from tests.e2e.cases import CASES
from tests.wine import (Prefix, arguments, chosen, debugstr_lines, exit_with, full_key, loader_for, require_files,
                        require_loader, under_display, unescape, windows_path)

HOST_EXE = "jqhost.exe"
DEVREG_EXE = "devreg.exe"
CASE_TIMEOUT = 120

# Wine's name: what GetVersionExA then reports
VERSIONS = {"win98": "4.10", "winme": "4.90", "win2k": "5.0", "winxp": "5.1", "win7": "6.1"}


def devreg(wine, build, command, operands):
    """Runs devreg.exe once, `command` given for each operand (a string, or
    a tuple of strings for "add"); the DEVICE lines it prints."""
    if not operands:
        return []
    args = []
    for operand in operands:
        args += [command] + ([operand] if isinstance(operand, str) else list(operand))
    done = wine.run([os.path.join(build, DEVREG_EXE)] + args, timeout=60)
    if done.returncode != 0:
        raise RuntimeError("devreg %s failed: %s" % (" ".join(args), done.stderr.decode(errors="replace")))
    return [line[len("DEVICE "):] for line in done.stdout.decode(errors="replace").splitlines()
            if line.startswith("DEVICE ")]


def reg_file_contents(path):
    """[(key, [value names])] of the sections a REGEDIT4 file writes, keys as
    full_key() writes them, value names lower-cased and the default value
    "(default)", as `reg query` names it. Sections that delete are left out."""
    sections = []
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if line.startswith("[") and line.endswith("]"):
                sections.append(None if line.startswith("[-") else (full_key(line[1:-1]), []))
            elif sections and sections[-1] is not None:
                if line.startswith("@="):
                    sections[-1][1].append("(default)")
                else:
                    match = re.match(r'"((?:[^"\\]|\\.)*)"=', line)
                    if match:
                        sections[-1][1].append(unescape(match.group(1), False).lower())
    return [section for section in sections if section is not None]


def below(key, ancestor):
    return key == ancestor or key.startswith(ancestor + "\\")


class Snapshot:
    """The registry after a run, of the keys given and everything below them.
    A key is looked up in the tree of its parent, read shallowest first, so
    that a tree read once answers for every key below it: each `reg query`
    is a Wine process, and few large reads are much faster than one per key."""

    def __init__(self, wine, keys):
        read = []
        self.found = {}  # full_key(key) -> {value name: data}
        for key in sorted((full_key(k) for k in keys), key=lambda k: k.count("\\")):
            if not any(below(key, root) for root in read):
                parent = key.rsplit("\\", 1)[0] if "\\" in key else key
                read.append(parent)
                self.found.update(wine.tree(parent))

    def has_key(self, key):
        return full_key(key) in self.found

    def value(self, key, name):
        """The data of a value as `reg query` shows it, or None."""
        return self.found.get(full_key(key), {}).get(name.lower())


# --- what the host and Wine write ---------------------------------------------------

RESULT = re.compile(r"^(\S+) -> (-?\d+)$")
DIALOG_FIELD = re.compile(r'(\w+)=(?:"((?:[^"\\]|\\.)*)"|(\S+))')


class Outcome:
    def __init__(self, exit_code, stdout, stderr):
        self.exit_code = exit_code
        self.results, self.dialogs, self.other, self.trace = [], [], [], []
        self.truncated = set()  # indexes of trace lines Wine cut short
        for line in stdout.splitlines():
            match = RESULT.match(line)
            if match:
                self.results.append((match.group(1), int(match.group(2))))
            elif line.startswith("DIALOG "):
                fields = {}
                for m in DIALOG_FIELD.finditer(line[len("DIALOG "):]):
                    fields[m.group(1)] = unescape(m.group(2), False) if m.group(2) is not None else m.group(3)
                self.dialogs.append(fields)
            elif line:
                self.other.append(line)
        for text, cut_short in debugstr_lines(stderr):
            if cut_short:
                self.truncated.add(len(self.trace))
            self.trace.append(text)


# --- cases ------------------------------------------------------------------------------

def in_order(expected, actual):
    position = 0
    for line in expected:
        while position < len(actual) and actual[position] != line:
            position += 1
        if position == len(actual):
            return line
        position += 1
    return None


def first_difference(expected, actual, truncated):
    for i in range(max(len(expected), len(actual))):
        if i >= len(expected):
            return "unexpected line %d: %r" % (i + 1, actual[i])
        if i >= len(actual):
            return "missing line %d: %r" % (i + 1, expected[i])
        same = expected[i].startswith(actual[i]) if i in truncated else expected[i] == actual[i]
        if not same:
            return "line %d: expected %r, got %r" % (i + 1, expected[i], actual[i])
    return None


def device_ids(case):
    """The enumerators and device ids whose nodes the case removes."""
    unique = {}  # lower case: the first spelling
    for device_id in [instance.rsplit("\\", 1)[0] for instance, _, _ in case.devices] + case.device_cleanup:
        unique.setdefault(device_id.lower(), device_id)
    return list(unique.values())


def check_devices(case, wine, build):
    problems = []
    if not case.devices_after:
        return problems
    every = devreg(wine, build, "list", list(case.devices_after))
    for enumerator, patterns in case.devices_after.items():
        prefix = enumerator.lower() + "\\"
        listed = sorted(set(d for d in every if d.lower().startswith(prefix)))
        unmatched = list(listed)
        for pattern in patterns:
            found = [d for d in unmatched if fnmatch.fnmatchcase(d.lower(), pattern.lower())]
            if found:
                unmatched.remove(found[0])
            else:
                problems.append("no device node %s under %s (listed: %s)" % (pattern, enumerator, listed))
        for device in unmatched:
            problems.append("device node left under %s: %s" % (enumerator, device))
    return problems


def seeded_keys(case):
    """The keys and value names the seed files write that the case does not
    expect gone: [(key, [value names])]."""
    gone_keys = [full_key(key) for key in case.absent]
    gone_values = [(full_key(key), name.lower()) for (key, name), want in case.values.items() if want is None]
    seeded = []
    for reg_file in case.seed:
        for key, names in reg_file_contents(os.path.join(case.directory, reg_file)):
            if not any(below(key, gone) for gone in gone_keys):
                seeded.append((key, [name for name in names if (key, name) not in gone_values]))
    return seeded


def check_seed_kept(seeded, after):
    problems = []
    for key, names in seeded:
        if not after.has_key(key):
            problems.append("seeded key missing afterwards: " + key)
            continue
        for name in names:
            if after.value(key, name) is None:
                problems.append("seeded value missing afterwards: %s\\%s" % (key, name))
    return problems


def run_case(case, wine, build):
    inf_dir = None
    try:
        if case.inf:
            inf_dir = tempfile.mkdtemp(prefix="jq inf ")  # a blank in the folder, as in "Program Files"
            for name in case.inf:
                shutil.copy(os.path.join(case.directory, "inf", name), inf_dir)
        return run_prepared_case(case, wine, build, windows_path(inf_dir) if inf_dir else None)
    finally:
        devreg(wine, build, "remove", device_ids(case))
        wine.delete_keys(case.cleanup)
        if inf_dir:
            shutil.rmtree(inf_dir, ignore_errors=True)


def run_prepared_case(case, wine, build, inf_dir):
    problems = []
    wine.set_version(HOST_EXE, case.version)
    wine.delete_keys(case.cleanup)
    for reg_file in case.seed:
        wine.import_reg(os.path.join(case.directory, reg_file))
    devreg(wine, build, "remove", device_ids(case))
    devreg(wine, build, "add", case.devices)

    def with_inf_dir(text):
        return text.replace("{infdir}", inf_dir) if inf_dir else text

    dll = os.path.join(build, "diagnostic" if case.diagnostic else "", "JQInst2k.dll")
    args = [os.path.join(build, HOST_EXE), "--os", "--dll", windows_path(dll)]
    if case.pointer:
        args.append("--pointer")
    if case.answers:
        args += ["--answer", ",".join(case.answers)]
    args += [with_inf_dir(call) for call in case.calls]
    done = wine.finish(args, CASE_TIMEOUT, debug="-all,+debugstr")
    if done is None:
        return ["timed out after %d s (an unanswered dialog?)" % CASE_TIMEOUT]
    outcome = Outcome(done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1"))

    if outcome.exit_code != case.exit_code:
        problems.append("host exit code %d, expected %d (%s)" % (
            outcome.exit_code, case.exit_code, " / ".join(outcome.other)))
    os_line = "OS %s " % VERSIONS[case.version]
    if not any(line.startswith(os_line) for line in outcome.other):
        problems.append("Wine did not report Windows %s: %s" % (VERSIONS[case.version], outcome.other[:1]))
    changed = [line for line in outcome.other if line.startswith("POINTER CHANGED")]
    if changed:
        problems.append("the second argument was written: " + "; ".join(changed))

    names = [call.split("=", 1)[0] for call in case.calls]
    if [name for name, _ in outcome.results] != names:
        problems.append("calls made %s, expected %s" % ([n for n, _ in outcome.results], names))
    elif case.expect is not None:
        if len(case.expect) != len(case.calls):
            problems.append("the case gives %d results for %d calls" % (len(case.expect), len(case.calls)))
        for (name, got), want in zip(outcome.results, case.expect):
            if want is not None and got != want:
                problems.append("%s -> %d, expected %d" % (name, got, want))

    if case.dialogs is not None:
        if len(outcome.dialogs) != len(case.dialogs):
            problems.append("%d dialogs, expected %d" % (len(outcome.dialogs), len(case.dialogs)))
        for i, (want, got) in enumerate(zip(case.dialogs, outcome.dialogs)):
            for field, value in want.items():
                if got.get(field) != value:
                    problems.append("dialog %d %s: %r, expected %r" % (i + 1, field, got.get(field), value))
    elif outcome.dialogs:
        problems.append("unexpected dialog: %r" % outcome.dialogs[0])

    expected_trace = [with_inf_dir(line) for line in case.trace] if case.trace is not None else None
    if not case.diagnostic and outcome.trace:
        problems.append("the shipped build wrote a trace line: %r" % outcome.trace[0])
    elif case.trace_mode == "exact":
        difference = first_difference(expected_trace, outcome.trace, outcome.truncated)
        if difference:
            problems.append("trace " + difference)
    elif case.trace_mode == "contains":
        missing = in_order(expected_trace, outcome.trace)
        if missing is not None:
            problems.append("trace line missing or out of order: %r" % missing)

    seeded = seeded_keys(case) if case.keep_seed else []
    after = Snapshot(wine, case.present + case.absent + [key for key, _ in case.values] + [key for key, _ in seeded])
    for key in case.present:
        if not after.has_key(key):
            problems.append("key missing afterwards: " + key)
    for key in case.absent:
        if after.has_key(key):
            problems.append("key still present afterwards: " + key)
    for (key, name), want in case.values.items():
        got = after.value(key, name)
        if got != want:
            problems.append("value %s\\%s is %r, expected %r" % (key, name, got, want))
    problems += check_seed_kept(seeded, after)
    problems += check_devices(case, wine, build)
    return problems


def main(argv):
    parser = arguments(__doc__, "the win32 build directory (jqhost.exe, devreg.exe, JQInst2k.dll, diagnostic/)")
    options, selected = chosen(parser, argv, CASES)
    under_display()

    build = os.path.abspath(options.build)
    needed = [HOST_EXE, "JQInst2k.dll", os.path.join("diagnostic", "JQInst2k.dll")]
    if any(case.devices or case.device_cleanup or case.devices_after for case in selected):
        needed.append(DEVREG_EXE)
    require_files([os.path.join(build, name) for name in needed], "build the win32 preset first")
    loader = loader_for(os.path.join(build, HOST_EXE))
    require_loader(loader)

    wine = Prefix(os.path.join(build, "wine-e2e"), loader)
    print(wine.create())
    wine.keep_running()
    try:
        return run_each(selected, lambda case: run_case(case, wine, build))
    finally:
        wine.stop()  # before the display goes away, so Wine does not complain


def run_each(items, check):
    """Runs check(item) for each item (each has a name), which gives the
    item's problems; prints a PASS or FAIL line per item and the closing
    "N passed, N failed"; returns the exit code, 1 when any failed."""
    passed = failed = 0
    for item in items:
        started = time.time()
        try:
            problems = check(item)
        except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
            problems = ["could not run: %s" % e]
        took = time.time() - started
        if problems:
            failed += 1
            print("FAIL %s (%.1f s)" % (item.name, took))
            for problem in problems:
                print("     " + problem)
        else:
            passed += 1
            print("PASS %s (%.1f s)" % (item.name, took))
        sys.stdout.flush()
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    exit_with(main)
