"""What the installer tests seed and check in their prefix (a tests.wine
Prefix), and the checks' tally.

Shared by tests/nsis/run_nsis_x86.py and tests/inno/run_inno_test.py; the
tally and the NSIS build and results by tests/nsis/run_nsis_test.py too.
Python 3 standard library only.
"""

import os
import re
import subprocess
import sys

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


DEBUGSTR = re.compile(r'OutputDebugStringA "(.*?)(?:\\n)?"')


def trace_lines(stderr):
    """The OutputDebugStringA texts in a program's stderr (WINEDEBUG=+debugstr)."""
    return [match.group(1) for match in map(DEBUGSTR.search, stderr.decode("latin-1").splitlines()) if match]


NSIS_SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "nsis",
                           "jqsetup.nsi")


def makensis(target, dll, outfile):
    """Builds the NSIS example for a target ("x86-ansi", "amd64-unicode");
    None when it built, else makensis's complaint."""
    done = subprocess.run(["makensis", "-V2", "-WX", "-DJQ_TARGET=" + target, "-DJQ_DLL=" + dll,
                           "-DJQ_OUTFILE=" + outfile, NSIS_SCRIPT],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    if done.returncode != 0 or not os.path.exists(outfile):
        return done.stdout.decode(errors="replace").strip()[-1500:] or "exit code %d" % done.returncode
    return None


def read_results(path):
    """The "EXPORT RESULT" lines the NSIS example wrote, as pairs; None
    without the file."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    return [tuple(line.split(" ", 1)) if " " in line else (line, "") for line in text.splitlines() if line]


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


def seed_registry(prefix):
    """Writes SEEDED_KEYS, each with one value."""
    lines = ["REGEDIT4", ""]
    for key in SEEDED_KEYS:
        lines += ["[%s]" % key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\", 1), '"Name"="seeded"', ""]
    prefix.import_reg_text("\r\n".join(lines) + "\r\n")


def root_devices(prefix):
    """Instance keys under Enum\\Root whose hardware id is the root device's."""
    done = prefix.reg("query", ENUM_ROOT, "/s")
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
