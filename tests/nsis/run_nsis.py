#!/usr/bin/env python3
"""The NSIS example installer with the DLL of one build, under Wine, as Windows XP.

    run_nsis.py [--build DIR] [--win32 DIR]

DIR is a build directory: JQInst2k.dll, diagnostic/JQInst2k.dll and, in
the win32 build, jqdialogs.exe. The DLL's machine type picks the road:

- x86: the shipped i686 DLL in an x86-ansi installer, under wine32 in a
  fresh WoW64 prefix (BUILD/wine-nsis-x86) seeded with joystick settings and
  OEM entries of the vendor's devices and of another vendor's;
- amd64: the 64-bit test DLL of the win64 build in an amd64-unicode
  installer, under wine64 (BUILD/wine-nsis); the x86-ansi installer with
  the shipped DLL of --win32 (WIN32/JQInst2k.dll), the one a vendor ships,
  is built too, not run.

examples/nsis/jqsetup.nsi is built with makensis with the DLL and with the
diagnostic DLL; the installers and their uninstallers all see Windows XP.
On both roads the installer runs silently through the installation road:
every result it writes with /RESULTS= is checked, and the files it
installs. Then, on the x86 road:

0. first into a folder with a blank, which the installer must refuse;
1. after the installation, the root device in the registry;
2. the uninstaller runs interactively three times, its dialogs on screen and
   answered by jqdialogs.exe, a separate program that finds each window by
   caption and text. The DLL's unplug question is answered with Escape, the
   close box and No: each time the uninstaller must stop on -1 with nothing
   removed (files, root device, registry);
3. the diagnostic installer, into a second folder: its uninstaller's trace
   lines show what the question returned to the DLL, No (7) for Escape and
   neither (2) for the close box;
4. jqdialogs.exe waiting for a window that never comes gives up;
5. the shipped uninstaller, the question answered Yes: the uninstaller
   goes on through its own pages, UninstUnInitialize cleans the vendor's
   keys, removes the root device and shows its closing message (OK), and
   the other vendor's keys stay.

On the amd64 road:

2. the uninstaller, silent, which removes the root device node through
   RemoveRootDevice;
3. the diagnostic installer into a folder whose name holds parentheses and
   an apostrophe: its trace lines (Wine's debugstr channel) show that the
   folder reached the DLL whole, as single-byte text.

Every uninstaller runs with "_?=": NSIS then runs the uninstaller in place
instead of copying it to the temporary folder and returning at once, so the
process the test waits for is the one that calls the DLL, and its exit code
(2 when it stopped, 0 when it finished) is the uninstaller's. In place, it
cannot delete its own file: uninstall.exe is the one file left.

Under Wine the user is an administrator, so the DLL's administrator question
never comes; the end-to-end tier answers it with jqhost.exe. And Wine's
UpdateDriverForPlugAndPlayDevicesA returns TRUE without reading the INF and
never asks for a restart, so CreateRootDevice answers 1 and NeedReboot 0
here whatever the INF says; the example installs its stand-in JQDRV2K3.INF
anyway, which Windows needs.

Prints one line per check and a final "N passed, N failed"; exits 1 when a
check fails, 2 when the run could not start. Python 3 standard library only.
"""

import collections
import os
import subprocess
import time

from tests.installers import (CLOSING, CLOSING_MESSAGE, UNPLUG, UNPLUG_QUESTION, Checks, answer_dialogs, check_cleaned,
                              check_results, check_root_device, check_seed_kept, prepare, root_devices, run_answerer,
                              seed_registry)
from tests.wine import (ROOT, WINE, WINE32, WINE64, Prefix, arguments, debugstr_lines, exit_with, machine_type,
                        require_files, require_loader, under_display)

# `check` is the loader that must run here, `wine` the one the programs are
# started with (Debian's wine picks wine32 for a 32-bit program).
Road = collections.namedtuple("Road", "name target dll check wine prefix wow64 timeout needs")
ROADS = {
    "i686": Road("x86", "x86-ansi", "the shipped DLL", WINE32, WINE, "wine-nsis-x86", True, 90,
                 "nsis, wine32:i386 and xvfb; build the win32 preset"),
    "x86_64": Road("amd64", "amd64-unicode", "the 64-bit DLL", WINE64, WINE64, "wine-nsis", False, 180,
                   "nsis and wine64; build the win64 preset"),
}

INSTALLER = "jqsetup-%s.exe"  # % the road's name
DIAGNOSTIC_INSTALLER = "jqsetup-%s-diagnostic.exe"
UNINSTALLER = "uninstall.exe"
# No blanks in these folders: Wine quotes a program argument that holds
# one, and NSIS takes /D= and _?= only unquoted.
INSTALL_DIR = "C:\\JQTest"
DIAGNOSTIC_DIR = "C:\\JQDiag"
# An apostrophe and parentheses: either would end or split the text if the
# script wrote the folder inline into its System::Call lines.
ODD_DIR = "C:\\JQ(2)\\Pilotdeck's"
RESULTS_DIR = "C:\\jqresults"
IDNO = 7
IDCANCEL = 2

INSTALL_RESULTS = [("Loaded", "1"), ("InitModule", "1"),
                   ("IsWin2k", "1"),  # 2000 and XP alike
                   ("IsWinXp", "1"),  # the installer did run as XP
                   ("IsAdmin", "1"),  # Wine's user is in the Administrators group
                   ("SetTargetDir", "0"), ("CreateRootDevice", "1"), ("UpdateDevices", "0"),
                   ("NeedReboot", "0"),  # Wine never asks for a restart
                   ("Unloaded", "1")]    # the DLL was let go, so $PLUGINSDIR can be deleted
SILENT_UNINSTALL_RESULTS = [("Loaded", "1"), ("InitModule", "1"),
                            ("RootDeviceCount", "1"),  # the node the installer created, seen by another process
                            ("RemoveRootDevice", "1"), ("RootDeviceCount", "0"), ("Unloaded", "1")]
STOPPED_RESULTS = [("Loaded", "1"), ("UninstInitialize", "-1"), ("Unloaded", "1")]
REMOVED_RESULTS = [("Loaded", "1"), ("UninstInitialize", "0"), ("Unloaded", "1"),
                   ("Loaded", "1"), ("UninstUnInitialize", "0"), ("Unloaded", "1")]

# The uninstaller's own pages between the DLL's dialogs.
CONFIRM_PAGE = ("Pilotdeck Uninstall: Confirmation", "This wizard will uninstall Pilotdeck", "button=Uninstall")
COMPLETED_PAGE = ("Pilotdeck Uninstall: Completed", "Completed", "button=Close")
RESTART_QUESTION = ("Pilotdeck Uninstall", "Restart Windows now", "no")


def trace_lines(stderr):
    return [text for text, _ in debugstr_lines(stderr.decode("latin-1"))]


def read_results(prefix, path):
    """The "EXPORT RESULT" lines the example wrote to `path` (a Windows
    path in the prefix), as pairs; None without the file."""
    path = prefix.unix_path(path)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    return [tuple(line.split(" ", 1)) if " " in line else (line, "") for line in text.splitlines() if line]


def check_exit(checks, name, done, want=0):
    """Whether the program (its CompletedProcess, None when it timed out)
    ended with `want`."""
    return checks.check(name, done is not None and done.returncode == want,
                        "timed out" if done is None else "exit code %d" % done.returncode)


def run_nsis(prefix, road, args, cwd):
    """Runs an installer or uninstaller to its end, its trace lines on
    stderr; None when it timed out."""
    done = prefix.finish(args, road.timeout, debug="-all,+debugstr", cwd=cwd)
    if done is None:
        prefix.restart()  # ends what Wine's launcher left behind
    return done


def build_installer(checks, target, dll, which, installer):
    """The example built for `target` with `dll` into `installer`: its
    path, None when makensis failed."""
    if os.path.exists(installer):
        os.remove(installer)
    done = subprocess.run(["makensis", "-V2", "-WX", "-DJQ_TARGET=" + target, "-DJQ_DLL=" + dll,
                           "-DJQ_OUTFILE=" + installer, os.path.join(ROOT, "examples", "nsis", "jqsetup.nsi")],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    built = done.returncode == 0 and os.path.exists(installer)
    problem = "" if built else done.stdout.decode(errors="replace").strip()[-1500:] or "exit code %d" % done.returncode
    return installer if checks.check("makensis %s with %s" % (target, which), built, problem) else None


def check_each_result(checks, run, got, expected):
    """check_results as the amd64 road counts it, a check per line."""
    if not checks.check("%s: results file written" % run, got is not None, "no file"):
        return
    for i, (name, want) in enumerate(expected):
        actual = got[i] if i < len(got) else None
        checks.check("%s: %s %s" % (run, name, want), actual == (name, want),
                     "got %s" % (" ".join(actual) if actual else "no line"))
    if len(got) > len(expected):
        checks.check("%s: no further calls" % run, False, "also %s" % (got[len(expected):],))


def install(checks, prefix, road, installer, out, check_results):
    """The installation road, silent: the installer's CompletedProcess when
    it ended with 0, else None."""
    results = RESULTS_DIR + "\\install.txt"
    done = run_nsis(prefix, road, [installer, "/S", "/RESULTS=" + results, "/D=" + INSTALL_DIR], out)
    if not check_exit(checks, "install: the silent installer ends with 0", done):
        return None
    check_results(checks, "install", read_results(prefix, results), INSTALL_RESULTS)
    for name in ("JQDRV2K3.INF", UNINSTALLER):
        checks.check("install: %s in the installation folder" % name,
                     os.path.exists(prefix.unix_path(INSTALL_DIR + "\\" + name)))
    return done


def uninstall(prefix, road, dialogs_exe, steps, results, cwd, watch=("Information",), folder=INSTALL_DIR):
    """The uninstaller in `folder`, its windows answered by jqdialogs.exe
    (answer_dialogs); (how it ended, None on a timeout; the DialogRun; its
    trace lines)."""
    done, dialogs = answer_dialogs(prefix, dialogs_exe, steps, watch, lambda: run_nsis(
        prefix, road, [folder + "\\" + UNINSTALLER, "/RESULTS=" + results, "_?=" + folder], cwd))
    return done, dialogs, trace_lines(done.stderr) if done else []


def check_untouched(checks, prefix, run):
    checks.check("%s: JQDRV2K3.INF still installed" % run,
                 os.path.exists(prefix.unix_path(INSTALL_DIR + "\\JQDRV2K3.INF")))
    devices = root_devices(prefix)
    checks.check("%s: root device still in the registry" % run, len(devices) == 1, str(devices))
    check_seed_kept(checks, prefix, run)


def x86_road(checks, prefix, road, installer, diagnostic_installer, dialogs_exe, out):
    started = time.time()
    # 0. A folder with a blank: Wine quotes such an argument, and NSIS
    # takes /D= only unquoted. The installer must refuse, not install
    # into its default folder.
    results = RESULTS_DIR + "\\quoted-folder.txt"
    run = "install into a quoted folder"
    done = run_nsis(prefix, road, [installer, "/S", "/RESULTS=" + results, "/D=C:\\JQ Test"], out)
    check_exit(checks, "%s: the installer refuses (exit code 2)" % run, done, 2)
    check_results(checks, run, read_results(prefix, results), [("InstallFolder", "0")])
    installed = [folder for folder in ("C:\\JQ Test", "C:\\Program Files\\JQ\\Pilotdeck",
                                       "C:\\Program Files (x86)\\JQ\\Pilotdeck")
                 if os.path.exists(prefix.unix_path(folder))]
    checks.check("%s: nothing installed" % run, not installed, "installed into %s" % installed)

    # 1. The installation road, silent.
    if not install(checks, prefix, road, installer, out, check_results):
        return
    check_root_device(checks, prefix, "install")
    print("installed in %.1f s" % (time.time() - started))

    # 2. The unplug question answered so that the uninstall stops.
    for answer in ("escape", "close", "no"):
        run = "uninstall, unplug question answered %s" % answer
        started = time.time()
        results = RESULTS_DIR + "\\stop-%s.txt" % answer
        # The uninstaller's first page, once the question is answered,
        # would mean it went on.
        done, dialogs, lines = uninstall(prefix, road, dialogs_exe, [UNPLUG + (answer,)], results, out,
                                         watch=("Information", CONFIRM_PAGE[0]))
        checks.check("%s: the shipped DLL writes no trace line" % run, not lines, str(lines[:3]))
        dialogs.check(checks, run, 1, "question's caption, text and buttons", UNPLUG_QUESTION, "&Yes|&No")
        check_exit(checks, "%s: the uninstaller stops (exit code 2)" % run, done, 2)
        check_results(checks, run, read_results(prefix, results), STOPPED_RESULTS)
        check_untouched(checks, prefix, run)
        print("%s: %.1f s" % (run, time.time() - started))

    # 3. The answers as the DLL got them: the diagnostic DLL's trace
    # tells Escape (No, 7) from the close box (neither, 2).
    if diagnostic_installer:
        results = RESULTS_DIR + "\\diagnostic-install.txt"
        done = run_nsis(prefix, road, [diagnostic_installer, "/S", "/RESULTS=" + results, "/D=" + DIAGNOSTIC_DIR], out)
        if check_exit(checks, "diagnostic install: the silent installer ends with 0", done):
            for answer, returned in (("escape", IDNO), ("close", IDCANCEL)):
                run = "diagnostic uninstall, answered %s" % answer
                done, dialogs, lines = uninstall(
                    prefix, road, dialogs_exe, [UNPLUG + (answer,)], RESULTS_DIR + "\\diagnostic-%s.txt" % answer,
                    out, watch=("Information", CONFIRM_PAGE[0]), folder=DIAGNOSTIC_DIR)
                code = done.returncode if done else None
                want = ["JQINST2K: UninstInitialize", "  I98: Test Message returned:%x" % returned,
                        "  I2K: Returning -1"]
                checks.check("%s: the DLL's question returned %d, and the uninstall stops" % (run, returned),
                             dialogs.exit_code == 0 and code == 2 and [line for line in lines if line in want] == want,
                             "%s; exit code %s; trace %s" % (dialogs.result(), code, lines[:12]))

    # 4. A window that never comes: jqdialogs gives up instead of hanging.
    started = time.time()
    _, dialogs = run_answerer(prefix, [dialogs_exe, "--timeout", "1", "--dialog", "Information", "no such text", "ok"],
                              lambda: None, 60)
    checks.check("jqdialogs: a window that never comes ends in a timeout (exit code 2)",
                 dialogs.exit_code == 2 and dialogs.result().startswith("RESULT fail: step 1: no window"),
                 "exit code %s after %.1f s: %s" % (dialogs.exit_code, time.time() - started, dialogs.result()))

    # 5. Yes: the whole removal.
    run = "uninstall, unplug question answered yes"
    started = time.time()
    results = RESULTS_DIR + "\\remove.txt"
    steps = [UNPLUG + ("yes",), CONFIRM_PAGE, CLOSING, COMPLETED_PAGE, RESTART_QUESTION]
    done, dialogs, _ = uninstall(prefix, road, dialogs_exe, steps, results, out)
    dialogs.check(checks, run, 3, "closing message's caption, text and button", CLOSING_MESSAGE, "OK")
    check_exit(checks, "%s: the uninstaller ends with 0" % run, done)
    check_results(checks, run, read_results(prefix, results), REMOVED_RESULTS)
    checks.check("%s: JQDRV2K3.INF removed" % run, not os.path.exists(prefix.unix_path(INSTALL_DIR + "\\JQDRV2K3.INF")))
    check_cleaned(checks, prefix, run, nt5=True)
    print("%s: %.1f s" % (run, time.time() - started))


def amd64_road(checks, prefix, road, installer, diagnostic_installer, dialogs_exe, out):
    done = install(checks, prefix, road, installer, out, check_each_result)
    if done:
        lines = trace_lines(done.stderr)
        checks.check("install: the shipped DLL writes no trace line", not lines, lines[0] if lines else "")

    # 2. The silent removal.
    uninstaller = INSTALL_DIR + "\\" + UNINSTALLER
    if os.path.exists(prefix.unix_path(uninstaller)):
        results = RESULTS_DIR + "\\uninstall.txt"
        done = run_nsis(prefix, road, [uninstaller, "/S", "/RESULTS=" + results, "_?=" + INSTALL_DIR], out)
        if check_exit(checks, "uninstall: the silent uninstaller ends with 0", done):
            check_each_result(checks, "uninstall", read_results(prefix, results), SILENT_UNINSTALL_RESULTS)
            checks.check("uninstall: JQDRV2K3.INF removed",
                         not os.path.exists(prefix.unix_path(INSTALL_DIR + "\\JQDRV2K3.INF")))
    else:
        checks.check("uninstall: uninstaller present", False, uninstaller)

    # 3. The folder as the DLL receives it.
    if diagnostic_installer:
        results = RESULTS_DIR + "\\odd-folder.txt"
        done = run_nsis(prefix, road, [diagnostic_installer, "/S", "/RESULTS=" + results, "/D=" + ODD_DIR], out)
        if check_exit(checks, "odd folder: the diagnostic installer ends with 0", done):
            got = read_results(prefix, results) or []
            checks.check("odd folder: SetTargetDir 0 and CreateRootDevice 1",
                         ("SetTargetDir", "0") in got and ("CreateRootDevice", "1") in got, str(got))
            lines = trace_lines(done.stderr)
            for want in ("INST2K: setTargetDir - folder:" + ODD_DIR,
                         "INST2K: createRootDevice - targetDir:" + ODD_DIR,
                         '  I2K: setPathString returning: "%s\\JQDRV2K3.INF"' % ODD_DIR):
                checks.check("odd folder: trace line %r" % want, want in lines,
                             "%d trace lines, none such" % len(lines))


def main(argv):
    parser = arguments(__doc__, "the build directory (JQInst2k.dll, diagnostic/JQInst2k.dll, jqdialogs.exe)")
    parser.add_argument("--win32", default=os.path.join(ROOT, "build", "win32"),
                        help="on the amd64 road, the win32 build directory (the shipped JQInst2k.dll)")
    options = parser.parse_args(argv)
    # Every Wine program of the prefix must see the same display, even a
    # silent installer that shows nothing.
    under_display()

    build = os.path.abspath(options.build)
    dll = os.path.join(build, "JQInst2k.dll")
    dialogs_exe = os.path.join(build, "jqdialogs.exe")
    road = ROADS.get(machine_type(dll), ROADS["i686"])
    require_loader(road.check)
    require_files([dll, dialogs_exe] if road.name == "x86" else [dll], "install " + road.needs,
                  tools=("makensis", road.wine))

    checks = Checks()
    out = os.path.join(build, "nsis")
    os.makedirs(out, exist_ok=True)
    started = time.time()
    installer = build_installer(checks, road.target, dll, road.dll, os.path.join(out, INSTALLER % road.name))
    if not installer:
        return checks.summary()
    diagnostic_dll = os.path.join(build, "diagnostic", "JQInst2k.dll")
    diagnostic_installer = None
    if os.path.exists(diagnostic_dll):
        diagnostic_installer = build_installer(checks, road.target, diagnostic_dll, "the diagnostic DLL",
                                               os.path.join(out, DIAGNOSTIC_INSTALLER % road.name))
    else:
        print("SKIP the diagnostic runs: no %s (JQ_DIAGNOSTIC_DLL is off)" % diagnostic_dll)
    if road.name == "amd64":
        shipped_dll = os.path.join(os.path.abspath(options.win32), "JQInst2k.dll")
        if os.path.exists(shipped_dll):
            build_installer(checks, "x86-ansi", shipped_dll, "the shipped 32-bit DLL",
                            os.path.join(out, INSTALLER % "x86"))
        else:
            print("SKIP makensis x86-ansi with the shipped 32-bit DLL: no %s (build the win32 preset)" % shipped_dll)
    print("installers built in %.1f s" % (time.time() - started))

    prefix = Prefix(os.path.join(build, road.prefix), road.wine)

    def set_up():
        for exe in (INSTALLER % road.name, DIAGNOSTIC_INSTALLER % road.name, UNINSTALLER):
            prefix.set_version(exe, "winxp")
        if road.name == "x86":
            seed_registry(prefix)
        os.makedirs(prefix.unix_path(RESULTS_DIR))

    prepare(checks, prefix, set_up, wow64=road.wow64)
    runs = x86_road if road.name == "x86" else amd64_road
    try:
        runs(checks, prefix, road, installer, diagnostic_installer, dialogs_exe, out)
    finally:
        prefix.stop()
    return checks.summary()


if __name__ == "__main__":
    exit_with(main)
