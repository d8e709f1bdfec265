#!/usr/bin/env python3
"""The NSIS example installer, built with makensis and run under wine64.

    run_nsis_test.py [--build DIR] [--win32 DIR] [--prefix DIR] [--keep-prefix]

Builds examples/nsis/jqsetup.nsi as Debian's makensis does it on Linux:

- amd64-unicode with the 64-bit DLL of the win64 build (BUILD/JQInst2k.dll),
- the same with the diagnostic DLL (BUILD/diagnostic/JQInst2k.dll),
- x86-ansi with the shipped 32-bit DLL (WIN32/JQInst2k.dll), the installer a
  vendor ships; built only, since this machine runs no 32-bit program.

Then, in a fresh Wine prefix where both programs see Windows XP:

1. the installer, silent, through the installation road; the results it
   writes with /RESULTS= are checked one by one;
2. its uninstaller, silent, which removes the root device node through
   RemoveRootDevice;
3. the diagnostic installer into a folder whose name holds parentheses and
   an apostrophe: its trace lines (Wine's debugstr channel)
   show that the folder reached the DLL whole, as single-byte text.

What Wine answers differs from Windows in one place: its
UpdateDriverForPlugAndPlayDevicesA returns TRUE without reading the INF and
never asks for a restart. So CreateRootDevice answers 1 and NeedReboot 0
here whatever the INF says; the example installs its stand-in
JQDRV2K3.INF anyway, which Windows needs.

Prints one line per check and a final "N passed, N failed"; exits 1 when a
check fails, 2 when the run could not start. Python 3 standard library only.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

from tests.e2e.run_e2e import DEBUGSTR, unescape
from tests.installers import Checks, makensis, read_results
from tests.wine import WINE64, Prefix, loader_problem, skip_all, under_display

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

RUN_TIMEOUT = 180

INSTALLER = "jqsetup-amd64.exe"
DIAGNOSTIC_INSTALLER = "jqsetup-amd64-diagnostic.exe"
UNINSTALLER = "uninstall.exe"

# No blanks in these folders: Wine quotes a program argument that holds
# one, and NSIS takes /D= and _?= only unquoted.
INSTALL_DIR = "C:\\JQTest"
# An apostrophe and parentheses: either would end or split the text if the
# script wrote the folder inline into its System::Call lines.
ODD_DIR = "C:\\JQ(2)\\Pilotdeck's"
RESULTS_DIR = "C:\\jqresults"

INSTALL_RESULTS = [
    ("Loaded", "1"),
    ("InitModule", "1"),
    ("IsWin2k", "1"),          # 2000 and XP alike
    ("IsWinXp", "1"),          # the installer did run as XP
    ("IsAdmin", "1"),          # Wine's user is in the Administrators group
    ("SetTargetDir", "0"),
    ("CreateRootDevice", "1"),
    ("UpdateDevices", "0"),
    ("NeedReboot", "0"),       # Wine never asks for a restart
    ("Unloaded", "1"),         # the DLL was let go, so $PLUGINSDIR can be deleted
]
UNINSTALL_RESULTS = [
    ("Loaded", "1"),
    ("InitModule", "1"),
    ("RootDeviceCount", "1"),   # the node the installer created, seen by another process
    ("RemoveRootDevice", "1"),
    ("RootDeviceCount", "0"),
    ("Unloaded", "1"),
]


def trace_lines(stderr):
    lines = []
    for line in stderr.decode("latin-1").splitlines():
        match = DEBUGSTR.search(line)
        if match:
            text = unescape(match.group(1), True)
            lines.append(text[:-1] if text.endswith("\n") else text)
    return lines


def check_results(checks, run, path, expected):
    got = read_results(path)
    if not checks.check("%s: results file written" % run, got is not None, path):
        return
    for i, (name, want) in enumerate(expected):
        actual = got[i] if i < len(got) else None
        checks.check("%s: %s %s" % (run, name, want), actual == (name, want),
                     "got %s" % (" ".join(actual) if actual else "no line"))
    if len(got) > len(expected):
        checks.check("%s: no further calls" % run, False, "also %s" % (got[len(expected):],))


def run_installer(wine, exe, args, cwd):
    try:
        return wine.run([exe] + args, debug="-all,+debugstr", timeout=RUN_TIMEOUT, cwd=cwd)
    except subprocess.TimeoutExpired:
        return None


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win64"),
                        help="the win64 build directory (JQInst2k.dll, diagnostic/JQInst2k.dll)")
    parser.add_argument("--win32", default=os.path.join(ROOT, "build", "win32"),
                        help="the win32 build directory (the shipped JQInst2k.dll)")
    parser.add_argument("--prefix", default=None, help="the Wine prefix to create (default BUILD/wine-nsis)")
    parser.add_argument("--keep-prefix", action="store_true",
                        help="reuse an existing prefix instead of creating a fresh one")
    options = parser.parse_args(argv[1:])

    # Same as the end-to-end runner: every Wine program of the prefix must
    # see the same display, even though a silent installer shows nothing.
    under_display("tests.nsis.run_nsis_test", argv[1:])

    problem = loader_problem(WINE64)
    if problem:
        return skip_all(problem)
    build = os.path.abspath(options.build)
    out = os.path.join(build, "nsis")
    os.makedirs(out, exist_ok=True)
    missing = [tool for tool in ("makensis", WINE64) if not shutil.which(tool) and not os.path.exists(tool)]
    dll = os.path.join(build, "JQInst2k.dll")
    diagnostic_dll = os.path.join(build, "diagnostic", "JQInst2k.dll")
    missing += [path for path in (dll, diagnostic_dll) if not os.path.exists(path)]
    if missing:
        print("missing: %s (install nsis and wine64; build the win64 preset)" % ", ".join(missing))
        print("0 passed, 1 failed")
        return 2

    checks = Checks()
    started = time.time()
    installer = os.path.join(out, INSTALLER)
    diagnostic_installer = os.path.join(out, DIAGNOSTIC_INSTALLER)
    for path in (installer, diagnostic_installer):
        if os.path.exists(path):
            os.remove(path)
    problem = makensis("amd64-unicode", dll, installer)
    built = checks.check("makensis amd64-unicode with the 64-bit DLL", problem is None, problem or "")
    problem = makensis("amd64-unicode", diagnostic_dll, diagnostic_installer)
    built_diagnostic = checks.check("makensis amd64-unicode with the diagnostic DLL", problem is None,
                                    problem or "")
    shipped_dll = os.path.join(os.path.abspath(options.win32), "JQInst2k.dll")
    if os.path.exists(shipped_dll):
        problem = makensis("x86-ansi", shipped_dll, os.path.join(out, "jqsetup-x86.exe"))
        checks.check("makensis x86-ansi with the shipped 32-bit DLL", problem is None, problem or "")
    else:
        checks.skip("makensis x86-ansi with the shipped 32-bit DLL", "no %s (build the win32 preset)" % shipped_dll)
    print("installers built in %.1f s" % (time.time() - started))

    if not built:
        print("%d passed, %d failed" % (checks.passed, checks.failed))
        return 1

    wine = Prefix(os.path.abspath(options.prefix or os.path.join(build, "wine-nsis")), WINE64)
    try:
        print(wine.prepare(options.keep_prefix))
    except (RuntimeError, subprocess.TimeoutExpired) as e:
        print("cannot create the Wine prefix: %s" % e)
        print("%d passed, %d failed" % (checks.passed, checks.failed + 1))
        return 2

    wine.keep_running()
    try:
        for exe in (INSTALLER, DIAGNOSTIC_INSTALLER, UNINSTALLER):
            key = "HKCU\\Software\\Wine\\AppDefaults\\" + exe
            wine.reg("add", key, "/v", "Version", "/d", "winxp", "/f")
        results_dir = wine.unix_path(RESULTS_DIR)
        shutil.rmtree(results_dir, ignore_errors=True)
        os.makedirs(results_dir)
        for folder in (INSTALL_DIR, ODD_DIR):
            shutil.rmtree(wine.unix_path(folder), ignore_errors=True)

        # 1. The installation road.
        results = RESULTS_DIR + "\\install.txt"
        done = run_installer(wine, installer, ["/S", "/RESULTS=" + results, "/D=" + INSTALL_DIR], out)
        if checks.check("install: the silent installer ends with 0", done is not None and done.returncode == 0,
                        "timed out" if done is None else "exit code %d" % done.returncode):
            check_results(checks, "install", wine.unix_path(results), INSTALL_RESULTS)
            for name in ("JQDRV2K3.INF", UNINSTALLER):
                checks.check("install: %s in the installation folder" % name,
                             os.path.exists(wine.unix_path(INSTALL_DIR + "\\" + name)))
            lines = trace_lines(done.stderr)
            checks.check("install: the shipped DLL writes no trace line", not lines, lines[0] if lines else "")

        # 2. The silent removal. "_?=" keeps the uninstaller where it is, so
        # that Wine returns when it has finished rather than when it has
        # copied itself to the temporary folder.
        uninstaller = INSTALL_DIR + "\\" + UNINSTALLER
        if os.path.exists(wine.unix_path(uninstaller)):
            results = RESULTS_DIR + "\\uninstall.txt"
            done = run_installer(wine, uninstaller, ["/S", "/RESULTS=" + results, "_?=" + INSTALL_DIR], out)
            if checks.check("uninstall: the silent uninstaller ends with 0",
                            done is not None and done.returncode == 0,
                            "timed out" if done is None else "exit code %d" % done.returncode):
                check_results(checks, "uninstall", wine.unix_path(results), UNINSTALL_RESULTS)
                checks.check("uninstall: JQDRV2K3.INF removed",
                             not os.path.exists(wine.unix_path(INSTALL_DIR + "\\JQDRV2K3.INF")))
        else:
            checks.check("uninstall: uninstaller present", False, uninstaller)

        # 3. The folder as the DLL receives it.
        if built_diagnostic:
            results = RESULTS_DIR + "\\odd-folder.txt"
            done = run_installer(wine, diagnostic_installer, ["/S", "/RESULTS=" + results, "/D=" + ODD_DIR], out)
            if checks.check("odd folder: the diagnostic installer ends with 0",
                            done is not None and done.returncode == 0,
                            "timed out" if done is None else "exit code %d" % done.returncode):
                got = read_results(wine.unix_path(results)) or []
                checks.check("odd folder: SetTargetDir 0 and CreateRootDevice 1",
                             ("SetTargetDir", "0") in got and ("CreateRootDevice", "1") in got, str(got))
                lines = trace_lines(done.stderr)
                for want in ("INST2K: setTargetDir - folder:" + ODD_DIR,
                             "INST2K: createRootDevice - targetDir:" + ODD_DIR,
                             '  I2K: setPathString returning: "%s\\JQDRV2K3.INF"' % ODD_DIR):
                    checks.check("odd folder: trace line %r" % want, want in lines,
                                 "%d trace lines, none such" % len(lines))
    finally:
        wine.stop()

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
