#!/usr/bin/env python3
"""Hostile machines under Wine: the shipped DLL's cleaning, run through
RemoveUsbDevices by jqhost.exe on registries made to lead it outside the
vendor's keys (machines.py), must delete the vendor's keys and nothing else.

    run_hostile.py [--build DIR] [--work DIR] [-k TEXT] [--list]

BUILD holds JQInst2k.dll, jqhost.exe and regseed.exe, all of one machine
type: the win32 build runs under wine32, an x86_64 build under wine64. One
Wine prefix is made per run and copied afresh for every machine, so that no
machine sees another's keys. For each machine:

  1. the .reg text is imported and the regseed commands run;
  2. the whole of HKEY_LOCAL_MACHINE is read from the prefix's system.reg,
     which the Wine server writes when it ends;
  3. the host runs RemoveUsbDevices: it must exit 0 with the result 0 or 1;
  4. HKEY_LOCAL_MACHINE is read again: the keys that went must be exactly
     the machine's `gone` keys with everything below them, each the vendor's
     (a component of its path is a vendor id, or a vendor value names it),
     no value of any other key may have changed, and another program's keys
     (machines.KEPT, there before the run) are there still;
  5. a second run must change nothing more.

Prints one line per machine and a final "N passed, N failed"; exits 1 when
any machine fails, 2 when the run could not start. Where the loader cannot
run here the run is skipped with the reason ("SKIP every case: REASON",
"0 passed, 0 failed", exit 0).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

from tests.e2e.run_e2e import HOST_EXE, RESULT, below, run_each
from tests.hostile.machines import KEPT, MACHINES
from tests.wine import Prefix, cannot_start, loader_for, loader_problem, skip_all, windows_path

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

REGSEED_EXE = "regseed.exe"
VENDOR_COMPONENT = re.compile(r"VID_2F7A&PID_[0-9A-F]{4}", re.IGNORECASE)
KEY_LINE = re.compile(r"^\[(.*)\](?: \d+)?$")
# Wine's display driver writes the date of every process start into the
# display adapter's class key: Wine's own change, not the run's.
WINE_STAMPS = ("hkey_local_machine\\system\\currentcontrolset\\control\\class\\"
               "{4d36e968-e325-11ce-bfc1-08002be10318}\\", '"DriverDateData"=')


def read_machine_hive(prefix):
    """{key: [value lines]} of HKEY_LOCAL_MACHINE from the prefix's
    system.reg, keys as "HKEY_LOCAL_MACHINE\\A\\B" in lower case and the
    value lines as Wine writes them (the key's time stamps left out). Links
    are keys like the others: their SymbolicLinkValue is among their lines."""
    hive = {}
    current = None
    with open(os.path.join(prefix, "system.reg"), encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            line = line.rstrip("\n")
            match = KEY_LINE.match(line)
            if match:
                # Wine writes a separator as a doubled backslash; a name
                # cannot hold one.
                name = "\\".join(match.group(1).split("\\\\"))
                key = "hkey_local_machine\\" + name.lower()
                current = hive.setdefault(key, [])
            elif current is not None and line and not line.startswith("#time="):
                if not (key.startswith(WINE_STAMPS[0]) and line.startswith(WINE_STAMPS[1])):
                    current.append(line)
    # Wine writes a key only when it has values or no subkeys: the keys above
    # the ones it wrote are there too.
    for key in list(hive):
        while key.count("\\") > 1:
            key = key.rsplit("\\", 1)[0]
            hive.setdefault(key, [])
    return hive


def subtree(hive, key):
    key = key.lower()
    return {k for k in hive if k == key or k.startswith(key + "\\")}


def vendor_owned(key, named):
    """Whether the matching rule makes the key the vendor's: a component of
    its path is one of the vendor's ids, or it lies below a key the vendor's
    values name."""
    if VENDOR_COMPONENT.search(key):
        return True
    return any(below(key, n.lower()) for n in named)


def import_machine(wine, text):
    """Imports the .reg text as UTF-16 with its mark, as regedit writes
    names that are not in the ANSI code page."""
    body = "Windows Registry Editor Version 5.00\r\n" + text.replace("\n", "\r\n")
    wine.import_reg_text("\ufeff" + body, "utf-16-le")


class HostileRun:
    def __init__(self, build, work, loader):
        self.build = build
        self.work = work
        self.loader = loader
        self.template = os.path.join(work, "template")

    def prepare(self):
        return Prefix(self.template, self.loader).create()

    def fresh_wine(self):
        """A fresh copy of the template prefix. Its registry files are
        copied; everything else (1.3 GB, which an emulated machine copies
        slowly) is linked, since no run writes into those files: Wine saves
        its registry by writing a new file and renaming it."""
        prefix = os.path.join(self.work, "machine")
        if os.path.exists(prefix):
            shutil.rmtree(prefix)

        def copy(source, target):
            if source.endswith(".reg"):
                return shutil.copy2(source, target)
            try:
                return os.link(source, target)
            except OSError:  # another file system
                return shutil.copy2(source, target)

        shutil.copytree(self.template, prefix, symlinks=True, copy_function=copy)
        return Prefix(prefix, self.loader)

    def host(self, wine):
        dll = os.path.join(self.build, "JQInst2k.dll")
        done = wine.run([os.path.join(self.build, HOST_EXE), "--dll", windows_path(dll),
                         "RemoveUsbDevices"])
        wine.wait()  # the server ends and writes system.reg
        out = done.stdout.decode("latin-1")
        results = [int(m.group(2)) for m in map(RESULT.match, out.splitlines()) if m]
        return done.returncode, results, out

    def check(self, machine):
        problems = []
        wine = self.fresh_wine()
        wine.env.update(LANG=machine.lang, LC_ALL=machine.lang)
        acp = wine.run([os.path.join(self.build, REGSEED_EXE), "acp"]).stdout.decode().strip()
        if acp != "ACP %d" % machine.code_page:
            return ["Wine gave the code page %r, not %d" % (acp, machine.code_page)]
        wine.set_version(HOST_EXE, machine.version)
        import_machine(wine, machine.reg)
        if machine.seed:
            done = wine.run([os.path.join(self.build, REGSEED_EXE)] + machine.seed)
            if done.returncode != 0:
                return ["regseed failed: " + done.stderr.decode(errors="replace").strip()]
        wine.wait()
        before = read_machine_hive(wine.path)

        problems += ["the machine was not built: no key %s" % key for key in KEPT if key.lower() not in before]
        expected_gone = set()
        for key in machine.gone:
            found = subtree(before, key)
            if not found:
                problems.append("the machine was not built: no key %s" % key)
            expected_gone |= found

        for run in ("first", "second"):
            exit_code, results, out = self.host(wine)
            if exit_code != 0:
                problems.append("%s run: host exit code %d: %s" % (run, exit_code, out.strip()[-300:]))
            if len(results) != 1 or results[0] not in (0, 1):
                problems.append("%s run: RemoveUsbDevices answered %s, expected 0 or 1" % (run, results))
            after = read_machine_hive(wine.path)
            added = sorted(set(after) - set(before))
            gone = set(before) - set(after)
            changed = sorted(k for k in set(before) & set(after) if before[k] != after[k])
            if run == "first":
                for key in sorted(gone - expected_gone):
                    owner = "the vendor's" if vendor_owned(key, machine.named) else "NOT the vendor's"
                    problems.append("deleted, unexpectedly (%s): %s" % (owner, key))
                for key in sorted(expected_gone - gone):
                    problems.append("left, expected deleted: %s" % key)
                for key in sorted(gone):
                    if not vendor_owned(key, machine.named):
                        problems.append("deleted a key that is not the vendor's: %s" % key)
            elif gone:
                problems.append("the second run deleted more: %s" % sorted(gone)[:5])
            problems += ["%s run: another program's key is gone: %s" % (run, key) for key in KEPT
                         if key.lower() not in after]
            problems += ["%s run added a key: %s" % (run, key) for key in added[:5]]
            problems += ["%s run changed the values of %s" % (run, key) for key in changed[:5]]
            before = after
        shutil.rmtree(wine.path, ignore_errors=True)
        return problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"),
                        help="the build with JQInst2k.dll, jqhost.exe and regseed.exe")
    parser.add_argument("--work", default=None, help="the folder for the prefixes (default BUILD/wine-hostile)")
    parser.add_argument("-k", dest="pattern", default=None, help="run only machines whose name holds TEXT")
    parser.add_argument("--list", action="store_true", help="list the machines and stop")
    options = parser.parse_args(argv[1:])

    selected = [m for m in MACHINES if not options.pattern or options.pattern in m.name]
    if options.list:
        for machine in selected:
            print(machine.name)
        return 0

    build = os.path.abspath(options.build)
    for needed in (HOST_EXE, "JQInst2k.dll", REGSEED_EXE):
        if not os.path.exists(os.path.join(build, needed)):
            return cannot_start("missing %s in %s: build it first" % (needed, build))
    loader = loader_for(os.path.join(build, HOST_EXE))
    problem = loader_problem(loader)
    if problem:
        return skip_all(problem)

    run = HostileRun(build, os.path.abspath(options.work or os.path.join(build, "wine-hostile")), loader)
    try:
        print("Wine prefix made in %.1f s (%s)" % (run.prepare(), os.path.basename(loader)))
    except (RuntimeError, subprocess.TimeoutExpired) as e:
        return cannot_start("cannot create the Wine prefix: %s" % e)

    return run_each(selected, run.check)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
