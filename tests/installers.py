"""What the installer tests (tests/nsis/run_nsis.py, tests/inno/run_inno_test.py)
seed and check in their prefix (a tests.wine Prefix), the DLL's dialogs and
jqdialogs.exe that answers them, and the checks' tally.

Python 3 standard library only.
"""

import subprocess
import sys
import tempfile

from tests.wine import CannotStart

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


ENUM_ROOT = "HKLM\\System\\CurrentControlSet\\Enum\\Root"
ROOT_HARDWARE_ID = "root\\jq_pilotdeck"


# The DLL's dialogs as jqdialogs.exe finds them (caption, a part of the
# text) and the answer that goes on, and their whole texts.
UNPLUG = ("Information", "unplug all JQ USB devices")
CLOSING = ("Information", "Removal of the Pilotdeck software is complete", "ok")
UNPLUG_QUESTION = (
    "Before uninstalling the Pilotdeck, it is highly recommended that you unplug all JQ USB devices to ensure "
    "that all drivers, etc. are properly removed. If there are JQ USB devices currently connected click \"No\", "
    "unplug the devices, and restart the uninstall. Have all the devices been unpluged?")
CLOSING_MESSAGE = (
    "Removal of the Pilotdeck software is complete. To finish the uninstall and unload the drivers from memory "
    "it is necessary to restart Windows. It is highly recommended that you RESTART WINDOWS as soon as possible "
    "after this program exits.")
DIALOG_TIMEOUT = 30


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

    def summary(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 else 1


def check_results(checks, run, got, expected):
    """That the (EXPORT, RESULT) pairs a run wrote (None: no file) are `expected`."""
    checks.check("%s: results %s" % (run, " ".join("%s=%s" % pair for pair in expected)), got == expected,
                 "got %s" % (got if got is not None else "no results file"))


def prepare(checks, prefix, set_up, wow64=True):
    """Makes the prefix, keeps its server and services up between programs
    (they start slowly) and calls set_up(); when that fails, the failure is
    counted, the tally printed and the run ends (exit code 2)."""
    try:
        print(prefix.create(wow64))
        prefix.keep_running()
        set_up()
    except (CannotStart, RuntimeError, subprocess.TimeoutExpired) as e:
        print("cannot prepare the Wine prefix: %s" % e)
        checks.check("Wine prefix", False)
        checks.summary()
        sys.exit(2)


def seed_registry(prefix):
    """Writes SEEDED_KEYS, each with one value."""
    lines = ["REGEDIT4", ""]
    for key in SEEDED_KEYS:
        lines += ["[%s]" % key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\", 1), '"Name"="seeded"', ""]
    prefix.import_reg_text("\r\n".join(lines) + "\r\n")


def root_devices(prefix):
    """Instance keys under Enum\\Root whose hardware id is the root device's."""
    return [key for key, values in prefix.tree(ENUM_ROOT).items()
            if ROOT_HARDWARE_ID in values.get("hardwareid", "").split("\\0")]


def check_root_device(checks, prefix, run):
    devices = root_devices(prefix)
    checks.check("%s: one root device root\\jq_pilotdeck in the registry" % run, len(devices) == 1, str(devices))


def check_seed_kept(checks, prefix, run):
    missing = [key for key in SEEDED_KEYS if not prefix.has_key(key)]
    checks.check("%s: every seeded key kept" % run, not missing, "deleted: %s" % missing)


def check_cleaned(checks, prefix, run, nt5):
    """After a whole removal on Windows 2000/XP (nt5) or 7: no root device,
    the vendor's keys that Windows reads deleted, the other seeded keys kept."""
    devices = root_devices(prefix)
    checks.check("%s: no root device left in the registry" % run, not devices, str(devices))
    settings = SETTINGS_NT5 if nt5 else SETTINGS_OTHER
    cleaned = [settings + "\\" + name for name in VENDOR_IDS] + [OEM + "\\" + VENDOR_IDS[0]]
    left = [key for key in cleaned if prefix.has_key(key)]
    checks.check("%s: the vendor's %s and OEM keys deleted" % (
        run, "XP joystick settings" if nt5 else "joystick settings (<FixedKey>)"), not left, "left: %s" % left)
    gone = [key for key in SEEDED_KEYS if key not in cleaned and not prefix.has_key(key)]
    checks.check("%s: the other vendor's keys and the settings %s does not read kept" % (run, "XP" if nt5 else "7"),
                 not gone, "deleted: %s" % gone)


class DialogRun:
    """What jqdialogs.exe printed and how it ended."""

    def __init__(self, exit_code, text):
        self.exit_code = exit_code
        self.lines = text.splitlines()

    def seen(self, step):
        """The SEEN line of step n, without its prefix; None when not seen."""
        prefix = "SEEN %d " % step
        return next((line[len(prefix):] for line in self.lines if line.startswith(prefix)), None)

    def result(self):
        """The closing line, with whatever was unexpected or missing."""
        notes = [line for line in self.lines if line.startswith(("UNEXPECTED ", "VISIBLE "))]
        return "; ".join([next((line for line in self.lines if line.startswith("RESULT ")), "no RESULT line")]
                         + notes)

    def check(self, checks, run, step, what, text, buttons):
        """That the dialogs were as expected, and that the one of `step` (the
        check named `what`) showed the caption Information, `text` and `buttons`."""
        checks.check("%s: the dialogs were as expected" % run, self.exit_code == 0, self.result())
        checks.check("%s: the %s" % (run, what), self.seen(step) == "caption=%s text=%s buttons=%s" % (
            quoted("Information"), quoted(text), quoted(buttons)), str(self.seen(step)))


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def answer_dialogs(prefix, dialogs_exe, steps, watch, run):
    """Calls run(), which runs the program whose windows jqdialogs.exe
    answers: `steps` are (caption, text, answer) in order, and any other
    window captioned as in `watch` is reported. (run()'s result, DialogRun)."""
    args = [dialogs_exe, "--timeout", str(DIALOG_TIMEOUT), "--settle", "3"]
    for caption in watch:
        args += ["--watch", caption]
    for caption, text, answer in steps:
        args += ["--dialog", caption, text, answer]
    return run_answerer(prefix, args, run, DIALOG_TIMEOUT * len(steps) + 30)


def run_answerer(prefix, args, run, wait):
    """jqdialogs.exe with `args`, started before run() and given `wait`
    seconds after it to end; (run()'s result, DialogRun)."""
    with tempfile.TemporaryFile() as out:
        answerer = prefix.start(args, out)
        result = run()
        try:
            answerer.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            answerer.kill()
            answerer.wait()
        out.seek(0)
        return result, DialogRun(answerer.returncode, out.read().decode("latin-1"))
