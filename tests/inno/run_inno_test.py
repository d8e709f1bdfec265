#!/usr/bin/env python3
"""The Inno Setup example with the shipped DLL, under wine32, as Windows 7.

    run_inno_test.py [--build DIR] [--iscc PATH] [--fetch-iscc]

DIR is the win32 build directory: JQInst2k.dll (the shipped DLL) and
jqdialogs.exe. The compiler comes from the npm package innosetup 6.4.1:
`npm pack` fetches it once into build/cache/innosetup-6.4.1/ (never
committed); --iscc names an ISCC.exe to use instead.

In a fresh WoW64 prefix in which every program sees Windows 7 (Inno Setup 6
refuses older Windows), with the registry seeded with joystick settings and
OEM entries of the vendor's devices and of another vendor's:

1. ISCC.exe builds examples/inno/jqsetup.iss with the shipped DLL;
2. the setup runs with /VERYSILENT; every result the script logs (a line
   "JQInst2k.dll: EXPORT RESULT" in the /LOG= file) is checked, then the
   installed files and the root device in the registry;
3. the uninstaller runs with /VERYSILENT: without anybody to answer the
   DLL's questions the script calls InitModule and RemoveRootDevice instead
   of the hooks; results, files (the DLL unloaded and deleted) and registry
   are checked;
4. the setup again, then the uninstaller interactively, its windows answered
   by jqdialogs.exe: No to the DLL's unplug question stops it with nothing
   removed; then Yes, Inno's own confirmation, the DLL's closing message
   and Inno's restart question, and UninstUnInitialize has removed it all.

Inno's uninstaller copies itself to the temporary folder and returns at
once: the test waits for its log to close ("Log closed."), which is the
last thing the copy writes.

Prints one line per check and a final "N passed, N failed"; exits 1 when a
check fails, 2 when the run could not start. Python 3 standard library only.
"""

import os
import shutil
import subprocess
import sys
import tarfile
import time

from tests.installers import (CLOSING, UNPLUG, Checks, answer_dialogs, check_cleaned, check_results, check_root_device,
                              check_seed_kept, prepare, seed_registry)
from tests.wine import (ROOT, WINE32, CannotStart, Prefix, arguments, exit_with, require_files, require_loader,
                        under_display, windows_path)

SCRIPT = os.path.join(ROOT, "examples", "inno", "jqsetup.iss")
INNO_VERSION = "6.4.1"
CACHE = os.path.join(ROOT, "build", "cache", "innosetup-" + INNO_VERSION)


SETUP = "jqsetup-inno.exe"
APP_DIR = "C:\\JQInno"
UNINSTALLER = APP_DIR + "\\unins000.exe"
LOG_DIR = "C:\\jqlogs"
RUN_TIMEOUT = 120
MARKER = "JQInst2k.dll: "

SETUP_RESULTS = [("InitModule", "1"), ("IsAdmin", "1"),                  # InitializeSetup
                 ("InitModule", "1"), ("IsWin2k", "0"), ("IsWinXp", "0"),  # ssPostInstall, on 7
                 ("SetTargetDir", "0"), ("CreateRootDevice", "1"), ("UpdateDevices", "0"),
                 ("NeedReboot", "0")]  # Wine never asks for a restart
SILENT_UNINSTALL_RESULTS = [("InitModule", "1"), ("RootDeviceCount", "1"), ("RemoveRootDevice", "1"),
                            ("RootDeviceCount", "0"), ("Deleted", "1")]
STOPPED_RESULTS = [("UninstInitialize", "-1")]
REMOVED_RESULTS = [("UninstInitialize", "0"), ("UninstUnInitialize", "0"), ("Deleted", "1")]

INNO_CONFIRM = ("Pilotdeck Uninstall", "Are you sure you want to completely remove Pilotdeck", "yes")
INNO_RESTART = ("Pilotdeck Uninstall", "Would you like to restart now?", "no")


def fetch_iscc():
    """ISCC.exe from the npm package, fetched once into CACHE."""
    iscc = os.path.join(CACHE, "package", "bin", "ISCC.exe")
    if os.path.exists(iscc):
        return iscc
    npm = shutil.which("npm")
    if not npm:
        raise RuntimeError("npm is missing (Debian package npm), and no --iscc was given")
    os.makedirs(CACHE, exist_ok=True)
    done = subprocess.run([npm, "pack", "innosetup@" + INNO_VERSION, "--pack-destination", CACHE],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    tarball = os.path.join(CACHE, "innosetup-%s.tgz" % INNO_VERSION)
    if done.returncode != 0 or not os.path.exists(tarball):
        raise RuntimeError("npm pack innosetup@%s failed: %s" % (INNO_VERSION,
                                                                 done.stdout.decode(errors="replace")[-1500:]))
    with tarfile.open(tarball) as archive:
        members = [m for m in archive.getmembers()
                   if m.isfile() and m.name.startswith("package/") and ".." not in m.name.split("/")]
        # The "data" filter, where this Python has it, refuses links and
        # absolute paths as well.
        extra = {"filter": "data"} if hasattr(tarfile, "data_filter") else {}
        archive.extractall(CACHE, members=members, **extra)
    if not os.path.exists(iscc):
        raise RuntimeError("the package holds no package/bin/ISCC.exe")
    return iscc


def log_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return ""


def logged_results(path):
    """The (EXPORT, RESULT) pairs the script logged; None without the log."""
    if not os.path.exists(path):
        return None
    pairs = []
    for line in log_text(path).splitlines():
        at = line.find(MARKER)
        if at >= 0:
            name, _, result = line[at + len(MARKER):].strip().partition(" ")
            pairs.append((name, result))
    return pairs


def wait_for_log(path, timeout=RUN_TIMEOUT):
    """True once the log at `path` is closed."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if "Log closed." in log_text(path):
            return True
        time.sleep(0.2)
    return False


def check_installed(checks, prefix, run):
    for name in ("JQInst2k.dll", "JQDRV2K3.INF", "unins000.exe"):
        checks.check("%s: %s in the application folder" % (run, name),
                     os.path.exists(prefix.unix_path(APP_DIR + "\\" + name)))
    check_root_device(checks, prefix, run)


def check_removed(checks, prefix, run):
    checks.check("%s: the application folder removed, the DLL with it" % run,
                 not os.path.exists(prefix.unix_path(APP_DIR)),
                 str(os.listdir(prefix.unix_path(APP_DIR))) if os.path.exists(prefix.unix_path(APP_DIR)) else "")
    check_cleaned(checks, prefix, run, nt5=False)


def run_setup(checks, prefix, setup, log, run):
    """The setup, silent; whether it ended with 0 (then its files and root
    device are checked too)."""
    done = prefix.finish([setup, "/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART", "/LOG=" + log, "/DIR=" + APP_DIR],
                         RUN_TIMEOUT)
    code = done.returncode if done else None
    ok = checks.check("%s: the setup ends with 0" % run, code == 0, "exit code %s" % code)
    check_results(checks, run, logged_results(prefix.unix_path(log)), SETUP_RESULTS)
    if ok:
        check_installed(checks, prefix, run)
    return ok


def run_uninstaller(prefix, args, log):
    """Runs the uninstaller and waits for its copy; (exit code, log closed)."""
    done = prefix.finish([UNINSTALLER, "/LOG=" + log] + args, RUN_TIMEOUT)
    return (done.returncode, wait_for_log(prefix.unix_path(log))) if done else (None, False)


def check_uninstalled(checks, prefix, run, log, ended, expected, stopped=False):
    """That the uninstaller, `ended` as (exit code, log closed), closed its
    log having ended with 0 (any exit code when it `stopped`), and the
    results it logged."""
    code, closed = ended
    checks.check("%s: the uninstaller ends %sand closes its log" % (run, "" if stopped else "with 0 "),
                 (code is not None if stopped else code == 0) and closed,
                 "exit code %s, log %s" % (code, "closed" if closed else "not closed"))
    check_results(checks, run, logged_results(prefix.unix_path(log)), expected)


def check_driver_folders(checks, prefix, iscc, dll, out):
    """A driver folder holding JQDRV2K1.INF, given to ISCC as an absolute
    and as a relative JqDrivers: both setups carry it (the compiler names
    each file it compresses)."""
    drivers = os.path.join(out, "drivers")
    os.makedirs(drivers, exist_ok=True)
    for name in ("JQDRV2K3.INF", "JQDRV2K1.INF"):
        shutil.copy(os.path.join(ROOT, "examples", "nsis", "driver", "JQDRV2K3.INF"), os.path.join(drivers, name))
    relative = os.path.relpath(drivers, os.path.dirname(SCRIPT)).replace("/", "\\")
    for kind, folder in (("absolute", windows_path(drivers)), ("relative", relative)):
        name = "drivers: %s JqDrivers (%s)" % ("an absolute" if kind == "absolute" else "a relative", folder)
        done = prefix.finish([iscc, "/DJqDll=" + windows_path(dll), "/DJqDrivers=" + folder,
                              "/O" + windows_path(out), "/Fjqsetup-" + kind, windows_path(SCRIPT)], 300)
        if done is None:
            checks.check(name + ": ISCC ends", False, "timed out")
            continue
        text = (done.stdout + done.stderr).decode(errors="replace")
        compressed = [line.strip() for line in text.splitlines() if line.strip().startswith("Compressing:")]
        if checks.check(name + ": ISCC builds the setup", done.returncode == 0, text[-1500:]):
            for inf in ("JQDRV2K3.INF", "JQDRV2K1.INF"):
                checks.check("%s: %s in the setup" % (name, inf), any(inf in line for line in compressed),
                             "compressed: %s" % compressed)


def main(argv):
    parser = arguments(__doc__, "the win32 build directory (JQInst2k.dll, jqdialogs.exe)")
    parser.add_argument("--iscc", default=None, help="an ISCC.exe to use instead of the npm package's")
    parser.add_argument("--fetch-iscc", action="store_true",
                        help="only fetch the npm package's ISCC.exe and print its path (for a machine "
                             "without network, such as the emulated one of scripts/wine32-vm.sh)")
    options = parser.parse_args(argv)
    if options.fetch_iscc:
        try:
            print(fetch_iscc())
            return 0
        except (RuntimeError, OSError, tarfile.TarError, subprocess.TimeoutExpired) as e:
            print("cannot get ISCC.exe: %s" % e, file=sys.stderr)
            return 2
    under_display()

    build = os.path.abspath(options.build)
    dll = os.path.join(build, "JQInst2k.dll")
    dialogs_exe = os.path.join(build, "jqdialogs.exe")
    require_loader(WINE32)  # the compiler, the setup and the uninstaller are 32-bit programs
    require_files([dll, dialogs_exe], "install wine32:i386, xvfb and npm; build the win32 preset",
                  tools=("wine", "wineserver"))
    try:
        iscc = os.path.abspath(options.iscc) if options.iscc else fetch_iscc()
    except (RuntimeError, OSError, tarfile.TarError, subprocess.TimeoutExpired) as e:
        raise CannotStart("cannot get ISCC.exe: %s" % e)

    checks = Checks()
    prefix = Prefix(os.path.join(build, "wine-inno"))

    def set_up():
        # Every program sees 7: the setup and uninstaller run as copies with
        # names of their own, which a per-program setting would not reach.
        done = prefix.reg("add", "HKCU\\Software\\Wine", "/v", "Version", "/d", "win7", "/f")
        if done.returncode != 0:
            raise RuntimeError("cannot set the Windows version")
        seed_registry(prefix)

    prepare(checks, prefix, set_up)

    try:
        out = os.path.join(build, "inno")
        os.makedirs(out, exist_ok=True)
        setup = os.path.join(out, SETUP)
        if os.path.exists(setup):
            os.remove(setup)
        started = time.time()
        done = prefix.finish([iscc, "/Q", "/DJqDll=" + windows_path(dll), "/O" + windows_path(out),
                              windows_path(SCRIPT)], 300)
        built = done is not None and done.returncode == 0 and os.path.exists(setup)
        problem = "" if built else "timed out" if done is None else (
            (done.stdout + done.stderr).decode(errors="replace")[-1500:] or "exit code %d" % done.returncode)
        if not checks.check("ISCC %s builds the setup with the shipped DLL" % INNO_VERSION, built, problem):
            return checks.summary()
        print("built in %.1f s" % (time.time() - started))
        check_driver_folders(checks, prefix, iscc, dll, out)
        os.makedirs(prefix.unix_path(LOG_DIR))

        # 1. Silent setup, silent uninstall.
        if not run_setup(checks, prefix, setup, LOG_DIR + "\\setup.log", "setup"):
            return checks.summary()

        run = "silent uninstall"
        log = LOG_DIR + "\\uninstall.log"
        ended = run_uninstaller(prefix, ["/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART"], log)
        check_uninstalled(checks, prefix, run, log, ended, SILENT_UNINSTALL_RESULTS)
        checks.check("%s: the uninstaller asks for a restart" % run,
                     "Need to restart Windows? Yes" in log_text(prefix.unix_path(log)))
        check_removed(checks, prefix, run)

        # 2. Installed again; the uninstaller with somebody at the screen.
        seed_registry(prefix)
        if not run_setup(checks, prefix, setup, LOG_DIR + "\\setup-again.log", "setup again"):
            return checks.summary()

        run = "uninstall, unplug question answered no"
        log = LOG_DIR + "\\uninstall-no.log"
        ended, dialogs = answer_dialogs(prefix, dialogs_exe, [UNPLUG + ("no",)], ("Information", INNO_CONFIRM[0]),
                                        lambda: run_uninstaller(prefix, [], log))
        checks.check("%s: the dialogs were as expected" % run, dialogs.exit_code == 0, dialogs.result())
        check_uninstalled(checks, prefix, run, log, ended, STOPPED_RESULTS, stopped=True)
        check_installed(checks, prefix, run)
        check_seed_kept(checks, prefix, run)

        run = "uninstall, unplug question answered yes"
        log = LOG_DIR + "\\uninstall-yes.log"
        steps = [UNPLUG + ("yes",), INNO_CONFIRM, CLOSING, INNO_RESTART]
        ended, dialogs = answer_dialogs(prefix, dialogs_exe, steps, ("Information",),
                                        lambda: run_uninstaller(prefix, [], log))
        checks.check("%s: the dialogs were as expected" % run, dialogs.exit_code == 0, dialogs.result())
        check_uninstalled(checks, prefix, run, log, ended, REMOVED_RESULTS)
        check_removed(checks, prefix, run)
    finally:
        prefix.stop()
    return checks.summary()


if __name__ == "__main__":
    exit_with(main)
