#!/usr/bin/env python3
"""Hostile machines under Wine: the shipped DLL's cleaning, run through
RemoveUsbDevices by jqhost.exe on registries made to lead it outside the
vendor's keys (machines.py), must delete the vendor's keys and nothing else.

    run_hostile.py [--build DIR] [-k TEXT] [--list]

BUILD holds JQInst2k.dll, jqhost.exe and regseed.exe, all of one machine
type: the win32 build runs under wine32, an x86_64 build under wine64. One
Wine prefix (in BUILD/wine-hostile) is made per run and copied afresh for
every machine, so that no machine sees another's keys. For each machine:

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

import os
import re
import shutil

from tests.e2e.run_e2e import HOST_EXE, RESULT, below, run_each
from tests.hostile.machines import KEPT, MACHINES
from tests.wine import (Prefix, arguments, chosen, exit_with, loader_for, require_files, require_loader,
                        windows_path)

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
    return {k for k in hive if below(k, key.lower())}


def vendor_owned(key, named):
    """Whether the matching rule makes the key the vendor's: a component of
    its path is one of the vendor's ids, or it lies below a key the vendor's
    values name."""
    return bool(VENDOR_COMPONENT.search(key)) or any(below(key, n.lower()) for n in named)


def fresh_wine(template, loader):
    """A fresh copy of the template prefix, beside it. Its registry files are
    copied; everything else (1.3 GB, which an emulated machine copies
    slowly) is linked, since no run writes into those files: Wine saves
    its registry by writing a new file and renaming it."""
    prefix = os.path.join(os.path.dirname(template), "machine")
    if os.path.exists(prefix):
        shutil.rmtree(prefix)

    def copy(source, target):
        if not source.endswith(".reg"):
            try:
                return os.link(source, target)
            except OSError:  # another file system
                pass
        return shutil.copy2(source, target)

    shutil.copytree(template, prefix, symlinks=True, copy_function=copy)
    return Prefix(prefix, loader)


def host(wine, build):
    done = wine.run([os.path.join(build, HOST_EXE), "--dll", windows_path(os.path.join(build, "JQInst2k.dll")),
                     "RemoveUsbDevices"])
    wine.wait()  # the server ends and writes system.reg
    out = done.stdout.decode("latin-1")
    results = [int(m.group(2)) for m in map(RESULT.match, out.splitlines()) if m]
    return done.returncode, results, out


def check(machine, build, template, loader):
    wine = fresh_wine(template, loader)
    wine.env.update(LANG=machine.lang, LC_ALL=machine.lang)
    acp = wine.run([os.path.join(build, REGSEED_EXE), "acp"]).stdout.decode().strip()
    if acp != "ACP %d" % machine.code_page:
        return ["Wine gave the code page %r, not %d" % (acp, machine.code_page)]
    wine.set_version(HOST_EXE, machine.version)
    # UTF-16 with its mark, as regedit writes names that are not in the ANSI code page.
    wine.import_reg_text("\ufeffWindows Registry Editor Version 5.00\r\n" + machine.reg.replace("\n", "\r\n"),
                         "utf-16-le")
    if machine.seed:
        done = wine.run([os.path.join(build, REGSEED_EXE)] + machine.seed)
        if done.returncode != 0:
            return ["regseed failed: " + done.stderr.decode(errors="replace").strip()]
    wine.wait()
    before = read_machine_hive(wine.path)

    problems = ["the machine was not built: no key %s" % key for key in KEPT if key.lower() not in before]
    expected_gone = set()
    for key in machine.gone:
        found = subtree(before, key)
        if not found:
            problems.append("the machine was not built: no key %s" % key)
        expected_gone |= found

    for run in ("first", "second"):
        exit_code, results, out = host(wine, build)
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
    parser = arguments(__doc__, "the build with JQInst2k.dll, jqhost.exe and regseed.exe")
    options, selected = chosen(parser, argv, MACHINES)
    build = os.path.abspath(options.build)
    require_files([os.path.join(build, name) for name in (HOST_EXE, "JQInst2k.dll", REGSEED_EXE)], "build it first")
    loader = loader_for(os.path.join(build, HOST_EXE))
    require_loader(loader)

    template = os.path.join(build, "wine-hostile", "template")
    print("%s (%s)" % (Prefix(template, loader).create(), os.path.basename(loader)))
    return run_each(selected, lambda machine: check(machine, build, template, loader))


if __name__ == "__main__":
    exit_with(main)
