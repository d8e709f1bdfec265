"""A WoW64 Wine prefix for the 32-bit installer tests, and the checks' tally.

Shared by tests/nsis/run_nsis_x86.py and tests/inno/run_inno_test.py; the
tally by tests/nsis/run_nsis_test.py too.
Python 3 standard library only.

Every Wine process of one prefix must run under the same display: a GUI
program fails ("A call to an OS function failed") when an earlier process of
its prefix started the desktop without one. The runners therefore restart
themselves under `xvfb-run -a` (see under_display) before they touch Wine.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

WINE = os.environ.get("WINE", "wine")

# Keys of the vendor's devices and of another vendor's, written under HKLM
# by seed_registry. Windows 2000 and XP keep joystick settings under
# DINPUT.DLL, every other version under "<FixedKey>"; the DLL cleans the one
# its Windows reads, so both are seeded and the other must stay.
CONTROL = "HKLM\\System\\CurrentControlSet\\Control"
SETTINGS_NT5 = CONTROL + "\\MediaResources\\Joystick\\DINPUT.DLL\\JoystickSettings"
SETTINGS_OTHER = CONTROL + "\\MediaResources\\joystick\\<FixedKey>\\JoystickSettings"
OEM = CONTROL + "\\MediaProperties\\PrivateProperties\\Joystick\\OEM"
VENDOR_IDS = ["VID_2F7A&PID_00A1",   # the joystick, a USB id
              "VID_2F7A&PID_C26B"]   # an aux device
OTHER_ID = "VID_045E&PID_0027"       # another vendor's joystick
SEEDED_KEYS = ([settings + "\\" + name for settings in (SETTINGS_NT5, SETTINGS_OTHER)
                for name in VENDOR_IDS + [OTHER_ID]]
               + [OEM + "\\" + VENDOR_IDS[0], OEM + "\\" + OTHER_ID])


def cleaned_keys(nt5):
    """The seeded keys a removal deletes on Windows 2000/XP (nt5) or on 7."""
    settings = SETTINGS_NT5 if nt5 else SETTINGS_OTHER
    return [settings + "\\" + name for name in VENDOR_IDS] + [OEM + "\\" + VENDOR_IDS[0]]


def kept_keys(nt5):
    """The seeded keys every removal leaves."""
    cleaned = cleaned_keys(nt5)
    return [key for key in SEEDED_KEYS if key not in cleaned]


ENUM_ROOT = "HKLM\\System\\CurrentControlSet\\Enum\\Root"
ROOT_HARDWARE_ID = "root\\jq_pilotdeck"


def under_display(script, argv):
    """Re-runs the script under xvfb-run when there is no display."""
    if os.environ.get("DISPLAY") or os.environ.get("JQ_UNDER_XVFB"):
        return
    xvfb = shutil.which("xvfb-run")
    if xvfb:
        os.environ["JQ_UNDER_XVFB"] = "1"
        os.execv(xvfb, [xvfb, "-a", sys.executable, os.path.abspath(script)] + argv[1:])


DEBUGSTR = re.compile(r'OutputDebugStringA "(.*?)(?:\\n)?"')


def trace_lines(stderr):
    """The OutputDebugStringA texts in a program's stderr (WINEDEBUG=+debugstr)."""
    return [match.group(1) for match in map(DEBUGSTR.search, stderr.decode("latin-1").splitlines()) if match]


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print("PASS %s" % name)
        else:
            self.failed += 1
            print("FAIL %s%s" % (name, ": " + detail if detail else ""))
        sys.stdout.flush()
        return ok

    def skip(self, name, why):
        print("SKIP %s: %s" % (name, why))

    def summary(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 else 1


class Prefix:
    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono/Gecko installer prompts
        self.server = shutil.which("wineserver") or "/usr/lib/wine/wineserver"

    def command(self, args):
        return [WINE] + list(args)

    def run(self, args, timeout=120, cwd=None, debug="-all"):
        """Runs a program to its end; `debug` is its WINEDEBUG (+debugstr
        puts the OutputDebugStringA texts on stderr)."""
        # Output goes to files, not pipes: Wine's services, started by a
        # program, inherit its output and outlive it.
        env = dict(self.env, WINEDEBUG=debug)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run(self.command(args), env=env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=timeout, cwd=cwd)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())

    def start(self, args, out, cwd=None):
        """Starts a program without waiting for it; its output goes to `out`."""
        return subprocess.Popen(self.command(args), env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, cwd=cwd)

    def create(self):
        """A fresh WoW64 prefix; returns the seconds it took."""
        if os.path.exists(self.path):
            self.stop()
            shutil.rmtree(self.path)
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        started = time.time()
        done = self.run(["wineboot", "-i"], timeout=600)
        # wineboot returns before its work is done.
        self.server_command("-w", timeout=600)
        if done.returncode != 0 or not os.path.isdir(os.path.join(self.path, "drive_c", "windows", "syswow64")):
            raise RuntimeError("wineboot -i failed: " + done.stderr.decode(errors="replace")[-2000:])
        # Keep the server and services up between programs: they start slowly.
        self.server_command("-p")
        return time.time() - started

    def restart(self):
        """Ends every process of the prefix and keeps a new server up."""
        self.stop()
        self.server_command("-p")

    def stop(self):
        self.server_command("-k")

    def server_command(self, option, timeout=60):
        # No pipes: a server that this starts keeps them open for its life.
        subprocess.run([self.server, option], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)

    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))

    def reg(self, *args):
        return self.run(["reg"] + list(args), timeout=60)

    def set_version(self, exe, version):
        """The Windows version Wine shows `exe` (read when it starts)."""
        done = self.reg("add", "HKCU\\Software\\Wine\\AppDefaults\\" + exe, "/v", "Version", "/d", version, "/f")
        if done.returncode != 0:
            raise RuntimeError("cannot set Windows version %s for %s" % (version, exe))

    def import_reg(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False, encoding="latin-1",
                                         dir=self.unix_path("C:\\")) as f:
            f.write(text)
        try:
            done = self.reg("import", "C:\\" + os.path.basename(f.name))
            if done.returncode != 0:
                raise RuntimeError("reg import failed: " + done.stderr.decode(errors="replace"))
        finally:
            os.unlink(f.name)

    def seed_registry(self):
        """Writes SEEDED_KEYS, each with one value."""
        lines = ["REGEDIT4", ""]
        for key in SEEDED_KEYS:
            lines += ["[%s]" % key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\", 1), '"Name"="seeded"', ""]
        self.import_reg("\r\n".join(lines) + "\r\n")

    def has_key(self, key):
        return self.reg("query", key).returncode == 0

    def root_devices(self):
        """Instance keys under Enum\\Root whose hardware id is the root device's."""
        done = self.reg("query", ENUM_ROOT, "/s")
        found = []
        current = None
        for line in done.stdout.decode(errors="replace").splitlines():
            if line.startswith("HKEY_"):
                current = line.strip()
            elif current and re.match(r"^\s+HardwareId\s+REG_MULTI_SZ\s+", line, re.I):
                ids = re.split(r"\s+REG_MULTI_SZ\s+", line.strip(), maxsplit=1)[1].split("\\0")
                if ROOT_HARDWARE_ID in ids:
                    found.append(current)
        return found

    def values(self, key):
        """{value name: data} of one key, names as written; None when missing."""
        done = self.reg("query", key)
        if done.returncode != 0:
            return None
        found = {}
        for line in done.stdout.decode(errors="replace").splitlines():
            match = re.match(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$", line)
            if match:
                found[match.group(1)] = match.group(3) or ""
        return found
