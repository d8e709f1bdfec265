#!/usr/bin/env python3
"""The x86-ansi NSIS installer with the shipped DLL, under wine32, as Windows XP.

    run_nsis_x86.py [--build DIR] [--prefix DIR]

DIR is the win32 build directory: JQInst2k.dll (the shipped DLL) and
jqdialogs.exe. Builds examples/nsis/jqsetup.nsi with makensis for x86-ansi,
makes a fresh WoW64 prefix (BUILD/wine-nsis-x86), seeds the registry with
joystick settings and OEM entries of the vendor's devices and of another
vendor's, and then, with both programs seeing Windows XP:

1. the installer runs silently through the installation road; every result
   it writes with /RESULTS= is checked, and the root device in the registry;
2. the uninstaller runs interactively three times, its dialogs on screen and
   answered by jqdialogs.exe, a separate program that finds each window by
   caption and text. The DLL's unplug question is answered with Escape, the
   close box and No: each time the uninstaller must stop on -1 with nothing
   removed (files, root device, registry);
3. the same installer built with the diagnostic DLL, into a second folder:
   its uninstaller's trace lines show what the question returned to the
   DLL, No (7) for Escape and neither (2) for the close box;
4. jqdialogs.exe waiting for a window that never comes gives up;
5. the shipped uninstaller, the question answered Yes: the uninstaller
   goes on through its own pages, UninstUnInitialize cleans the vendor's
   keys, removes the root device and shows its closing message (OK), and
   the other vendor's keys stay.

Every uninstaller runs with "_?=": NSIS then runs the uninstaller in place
instead of copying it to the temporary folder and returning at once, so the
process the test waits for is the one that calls the DLL, and its exit code
(2 when it stopped, 0 when it finished) is the uninstaller's. In place, it
cannot delete its own file: uninstall.exe is the one file left.

Under Wine the user is an administrator, so the DLL's administrator question
never comes; the end-to-end tier answers it with jqhost.exe.

Prints one line per check and a final "N passed, N failed"; exits 1 when a
check fails, 2 when the run could not start. Python 3 standard library only.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

from tests.installers import (SEEDED_KEYS, Checks, makensis, read_results, cleaned_keys, kept_keys, root_devices, seed_registry,
                              trace_lines)
from tests.wine import WINE32, Prefix, loader_problem, skip_all, under_display

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


INSTALLER = "jqsetup-x86.exe"
UNINSTALLER = "uninstall.exe"
INSTALL_DIR = "C:\\JQTest"  # no blank: NSIS takes /D= and _?= unquoted
DIAGNOSTIC_DIR = "C:\\JQDiag"
DIAGNOSTIC_INSTALLER = "jqsetup-x86-diagnostic.exe"
IDNO = 7
IDCANCEL = 2
RESULTS_DIR = "C:\\jqresults"
RUN_TIMEOUT = 90
DIALOG_TIMEOUT = 30

UNPLUG_QUESTION = (
    "Before uninstalling the Pilotdeck, it is highly recommended that you unplug all JQ USB devices to ensure "
    "that all drivers, etc. are properly removed. If there are JQ USB devices currently connected click \"No\", "
    "unplug the devices, and restart the uninstall. Have all the devices been unpluged?")
CLOSING_MESSAGE = (
    "Removal of the Pilotdeck software is complete. To finish the uninstall and unload the drivers from memory "
    "it is necessary to restart Windows. It is highly recommended that you RESTART WINDOWS as soon as possible "
    "after this program exits.")

INSTALL_RESULTS = [("Loaded", "1"), ("InitModule", "1"), ("IsWin2k", "1"), ("IsWinXp", "1"),
                   ("IsAdmin", "1"), ("SetTargetDir", "0"), ("CreateRootDevice", "1"),
                   ("UpdateDevices", "0"), ("NeedReboot", "0"), ("Unloaded", "1")]
STOPPED_RESULTS = [("Loaded", "1"), ("UninstInitialize", "-1"), ("Unloaded", "1")]
REMOVED_RESULTS = [("Loaded", "1"), ("UninstInitialize", "0"), ("Unloaded", "1"),
                   ("Loaded", "1"), ("UninstUnInitialize", "0"), ("Unloaded", "1")]

# The DLL's dialogs, and the uninstaller's own pages between them.
UNPLUG = ("Information", "unplug all JQ USB devices")
CONFIRM_PAGE = ("Pilotdeck Uninstall: Confirmation", "This wizard will uninstall Pilotdeck", "button=Uninstall")
CLOSING = ("Information", "Removal of the Pilotdeck software is complete", "ok")
COMPLETED_PAGE = ("Pilotdeck Uninstall: Completed", "Completed", "button=Close")
RESTART_QUESTION = ("Pilotdeck Uninstall", "Restart Windows now", "no")


def check_results(checks, run, path, expected):
    got = read_results(path)
    checks.check("%s: results %s" % (run, " ".join("%s=%s" % pair for pair in expected)), got == expected,
                 "got %s" % (got if got is not None else "no results file"))


class DialogRun:
    """What jqdialogs.exe printed and how it ended."""

    def __init__(self, exit_code, text):
        self.exit_code = exit_code
        self.lines = text.splitlines()

    def seen(self, step):
        """The SEEN line of step n, without its prefix; None when not seen."""
        prefix = "SEEN %d " % step
        for line in self.lines:
            if line.startswith(prefix):
                return line[len(prefix):]
        return None

    def result(self):
        """The closing line, with whatever was unexpected or missing."""
        notes = [line for line in self.lines if line.startswith(("UNEXPECTED ", "VISIBLE "))]
        return "; ".join([next((line for line in self.lines if line.startswith("RESULT ")), "no RESULT line")]
                         + notes)


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def uninstall(prefix, dialogs_exe, steps, results, cwd, watch=("Information",), folder=INSTALL_DIR):
    """Runs the uninstaller in `folder` with jqdialogs.exe answering `steps`
    and reporting any other window captioned as in `watch`; returns (the
    uninstaller's exit code or None on a timeout, DialogRun, its trace lines)."""
    args = [dialogs_exe, "--timeout", str(DIALOG_TIMEOUT), "--settle", "3"]
    for caption in watch:
        args += ["--watch", caption]
    for caption, text, answer in steps:
        args += ["--dialog", caption, text, answer]
    with tempfile.TemporaryFile() as out:
        answerer = prefix.start(args, out, cwd=cwd)
        try:
            done = prefix.run([folder + "\\" + UNINSTALLER, "/RESULTS=" + results, "_?=" + folder],
                              timeout=RUN_TIMEOUT, cwd=cwd, debug="-all,+debugstr")
            code, lines = done.returncode, trace_lines(done.stderr)
        except subprocess.TimeoutExpired:
            code, lines = None, []
            prefix.restart()  # ends the uninstaller that Wine's launcher left behind
        try:
            answerer.wait(timeout=DIALOG_TIMEOUT * len(steps) + 30)
        except subprocess.TimeoutExpired:
            answerer.kill()
            answerer.wait()
        out.seek(0)
        return code, DialogRun(answerer.returncode, out.read().decode("latin-1")), lines


def check_untouched(checks, prefix, run):
    checks.check("%s: JQDRV2K3.INF still installed" % run,
                 os.path.exists(prefix.unix_path(INSTALL_DIR + "\\JQDRV2K3.INF")))
    devices = root_devices(prefix)
    checks.check("%s: root device still in the registry" % run, len(devices) == 1, str(devices))
    missing = [key for key in SEEDED_KEYS if not prefix.has_key(key)]
    checks.check("%s: every seeded key kept" % run, not missing, "deleted: %s" % missing)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"),
                        help="the win32 build directory (JQInst2k.dll, jqdialogs.exe)")
    parser.add_argument("--prefix", default=None, help="the Wine prefix to create (default BUILD/wine-nsis-x86)")
    options = parser.parse_args(argv[1:])
    under_display("tests.nsis.run_nsis_x86", argv[1:])

    build = os.path.abspath(options.build)
    dll = os.path.join(build, "JQInst2k.dll")
    dialogs_exe = os.path.join(build, "jqdialogs.exe")
    problem = loader_problem(WINE32)  # the installer is a 32-bit program
    if problem:
        return skip_all(problem)
    missing = [tool for tool in ("makensis", "wine", "wineserver") if not shutil.which(tool)]
    missing += [path for path in (dll, dialogs_exe) if not os.path.exists(path)]
    if missing:
        print("missing: %s (install nsis, wine32:i386 and xvfb; build the win32 preset)" % ", ".join(missing))
        print("0 passed, 1 failed")
        return 2

    checks = Checks()
    out = os.path.join(build, "nsis")
    os.makedirs(out, exist_ok=True)
    installer = os.path.join(out, INSTALLER)
    if os.path.exists(installer):
        os.remove(installer)
    problem = makensis("x86-ansi", dll, installer)
    if not checks.check("makensis x86-ansi with the shipped DLL", problem is None, problem or ""):
        return checks.summary()
    diagnostic_installer = None
    diagnostic_dll = os.path.join(build, "diagnostic", "JQInst2k.dll")
    if os.path.exists(diagnostic_dll):
        diagnostic_installer = os.path.join(out, DIAGNOSTIC_INSTALLER)
        problem = makensis("x86-ansi", diagnostic_dll, diagnostic_installer)
        if not checks.check("makensis x86-ansi with the diagnostic DLL", problem is None, problem or ""):
            diagnostic_installer = None
    else:
        print("SKIP the diagnostic runs: no %s (JQ_DIAGNOSTIC_DLL is off)" % diagnostic_dll)

    prefix = Prefix(os.path.abspath(options.prefix or os.path.join(build, "wine-nsis-x86")))
    try:
        print("Wine prefix %s created in %.1f s" % (prefix.path, prefix.create(wow64=True)))
        prefix.server("-p")  # the server and services stay up between programs: they start slowly
        for exe in (INSTALLER, DIAGNOSTIC_INSTALLER, UNINSTALLER):
            prefix.set_version(exe, "winxp")
        seed_registry(prefix)
    except (RuntimeError, subprocess.TimeoutExpired) as e:
        print("cannot prepare the Wine prefix: %s" % e)
        checks.check("Wine prefix", False)
        return 2

    try:
        os.makedirs(prefix.unix_path(RESULTS_DIR))
        started = time.time()

        # 0. A folder with a blank: Wine quotes such an argument, and NSIS
        # takes /D= only unquoted. The installer must refuse, not install
        # into its default folder.
        results = RESULTS_DIR + "\\quoted-folder.txt"
        run = "install into a quoted folder"
        try:
            code = prefix.run([installer, "/S", "/RESULTS=" + results, "/D=C:\\JQ Test"], timeout=RUN_TIMEOUT,
                              cwd=out).returncode
        except subprocess.TimeoutExpired:
            code = None
        checks.check("%s: the installer refuses (exit code 2)" % run, code == 2, "exit code %s" % code)
        check_results(checks, run, prefix.unix_path(results), [("InstallFolder", "0")])
        installed = [folder for folder in ("C:\\JQ Test", "C:\\Program Files\\JQ\\Pilotdeck",
                                           "C:\\Program Files (x86)\\JQ\\Pilotdeck")
                     if os.path.exists(prefix.unix_path(folder))]
        checks.check("%s: nothing installed" % run, not installed, "installed into %s" % installed)

        # 1. The installation road, silent.
        results = RESULTS_DIR + "\\install.txt"
        try:
            done = prefix.run([installer, "/S", "/RESULTS=" + results, "/D=" + INSTALL_DIR], timeout=RUN_TIMEOUT,
                              cwd=out)
            code = done.returncode
        except subprocess.TimeoutExpired:
            code = None
        if not checks.check("install: the silent installer ends with 0", code == 0, "exit code %s" % code):
            return checks.summary()
        check_results(checks, "install", prefix.unix_path(results), INSTALL_RESULTS)
        for name in ("JQDRV2K3.INF", UNINSTALLER):
            checks.check("install: %s in the installation folder" % name,
                         os.path.exists(prefix.unix_path(INSTALL_DIR + "\\" + name)))
        devices = root_devices(prefix)
        checks.check("install: one root device root\\jq_pilotdeck in the registry", len(devices) == 1, str(devices))
        print("installed in %.1f s" % (time.time() - started))

        # 2. The unplug question answered so that the uninstall stops.
        for answer in ("escape", "close", "no"):
            run = "uninstall, unplug question answered %s" % answer
            started = time.time()
            results = RESULTS_DIR + "\\stop-%s.txt" % answer
            # The uninstaller's first page, once the question is answered,
            # would mean it went on.
            code, dialogs, lines = uninstall(prefix, dialogs_exe, [UNPLUG + (answer,)], results, out,
                                             watch=("Information", CONFIRM_PAGE[0]))
            checks.check("%s: the shipped DLL writes no trace line" % run, not lines, str(lines[:3]))
            checks.check("%s: the dialogs were as expected" % run, dialogs.exit_code == 0, dialogs.result())
            checks.check("%s: the question's caption, text and buttons" % run,
                         dialogs.seen(1) == "caption=%s text=%s buttons=%s" % (
                             quoted("Information"), quoted(UNPLUG_QUESTION), quoted("&Yes|&No")),
                         str(dialogs.seen(1)))
            checks.check("%s: the uninstaller stops (exit code 2)" % run, code == 2, "exit code %s" % code)
            check_results(checks, run, prefix.unix_path(results), STOPPED_RESULTS)
            check_untouched(checks, prefix, run)
            print("%s: %.1f s" % (run, time.time() - started))

        # 3. The answers as the DLL got them: the diagnostic DLL's trace
        # tells Escape (No, 7) from the close box (neither, 2).
        if diagnostic_installer:
            results = RESULTS_DIR + "\\diagnostic-install.txt"
            try:
                code = prefix.run([diagnostic_installer, "/S", "/RESULTS=" + results, "/D=" + DIAGNOSTIC_DIR],
                                  timeout=RUN_TIMEOUT, cwd=out).returncode
            except subprocess.TimeoutExpired:
                code = None
            if checks.check("diagnostic install: the silent installer ends with 0", code == 0,
                            "exit code %s" % code):
                for answer, returned in (("escape", IDNO), ("close", IDCANCEL)):
                    run = "diagnostic uninstall, answered %s" % answer
                    code, dialogs, lines = uninstall(
                        prefix, dialogs_exe, [UNPLUG + (answer,)], RESULTS_DIR + "\\diagnostic-%s.txt" % answer,
                        out, watch=("Information", CONFIRM_PAGE[0]), folder=DIAGNOSTIC_DIR)
                    want = ["JQINST2K: UninstInitialize", "  I98: Test Message returned:%x" % returned,
                            "  I2K: Returning -1"]
                    checks.check("%s: the DLL's question returned %d, and the uninstall stops" % (run, returned),
                                 dialogs.exit_code == 0 and code == 2 and
                                 [line for line in lines if line in want] == want,
                                 "%s; exit code %s; trace %s" % (dialogs.result(), code, lines[:12]))

        # 4. A window that never comes: jqdialogs gives up instead of hanging.
        started = time.time()
        with tempfile.TemporaryFile() as log:
            answerer = prefix.start([dialogs_exe, "--timeout", "1", "--dialog", "Information", "no such text", "ok"],
                                    log)
            try:
                answerer.wait(timeout=60)
            except subprocess.TimeoutExpired:
                answerer.kill()
                answerer.wait()
            log.seek(0)
            said = DialogRun(answerer.returncode, log.read().decode("latin-1")).result()
        checks.check("jqdialogs: a window that never comes ends in a timeout (exit code 2)",
                     answerer.returncode == 2 and said.startswith("RESULT fail: step 1: no window"),
                     "exit code %s after %.1f s: %s" % (answerer.returncode, time.time() - started, said))

        # 5. Yes: the whole removal.
        run = "uninstall, unplug question answered yes"
        started = time.time()
        results = RESULTS_DIR + "\\remove.txt"
        steps = [UNPLUG + ("yes",), CONFIRM_PAGE, CLOSING, COMPLETED_PAGE, RESTART_QUESTION]
        code, dialogs, _ = uninstall(prefix, dialogs_exe, steps, results, out)
        checks.check("%s: the dialogs were as expected" % run, dialogs.exit_code == 0, dialogs.result())
        checks.check("%s: the closing message's caption, text and button" % run,
                     dialogs.seen(3) == "caption=%s text=%s buttons=%s" % (
                         quoted("Information"), quoted(CLOSING_MESSAGE), quoted("OK")),
                     str(dialogs.seen(3)))
        checks.check("%s: the uninstaller ends with 0" % run, code == 0, "exit code %s" % code)
        check_results(checks, run, prefix.unix_path(results), REMOVED_RESULTS)
        checks.check("%s: JQDRV2K3.INF removed" % run,
                     not os.path.exists(prefix.unix_path(INSTALL_DIR + "\\JQDRV2K3.INF")))
        devices = root_devices(prefix)
        checks.check("%s: no root device left in the registry" % run, not devices, str(devices))
        left = [key for key in cleaned_keys(nt5=True) if prefix.has_key(key)]
        checks.check("%s: the vendor's XP joystick settings and OEM keys deleted" % run, not left, "left: %s" % left)
        gone = [key for key in kept_keys(nt5=True) if not prefix.has_key(key)]
        checks.check("%s: the other vendor's keys and the settings XP does not read kept" % run, not gone,
                     "deleted: %s" % gone)
        print("%s: %.1f s" % (run, time.time() - started))
    finally:
        prefix.stop()
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
