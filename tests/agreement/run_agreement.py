#!/usr/bin/env python3
"""Agreement tier: the preview tool predicts what the shipped DLL does.

    run_agreement.py [--win32 DIR] [--preview PATH] [-k TEXT] [--list] [--fresh]

For each machine below (the preview's sample machine and the machines of
the end-to-end cases' .reg files) and its Windows version and dialog
answers:

1. the preview tool runs the removal road on the export and writes the
   registry it predicts (--write-reg);
2. a fresh Wine prefix (WoW64, made by the first run in
   build/agreement/base-prefix and kept; --fresh makes it again), its
   registry put back as it was made before each machine, imports the same
   export with regedit, and jqhost.exe loads the shipped i686
   JQInst2k.dll under wine32 and runs the removal road with the same
   answers; regedit exports the registry afterwards;
3. the keys of the export still there afterwards must be the same in both,
   key for key, except where Wine is known to differ from Windows: each such
   difference is named in WINE_DIFFERENCES with its reason, and a named
   difference that does not occur fails too (it would no longer be known).

A version 5.00 export is imported as UTF-16LE: Wine's regedit widens the
hex(7) data of an ANSI version 5.00 file a second time (measured).

Prints one line per machine and "N passed, N failed"; exits 1 when any
machine fails, 2 when the run could not start. Dialogs need a display: the
runner restarts itself under `xvfb-run -a` when there is none.

Python 3 standard library only.
"""

import collections
import os
import re
import shutil
import subprocess
from pathlib import Path

from tests.wine import (ROOT, WINE32, Prefix, arguments, chosen, exit_with, require_files, require_loader,
                        under_display, windows_path)

TIMEOUT = 300
REGISTRY_FILES = ("system.reg", "user.reg", "userdef.reg")

# Each machine: its export, the Windows version jqhost.exe sees and the
# preview's --windows for it; both give the dialog answers ANSWERS.
Machine = collections.namedtuple("Machine", "name reg version windows")
MACHINES = [Machine(*fields) for fields in [
    ("sample machine, Windows XP", "tools/preview/sample/sample-xp.reg", "winxp", "xp"),
    ("sample machine, Windows 98", "tools/preview/sample/sample-xp.reg", "win98", "98"),
    ("joystick settings, Windows XP", "tests/e2e/reg/joystick_settings.reg", "winxp", "xp"),
    ("joystick settings, Windows 98", "tests/e2e/reg/joystick_settings.reg", "win98", "98"),
    ("9x enumeration tree, Windows 98", "tests/e2e/reg/win9x_enum.reg", "win98", "98"),
    ("9x HID device, Windows Me", "tests/e2e/reg/win9x_hid_device.reg", "winme", "me"),
]]
ANSWERS = "yes,ok"

# Differences Wine is known to make: in which machines, which keys (a
# pattern over the lower-case key), what Wine does with them that the
# preview does not ("deleted": Wine deletes a key the preview keeps;
# "kept": the other way round), and why. Each must occur in each machine it
# names, so that a difference that goes away is noticed.
WINE_DIFFERENCES = [
    {
        "machines": ["sample machine, Windows XP"],
        "what": "deleted",
        "pattern": r"\\control\\deviceclasses\\\{[^\\]+\}\\##\?#(usb|hid)#vid_2f7a&pid_[0-9a-f]{4}#[^\\]*(\\#)?$",
        "why": "Wine's SetupDiRemoveDevice also deletes the device-interface keys of the device it removes; "
               "the simulator leaves them on the NT family, where the library cleans them only on 9x (an open "
               "question which of the two Windows does: see the report)",
    },
    {
        "machines": ["sample machine, Windows XP"],
        "what": "deleted",
        "pattern": r"\\enum\\jovex$",
        "why": "Wine deletes an enumerator's key (Enum\\Jovex) when the removal of its last device leaves "
               "it empty; Windows keeps the enumerator keys",
    },
]


def known_difference(machine, key, what):
    return [d for d in WINE_DIFFERENCES
            if machine.name in d["machines"] and d["what"] == what and re.search(d["pattern"], key)]


def key_lines(path):
    """The keys of a .reg file (any of regedit's encodings), lower case, with
    every key above them."""
    data = Path(path).read_bytes()
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le", errors="replace")
    elif data.startswith(b"\xef\xbb\xbf"):
        text = data[3:].decode("utf-8", errors="replace")
    else:
        text = data.decode("cp1252", errors="replace")
    keys = set()
    for line in re.split(r"\r\n|\n|\r", text):
        line = line.strip()
        if not line.startswith("[") or not line.endswith("]") or line.startswith("[-"):
            continue
        parts = line[1:-1].split("\\")
        if parts[0].upper() == "HKLM":
            parts[0] = "HKEY_LOCAL_MACHINE"
        for i in range(1, len(parts) + 1):
            keys.add("\\".join(parts[:i]).lower())
    return keys


def as_utf16(data):
    """A version 5.00 ANSI export as UTF-16LE with its mark; others as they are."""
    if data.startswith(b"\xff\xfe") or not data.startswith(b"Windows Registry Editor Version 5.00"):
        return data
    return b"\xff\xfe" + data.decode("cp1252").encode("utf-16-le")


def run_machine(machine, base, work, win32, preview):
    """The keys each side keeps of the export's, and what went wrong."""
    name = re.sub(r"[^a-z0-9]+", "-", machine.name.lower()).strip("-")
    here = os.path.join(work, name)
    if os.path.exists(here):
        shutil.rmtree(here)
    os.makedirs(here)
    export = Path(ROOT, machine.reg).read_bytes()
    snapshot = os.path.join(here, "snapshot.reg")
    Path(snapshot).write_bytes(export)
    exported = key_lines(snapshot)

    # The preview, with every device attached: Wine's setup API lists absent
    # devices as present (it ignores DIGCF_PRESENT), so the DLL under Wine
    # sees them all.
    predicted = os.path.join(here, "preview-after.reg")
    listing = subprocess.run([preview, snapshot, "-q", "--json", "-", "--windows", machine.windows],
                             capture_output=True, timeout=TIMEOUT)
    instances = re.findall(r'"deviceInstances": \[([^\]]*)\]', listing.stdout.decode(errors="replace"))
    present = []
    for item in re.findall(r'"((?:[^"\\]|\\.)*)"', instances[0] if instances else ""):
        present += ["--present", item.replace("\\\\", "\\")]
    done = subprocess.run([preview, snapshot, "-q", "--answer", ANSWERS, "--write-reg", predicted, "--windows",
                           machine.windows] + present, capture_output=True, timeout=TIMEOUT)
    if done.returncode != 0:
        return None, None, ["preview failed: " + done.stderr.decode(errors="replace")]
    Path(here, "preview-report.txt").write_bytes(done.stdout)
    preview_keeps = key_lines(predicted) & exported

    # The DLL under Wine, in the prefix with its registry as it was made:
    # a prefix's registry is its three .reg files, read when the server
    # starts.
    wine = Prefix(base)
    wine.stop()
    for name in REGISTRY_FILES:
        shutil.copyfile(os.path.join(work, "fresh-" + name), os.path.join(base, name))
    problems = []
    try:
        imported = os.path.join(here, "import.reg")
        Path(imported).write_bytes(as_utf16(export))
        before_run = os.path.join(here, "wine-before.reg")
        steps = [
            (["regedit", "/S", windows_path(imported)], "regedit import"),
            (["reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\jqhost.exe", "/v", "Version", "/d",
              machine.version, "/f"], "setting the Windows version"),
            (["regedit", "/E", windows_path(before_run), "HKEY_LOCAL_MACHINE"], "regedit export before"),
        ]
        for args, what in steps:
            done = wine.run(args, timeout=TIMEOUT)
            if done.returncode != 0:
                return None, None, [what + " failed: " + done.stderr.decode(errors="replace")[-1000:]]
        wine_had = key_lines(before_run) & exported
        if wine_had != exported:
            problems.append("not imported by regedit: " + ", ".join(sorted(exported - wine_had)))
        host = wine.run([os.path.join(win32, "jqhost.exe"), "--dll", windows_path(os.path.join(win32, "JQInst2k.dll")),
                         "--answer", ANSWERS, "UninstInitialize", "UninstUnInitialize"], timeout=TIMEOUT)
        Path(here, "jqhost.txt").write_bytes(host.stdout + host.stderr)
        if host.returncode != 0:
            problems.append("jqhost.exe exited with %d: %s" % (host.returncode, host.stdout.decode(errors="replace")))
        after_run = os.path.join(here, "wine-after.reg")
        done = wine.run(["regedit", "/E", windows_path(after_run), "HKEY_LOCAL_MACHINE"], timeout=TIMEOUT)
        if done.returncode != 0:
            return None, None, ["regedit export after failed"]
        wine_keeps = key_lines(after_run) & exported
    finally:
        wine.stop()
    return preview_keeps, wine_keeps, problems


def compare(machine, preview_keeps, wine_keeps):
    """What disagrees, and how many keys each known difference explained."""
    failures = []
    explained = {id(d): 0 for d in WINE_DIFFERENCES if machine.name in d["machines"]}
    for what, keys in (("deleted", preview_keeps - wine_keeps), ("kept", wine_keeps - preview_keeps)):
        for key in sorted(keys):
            known = known_difference(machine, key, what)
            for d in known:
                explained[id(d)] += 1
            if not known:
                failures.append(("Wine deletes, the preview keeps: " if what == "deleted"
                                 else "Wine keeps, the preview deletes: ") + key)
    for d in WINE_DIFFERENCES:
        if machine.name in d["machines"] and explained[id(d)] == 0:
            failures.append("a known Wine difference did not occur: %s %s" % (d["what"], d["pattern"]))
    return failures, sum(explained.values())


def main(argv):
    parser = arguments(__doc__)
    parser.add_argument("--win32", default=os.path.join(ROOT, "build", "win32"),
                        help="the win32 build (JQInst2k.dll, jqhost.exe)")
    parser.add_argument("--preview", default=os.path.join(ROOT, "build", "native-release", "jqpreview"))
    parser.add_argument("--fresh", action="store_true", help="make the Wine prefix again, not the one of a run before")
    args, machines = chosen(parser, argv, MACHINES)
    under_display()
    require_loader(WINE32)  # jqhost.exe is a 32-bit program
    require_files([os.path.join(args.win32, "jqhost.exe"), os.path.join(args.win32, "JQInst2k.dll"), args.preview],
                  "build the win32 and native-release presets first")

    work = os.path.join(ROOT, "build", "agreement")
    base = os.path.join(work, "base-prefix")
    if args.fresh or not os.path.exists(os.path.join(base, "system.reg")):
        Prefix(base).create()
    Prefix(base).stop()
    for name in REGISTRY_FILES:
        shutil.copyfile(os.path.join(base, name), os.path.join(work, "fresh-" + name))

    passed = failed = compared = 0
    for machine in machines:
        exported = key_lines(os.path.join(ROOT, machine.reg))
        try:
            preview_keeps, wine_keeps, problems = run_machine(machine, base, work, args.win32, args.preview)
        except subprocess.TimeoutExpired as e:
            preview_keeps, wine_keeps, problems = None, None, ["timed out: %s" % e]
        differing = 0
        if preview_keeps is not None:
            failures, differing = compare(machine, preview_keeps, wine_keeps)
            problems += failures
            compared += len(exported)
        deleted = len(exported - (preview_keeps | wine_keeps)) if preview_keeps is not None else 0
        if problems:
            failed += 1
            print("FAIL %s" % machine.name)
            for p in problems:
                print("     " + p)
        else:
            passed += 1
            print("ok   %s: %d keys, %d deleted by both, %d kept by both, %d differ as Wine is known to" %
                  (machine.name, len(exported), deleted, len(exported) - deleted - differing, differing))
    print("%d passed, %d failed (%d keys compared)" % (passed, failed, compared))
    return 1 if failed else 0


if __name__ == "__main__":
    exit_with(main)
