"""The end-to-end cases run by run_e2e.py; see Case there for the fields.

Wine's user is in the Administrators group, so on the NT family every case
here runs as an administrator.
"""

from run_e2e import Case

INSTALL_QUERIES = ["IsWinXp", "InitModule", "IsWin2k", "IsWinMe", "IsWinXp", "IsAdmin"]

# Results of INSTALL_QUERIES: the OS facts are unread until InitModule, so
# the first IsWinXp answers 0 everywhere; the 9x family counts every user as
# an administrator, and both 2000 and XP are "Win2k".
VERSION_ANSWERS = {
    "win98": [0, 1, 0, 0, 0, 1],
    "winme": [0, 1, 0, 1, 0, 1],
    "win2k": [0, 1, 1, 0, 0, 1],
    "winxp": [0, 1, 1, 0, 1, 1],
    "win7": [0, 1, 0, 0, 0, 1],
}

CASES = [
    Case("%s: installation queries" % version, INSTALL_QUERIES, expect, version=version)
    for version, expect in VERSION_ANSWERS.items()
]

CASES += [
    # IsAdmin reads the facts too, so the version answers are right after it.
    Case("winme: IsAdmin reads the OS facts", ["IsWinMe", "IsAdmin", "IsWinMe", "IsWin2k"], [0, 1, 1, 0],
         version="winme"),
    Case("win2k: IsAdmin reads the OS facts", ["IsWin2k", "IsAdmin", "IsWin2k", "IsWinXp"], [0, 1, 1, 0],
         version="win2k"),

    # Installers that import by ordinal get the same functions.
    Case("winxp: exports by ordinal", ["#11", "#14", "#9", "#10", "#11", "#12", "#15=C:\\JQ", "#13"],
         [0, 1, 1, 0, 1, 1, 0, 0]),

    # The second argument is a pointer no export may touch.
    Case("winxp: the integer argument is left alone",
         ["InitModule", "IsWin2k", "IsWinMe", "IsWinXp", "IsAdmin", "SetTargetDir=C:\\JQ", "NeedReboot"],
         [1, 1, 0, 1, 1, 0, 0], pointer=True),

    # The facts are read once; a second InitModule still answers 1.
    Case("winxp: InitModule answers again on a second call", ["InitModule", "InitModule", "NeedReboot"], [1, 1, 0]),

    # The diagnostic build shows the trace lines through Wine's debugstr channel.
    Case("winxp: trace of the installation queries",
         ["InitModule", "SetTargetDir=C:\\JQ", "IsWin2k", "IsWinMe", "IsWinXp", "IsAdmin", "NeedReboot"],
         [1, 0, 1, 0, 1, 1, 0], diagnostic=True,
         trace=["INST2K: initModule",
                "INST2K: setTargetDir - folder:C:\\JQ",
                "INST2K: isWin2k",
                "INST2K: isWinMe",
                "INST2K: isWinXp",
                "INST2K: isAdmin",
                "INST2K: needReboot"]),
    Case("win98: trace of the installation queries", ["InitModule", "IsAdmin", "IsWinMe"], [1, 1, 0],
         version="win98", diagnostic=True,
         trace=["INST2K: initModule", "INST2K: isAdmin", "INST2K: isWinMe"]),

    # The folder is kept to 255 characters; a text that is not given counts as empty.
    Case("winxp: SetTargetDir keeps 255 characters",
         ["SetTargetDir=C:\\" + "d" * 298, "SetTargetDir", "SetTargetDir=D:\\Games\\JQ Pilotdeck"],
         [0, 0, 0], diagnostic=True,
         trace=["INST2K: setTargetDir - folder:C:\\" + "d" * 252,
                "INST2K: setTargetDir - folder:",
                "INST2K: setTargetDir - folder:D:\\Games\\JQ Pilotdeck"]),
]

# --- the uninstall hooks and their dialogs ----------------------------------------------

UNPLUG_QUESTION = (
    "Before uninstalling the Pilotdeck, it is highly recommended that you unplug all JQ USB devices to "
    "ensure that all drivers, etc. are properly removed. If there are JQ USB devices currently connected "
    "click \"No\", unplug the devices, and restart the uninstall. Have all the devices been unpluged?")
CLOSING_MESSAGE = (
    "Removal of the Pilotdeck software is complete. To finish the uninstall and unload the drivers from "
    "memory it is necessary to restart Windows. It is highly recommended that you RESTART WINDOWS as soon "
    "as possible after this program exits.")


def question(answer):
    return {"caption": "Information", "text": UNPLUG_QUESTION, "buttons": "&Yes|&No", "icon": "information",
            "answer": answer}


CLOSING = {"caption": "Information", "text": CLOSING_MESSAGE, "buttons": "OK", "icon": "information"}


def uninstall_trace(answer_code, result):
    return ["JQINST2K: UninstInitialize", "  I98: Test Message returned:%x" % answer_code,
            "  I2K: Returning %s" % result]


CASES += [
    # An administrator sees only the unplug question; only Yes goes on.
    Case("winxp: UninstInitialize, unplugged: Yes", ["UninstInitialize"], [0], answers=["yes"],
         dialogs=[question("yes")], diagnostic=True, trace=uninstall_trace(6, "0")),
    Case("winxp: UninstInitialize, unplugged: No", ["UninstInitialize"], [-1], answers=["no"],
         dialogs=[question("no")], diagnostic=True, trace=uninstall_trace(7, "-1")),
    Case("winxp: UninstInitialize, question closed", ["UninstInitialize"], [-1], answers=["close"],
         dialogs=[question("close")], diagnostic=True, trace=uninstall_trace(2, "-1")),
    Case("winxp: UninstInitialize, Escape answers No", ["UninstInitialize"], [-1], answers=["escape"],
         dialogs=[question("escape")], diagnostic=True, trace=uninstall_trace(7, "-1")),
    Case("winxp: UninstInitialize, Enter answers Yes", ["UninstInitialize"], [0], answers=["enter"],
         dialogs=[question("enter")]),
    Case("win98: UninstInitialize asks only the unplug question", ["UninstInitialize", "#1"], [0, -1],
         version="win98", answers=["yes", "no"], dialogs=[question("yes"), question("no")]),

    # The removal always ends with the closing message, whatever was found.
    Case("winxp: UninstUnInitialize tells the user to restart", ["UninstUnInitialize"], [0], answers=["ok"],
         dialogs=[CLOSING], diagnostic=True, trace_mode="contains",
         trace=["INST2K: UninstUnInitialize", "  I2K: Exiting UninstUnInitialize"]),
    Case("win98: UninstUnInitialize tells the user to restart", ["#2"], [0], version="win98",
         answers=["ok"], dialogs=[CLOSING]),
    Case("win7: UninstUnInitialize, closing message closed", ["UninstUnInitialize"], [0], version="win7",
         answers=["close"], dialogs=[CLOSING]),
]

# --- registry cleaning against Wine's registry ------------------------------------------

WIN9X_CLEANUP = [r"HKLM\Enum", r"HKLM\System\CurrentControlSet\Services\Class\MEDIA",
                 r"HKLM\System\CurrentControlSet\Control\MediaResources\joystick"]

CASES += [
    # On the 9x family the vendor's device, its driver key and its joystick
    # key go; another vendor's device and keys stay.
    Case("win98: RemoveAuxDevices deletes the vendor's HID device keys", ["InitModule", "RemoveAuxDevices"],
         [1, 0], version="win98", diagnostic=True, seed=["reg/win9x_hid_device.reg"], cleanup=WIN9X_CLEANUP,
         trace_mode="contains",
         trace=["DELKEYS: deleteEnumHidKeys", "  EU: checkId returned TRUE, opening subReg Key",
                "  EU: Adding to ValueList:MEDIA\\0003", "  EU: Exiting deleteEnumHidKeys"],
         absent=[r"HKLM\Enum\HID\VID_2F7A&PID_00A1",
                 r"HKLM\System\CurrentControlSet\Services\Class\MEDIA\0003",
                 r"HKLM\System\CurrentControlSet\Control\MediaResources\joystick\msjstick.drv<0003>"],
         present=[r"HKLM\Enum\HID\VID_045E&PID_0007\7&55AA55AA&0&0000",
                  r"HKLM\System\CurrentControlSet\Services\Class\MEDIA\0004",
                  r"HKLM\System\CurrentControlSet\Control\MediaResources\joystick\msjstick.drv<0004>"],
         values={(r"HKLM\Enum\HID\VID_045E&PID_0007\7&55AA55AA&0&0000", "Driver"): "MEDIA\\0004"}),
    # Nothing of the vendor's: the run answers 1 and leaves every key.
    Case("win98: RemovePedalDevices finds nothing of the pedals", ["RemovePedalDevices"], [1], version="win98",
         seed=["reg/win9x_hid_device.reg"], cleanup=WIN9X_CLEANUP,
         present=[r"HKLM\Enum\HID\VID_2F7A&PID_00A1\7&1A2B3C4D&0&0000",
                  r"HKLM\System\CurrentControlSet\Services\Class\MEDIA\0003"]),
]
