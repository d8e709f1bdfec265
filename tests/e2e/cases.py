"""The end-to-end cases run by run_e2e.py; tests/e2e/case.py says what the fields mean.

Wine's user is in the Administrators group, so on the NT family every case
here runs as an administrator.
"""

from tests.e2e.case import Case
from tests.installers import CLOSING_MESSAGE, UNPLUG_QUESTION

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

# --- the vendor's traces: what the seed files and devreg give each product --------------
#
# Wine's user is an administrator on every Windows version Wine imitates, so
# no case here can run the exports as a user who is not one (result 2, the
# registry untouched, no administrator question); the native tests cover
# those paths on the simulated machine.

JOYSTICK, PEDAL, AUX = "joystick", "pedal", "aux"
EVERY_PRODUCT = (JOYSTICK, PEDAL, AUX)
# What each export cleans: RemoveUsbDevices takes the pedals too (every pedal
# id is a USB id); only the aux fallback reaches the aux device.
CLEANED_BY = {
    "RemoveUsbDevices": (JOYSTICK, PEDAL),
    "RemovePedalDevices": (PEDAL,),
    "RemoveAuxDevices": EVERY_PRODUCT,
    "UninstUnInitialize": EVERY_PRODUCT,
}

CONTROL = r"HKLM\System\CurrentControlSet\Control"
DINPUT_SETTINGS = CONTROL + r"\MediaResources\Joystick\DINPUT.DLL\JoystickSettings"
FIXED_KEY_SETTINGS = CONTROL + r"\MediaResources\joystick\<FixedKey>\JoystickSettings"
OEM = CONTROL + r"\MediaProperties\PrivateProperties\Joystick\OEM"
ASD_FIRST = CONTROL + r"\ASD\Prob\{9b4e7760-3196-11cf-97ea-00aa0034319d}"
ASD_SECOND = CONTROL + r"\ASD\Prob\{cf2524c0-29ae-11cf-97ea-00aa0034319d}"
HID_INTERFACES = CONTROL + r"\DeviceClasses\{4d1e55b2-f16f-11cf-88cb-001111000030}"
USB_INTERFACES = CONTROL + r"\DeviceClasses\{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
ENUM_9X = r"HKLM\Enum"
CLASS_9X = r"HKLM\System\CurrentControlSet\Services\Class"
JOYSTICK_9X = CONTROL + r"\MediaResources\joystick"

# reg/joystick_settings.reg, product by product.
SETTINGS_NAMES = {JOYSTICK: ["VID_2F7A&PID_00A1"], PEDAL: ["VID_2F7A&PID_1A24"], AUX: ["VID_2F7A&PID_C26B"]}
OEM_NAMES = {JOYSTICK: ["VID_2F7A&PID_00A1", "vid_2f7a&pid_b8f9"], PEDAL: ["VID_2F7A&PID_1A24"],
             AUX: ["VID_2F7A&PID_C26B"]}
ASD_VALUES = {
    JOYSTICK: [(ASD_FIRST, r"USB\VID_2F7A&PID_00A1\5&1A2B3C4D&0&1"),
               (ASD_SECOND, r"HID\VID_2F7A&PID_00A1\7&1A2B3C4D&0&0000")],
    PEDAL: [(ASD_FIRST, r"Jovex\VID_2F7A&PID_1A24\1")],
    AUX: [(ASD_SECOND, r"HID\VID_2F7A&PID_C26B\7&2B2B2B2B&0&0000")],
}
# Device interfaces: (key, its DeviceInstance value, the product it names).
# The 9x cleaning goes by the value alone, whatever the key's name.
INTERFACES = [
    (HID_INTERFACES + r"\##?#HID#VID_2F7A&PID_00A1#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
     r"HID\VID_2F7A&PID_00A1\7&1A2B3C4D&0&0000", JOYSTICK),
    (USB_INTERFACES + r"\##?#USB#VID_2F7A&PID_00A1#5&1a2b3c4d&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
     r"USB\VID_2F7A&PID_00A1\5&1A2B3C4D&0&1", JOYSTICK),
    (HID_INTERFACES + r"\##?#JOVEX#PEDALS#1#{4d1e55b2-f16f-11cf-88cb-001111000030}",
     r"JOVEX\VID_2F7A&PID_1A24\1", PEDAL),
    (HID_INTERFACES + r"\##?#HID#VID_2F7A&PID_C26B#7&2b2b2b2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
     r"HID\VID_2F7A&PID_C26B\7&2B2B2B2B&0&0000", AUX),
    (HID_INTERFACES + r"\##?#HID#VID_2F7A&PID_00A1#9&renamed#{4d1e55b2-f16f-11cf-88cb-001111000030}",
     r"HID\VID_045E&PID_0027\7&77777777&0&0000", None),
    (HID_INTERFACES + r"\##?#HID#VID_045E&PID_0027#7&77777777&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
     r"HID\VID_045E&PID_0027\7&77777777&0&0000", None),
    (HID_INTERFACES + r"\##?#HID#VID_2F7A&PID_00A1#no-instance#{4d1e55b2-f16f-11cf-88cb-001111000030}", "", None),
]
# reg/win9x_enum.reg: each product's device keys, the driver keys of the
# classes the cleaning knows (HIDCLASS among them) and the joystick keys of
# its MEDIA driver keys. The Ports driver key of the pedal's second instance
# is of a class the cleaning leaves alone, and stays.
ENUM_9X_KEYS = {
    JOYSTICK: [ENUM_9X + r"\USB\VID_2F7A&PID_00A1", ENUM_9X + r"\HID\VID_2F7A&PID_00A1", CLASS_9X + r"\HID\0001",
               CLASS_9X + r"\MEDIA\0003", CLASS_9X + r"\HIDCLASS\0001", JOYSTICK_9X + r"\msjstick.drv<0003>"],
    PEDAL: [ENUM_9X + r"\Jovex\VID_2F7A&PID_1A24", CLASS_9X + r"\MEDIA\0005", JOYSTICK_9X + r"\msjstick.drv<0005>"],
    AUX: [ENUM_9X + r"\USB\VID_2F7A&PID_C26B", ENUM_9X + r"\HID\VID_2F7A&PID_C26B", CLASS_9X + r"\HID\0003",
          CLASS_9X + r"\MEDIA\0006", JOYSTICK_9X + r"\msjstick.drv<0006>"],
}

SETTINGS_SEED = "reg/joystick_settings.reg"
ENUM_9X_SEED = "reg/win9x_enum.reg"
# Only the seeded subkeys of the HID interface class: the rest is Wine's own.
SETTINGS_CLEANUP = [CONTROL + r"\MediaResources", CONTROL + r"\MediaProperties", CONTROL + r"\ASD", USB_INTERFACES]
SETTINGS_CLEANUP += [key for key, _, _ in INTERFACES if key.startswith(HID_INTERFACES)]
ENUM_9X_CLEANUP = [ENUM_9X, CLASS_9X]


def is_nine_x(version):
    return version in ("win98", "winme")


def registry_traces(products, version, removed_nodes=()):
    """(keys, values) of these products that a cleaning run on this Windows
    version deletes: the keys for `absent`, the values for `values`.

    On the NT family the interface keys are not the cleaning's business, but
    removing a device node through the setup API takes the node's interface
    keys with it (Wine's SetupDiRemoveDevice does): those of `removed_nodes`
    go too."""
    settings = DINPUT_SETTINGS if version in ("win2k", "winxp") else FIXED_KEY_SETTINGS
    keys, values = [], {}
    for product in products:
        keys += [settings + "\\" + name for name in SETTINGS_NAMES[product]]
        keys += [OEM + "\\" + name for name in OEM_NAMES[product]]
        if is_nine_x(version):
            keys += ENUM_9X_KEYS[product] + [key for key, _, owner in INTERFACES if owner == product]
            values.update({(key, name): None for key, name in ASD_VALUES[product]})
    if not is_nine_x(version):
        removed = [instance.upper() for instance, _, _ in removed_nodes]
        keys += [key for key, instance, _ in INTERFACES if instance.upper() in removed]
    return keys, values


# Device nodes on the NT family, registered through the setup API: the
# joystick with two instances of its USB id, a HID node and the HID node of
# one of its interfaces, the pedals on
# the vendor's own enumerator and on USB, the aux device, another vendor's
# joystick. Wine adds HID\VID_845E&PID_0001 and _0002 of its own.
# Wine lets a program register nodes under USB, HID and Jovex, which on
# Windows only bus drivers make; and it lists attached and detached nodes
# alike (DIGCF_PRESENT is ignored). The cleaning asks for both kinds anyway.
HID_CLASS = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"
USB_CLASS = "{36FC9E60-C465-11CF-8056-444553540000}"
SYSTEM_CLASS = "{4D36E97D-E325-11CE-BFC1-08002BE10318}"
VENDOR_CLASS = "{5C0A7E31-2B94-4D6F-A1E8-93F04B6C2D17}"

DEVICE_NODES = {
    JOYSTICK: [(r"USB\VID_2F7A&PID_00A1\5&1A2B3C4D&0&1", USB_CLASS, r"USB\VID_2F7A&PID_00A1"),
               (r"USB\VID_2F7A&PID_00A1\5&1A2B3C4D&0&2", USB_CLASS, r"USB\VID_2F7A&PID_00A1"),
               (r"HID\VID_2F7A&PID_00A1\7&1A2B3C4D&0&0000", HID_CLASS, r"HID\VID_2F7A&PID_00A1"),
               # One interface of a composite device: its own device id.
               (r"HID\VID_2F7A&PID_00A1&MI_00\8&2B2B2B2B&0&0000", HID_CLASS, r"HID\VID_2F7A&PID_00A1&MI_00")],
    PEDAL: [(r"JOVEX\VID_2F7A&PID_1A24\1", VENDOR_CLASS, r"Jovex\VID_2F7A&PID_1A24"),
            (r"USB\VID_2F7A&PID_1A24\5&3C3C3C3C&0&3", USB_CLASS, r"USB\VID_2F7A&PID_1A24")],
    AUX: [(r"USB\VID_2F7A&PID_C26B\5&2B2B2B2B&0&1", HID_CLASS, r"USB\VID_2F7A&PID_C26B")],
}
OTHER_NODES = [(r"USB\VID_045E&PID_0027\5&77777777&0&1", USB_CLASS, r"USB\VID_045E&PID_0027"),
               (r"HID\VID_045E&PID_0027\7&77777777&0&0000", HID_CLASS, r"HID\VID_045E&PID_0027")]
WINE_HID_NODES = [r"HID\VID_845E&PID_000?\*|*", r"HID\VID_845E&PID_000?\*|*"]
ROOT_NODES = [(r"ROOT\SYSTEM\0000", SYSTEM_CLASS, r"root\jq_pilotdeck"),
              (r"ROOT\SYSTEM\0001", SYSTEM_CLASS, r"root\jq_pilotdeck")]
ROOT_DEVICE = r"ROOT\SYSTEM\*|root\jq_pilotdeck"
ALL_NODES = [node for product in EVERY_PRODUCT for node in DEVICE_NODES[product]] + OTHER_NODES


def nodes_left(cleaned):
    """devices_after: every node of the products not cleaned, the other
    vendor's and Wine's own, under each enumerator the products use."""
    left = [node for product in EVERY_PRODUCT if product not in cleaned for node in DEVICE_NODES[product]]
    left += OTHER_NODES
    after = {}
    for enumerator in ("USB", "HID", "Jovex"):
        after[enumerator] = ["%s|%s" % (instance, hardware_id) for instance, _, hardware_id in left
                             if instance.upper().startswith(enumerator.upper() + "\\")]
    after["HID"] += WINE_HID_NODES
    return after


# --- the cleaning exports and the settings paths -------------------------------------------

def cleaning_case(name, version, calls, expect, cleaned, devices=False, root_devices=False, **more):
    """A run over both seed files (the enumeration tree only on the 9x
    family) and, with `devices`, the device nodes above, which must show
    exactly what the products `cleaned` leave. With `root_devices` two root
    devices are registered too, and go with the vendor's nodes."""
    removed = [node for product in cleaned for node in DEVICE_NODES[product]] if devices else []
    keys, values = registry_traces(cleaned, version, removed)
    seed = [SETTINGS_SEED] + ([ENUM_9X_SEED] if is_nine_x(version) else [])
    cleanup = SETTINGS_CLEANUP + (ENUM_9X_CLEANUP if is_nine_x(version) else [])
    if devices:
        more.update(devices=ALL_NODES, devices_after=nodes_left(cleaned))
    if root_devices:
        more["devices"] = more.get("devices", []) + ROOT_NODES
        more.setdefault("devices_after", {})[r"ROOT\SYSTEM"] = [] if cleaned else [ROOT_DEVICE, ROOT_DEVICE]
    return Case("%s: %s" % (version, name), calls, expect, version=version, seed=seed, cleanup=cleanup,
                absent=keys, values=values, keep_seed=True, **more)


CASES += [
    # The 9x road: enumeration keys, driver and joystick keys, "<FixedKey>"
    # settings, OEM entries, ASD values and device interfaces of the matching
    # products go; "DINPUT.DLL" settings, other vendors' keys, names of 16
    # characters, emptied ASD keys and Wine's own interface keys stay. A
    # second run finds nothing left.
    cleaning_case("RemoveUsbDevices cleans the joystick and the pedals", "win98",
                  ["RemoveUsbDevices", "RemoveUsbDevices"], [0, 1], CLEANED_BY["RemoveUsbDevices"]),
    cleaning_case("RemovePedalDevices cleans only the pedals", "winme",
                  ["RemovePedalDevices"], [0], CLEANED_BY["RemovePedalDevices"]),
    cleaning_case("RemoveAuxDevices cleans the aux device too", "winme",
                  ["RemoveAuxDevices"], [0], CLEANED_BY["RemoveAuxDevices"]),
    # The USB list does not reach the aux device: 1 once the rest is gone.
    cleaning_case("RemoveUsbDevices leaves the aux device to RemoveAuxDevices", "win98",
                  ["RemoveUsbDevices", "RemoveUsbDevices", "RemoveAuxDevices", "RemoveAuxDevices"], [0, 1, 0, 1],
                  EVERY_PRODUCT),

    # The NT family: device nodes through the setup API, "DINPUT.DLL"
    # settings on 2000 and XP, "<FixedKey>" on 7; ASD values and device
    # interfaces are not looked at there.
    # Wine: SetupDiDeleteDeviceInfo fails with ERROR_NO_SUCH_DEVINST after
    # each successful SetupDiRemoveDevice (Windows: "  DK: DiDelete OK"), so
    # the removal must step past the element to end; the trace says so.
    cleaning_case("RemovePedalDevices removes only the pedals' nodes and settings", "winxp",
                  ["RemovePedalDevices"], [0], CLEANED_BY["RemovePedalDevices"], devices=True, diagnostic=True,
                  trace_mode="contains",
                  trace=["DELKEYS: deleteEnumUsbKeys2k", "DELKEYS: checkPedalId:VID_2F7A&PID_1A24",
                         "  EU: checkId returned TRUE, opening subReg Key", "  DK: DiRemove OK", "  DK: DiDelete Failed",
                         "DELKEYS: deleteEnumHidKeys2k", "DELKEYS: deleteEnumJqKeys2k",
                         "  EU: checkId returned TRUE, opening subReg Key", "  DK: DiRemove OK", "  DK: DiDelete Failed",
                         "  Deletinge Settings and OEM Keys"]),
    cleaning_case("RemoveUsbDevices removes the joystick's and the pedals' nodes", "win2k",
                  ["RemoveUsbDevices", "RemoveUsbDevices"], [0, 1], CLEANED_BY["RemoveUsbDevices"], devices=True),
    cleaning_case("RemoveUsbDevices, then RemoveAuxDevices for the aux device", "winxp",
                  ["RemoveUsbDevices", "RemoveUsbDevices", "RemoveAuxDevices", "RemoveAuxDevices"], [0, 1, 0, 1],
                  EVERY_PRODUCT, devices=True),
    cleaning_case("RemoveUsbDevices cleans the <FixedKey> settings", "win7",
                  ["RemoveUsbDevices"], [0], CLEANED_BY["RemoveUsbDevices"], devices=True),
]

# --- device nodes: the root device -----------------------------------------------------------

ROOT_DEVICE_CREATED = [
    "INST2K: createRootDevice - targetDir:{infdir}", "INST2K: devnodeExists", "  I2K: Exiting devnodeExists",
    "IR: createDevnode", "  CreateDevInfo Passed", "  I2K: RegPropertye Okay!", "  I2K: Devnode Created!",
    "INST2K: installDriver", '  I2K: setPathString returning: "{infdir}\\JQDRV2K3.INF"',
    "  I2K: UpdateDriverForPlugAndPlayDevices Passed - No Reboot Required!", " I2K: Driver Installed!",
    " I2K: Exiting createDevnode - Okay!", "  I2K: createDevnode succeeded!",
    "  I2K: Exiting rootDeviceCount - count:1",
    "  I2K: Devnode already exists", "  I2K: UpdateDriverForPlugAndPlayDevices Passed - No Reboot Required!",
    "  I2K: Exiting rootDeviceCount - count:1"]

for version in ("win2k", "winxp"):
    CASES += [
        # One node of the System class, with the driver from the folder's INF
        # (its description shows the INF was read); the second call finds it
        # and only installs the driver again. Wine matches the INF's hardware
        # id case-sensitively (the INF writes it as the node carries it) and
        # never asks for a restart, so NeedReboot stays 0 here; a restart
        # that Windows asks for is checked natively.
        Case("%s: CreateRootDevice creates one root device" % version,
             ["RootDeviceCount", "CreateRootDevice={infdir}", "RootDeviceCount", "CreateRootDevice={infdir}",
              "RootDeviceCount", "NeedReboot"], [0, 1, 1, 1, 1, 0], version=version, inf=["JQDRV2K3.INF"],
             device_cleanup=[r"ROOT\SYSTEM"], devices_after={r"ROOT\SYSTEM": [ROOT_DEVICE]},
             values={(r"HKLM\System\CurrentControlSet\Enum\ROOT\SYSTEM\0000", "DeviceDesc"): "Pilotdeck root device"},
             diagnostic=True, trace_mode="contains", trace=ROOT_DEVICE_CREATED),
        # The node it made goes with RemoveRootDevice, and can be made again.
        Case("%s: RemoveRootDevice removes the root device CreateRootDevice made" % version,
             ["CreateRootDevice={infdir}", "RemoveRootDevice", "RootDeviceCount", "CreateRootDevice={infdir}",
              "RootDeviceCount"], [1, 1, 0, 1, 1], version=version, inf=["JQDRV2K3.INF"],
             device_cleanup=[r"ROOT\SYSTEM"], devices_after={r"ROOT\SYSTEM": [ROOT_DEVICE]}),
        # Every root device goes, also when Wine keeps each removed element in
        # the set (SetupDiDeleteDeviceInfo fails there, see above; Windows
        # answers "  I2K: DiDelete OK"). Nodes whose first hardware id only
        # resembles the root id stay. Registered like a root enumerator's,
        # the nodes would be present on Windows too, so that Wine ignoring
        # DIGCF_PRESENT changes nothing here.
        Case("%s: RemoveRootDevice removes every root device" % version,
             ["RootDeviceCount", "RemoveRootDevice", "RootDeviceCount", "RemoveRootDevice"], [2, 1, 0, 0],
             version=version,
             devices=[(r"ROOT\SYSTEM\0000", SYSTEM_CLASS, r"root\jq_pilotdeck"),
                      (r"ROOT\SYSTEM\0001", SYSTEM_CLASS, r"ROOT\JQ_PILOTDECK"),
                      (r"ROOT\SYSTEM\0002", SYSTEM_CLASS, r"root\jq_pilotdeck"),
                      (r"ROOT\SYSTEM\0003", SYSTEM_CLASS, r"root\jq_pilotdeck2")],
             devices_after={r"ROOT\SYSTEM": [r"ROOT\SYSTEM\0001|ROOT\JQ_PILOTDECK",
                                             r"ROOT\SYSTEM\0003|root\jq_pilotdeck2"]},
             diagnostic=True, trace_mode="contains",
             trace=["INST2K: removeRootDevice", "  I2K: Found One!", "  I2K: DiRemove OK", "  I2K: DiDelete Failed",
                    "  I2K: Found One!", "  I2K: DiRemove OK", "  I2K: DiDelete Failed",
                    "  I2K: Exiting removeRootDevice"]),
    ]

CASES += [
    # Wine: UpdateDriverForPlugAndPlayDevicesA answers TRUE for an INF that
    # does not exist, so the node stays and the result is 1. On Windows the
    # install fails with ERROR_FILE_NOT_FOUND, DIF_REMOVE takes the node away
    # again and the result is 0 (the native tests check that road).
    Case("winxp: CreateRootDevice without its INF (Wine reports the install done)",
         ["CreateRootDevice=C:\\No Such Folder", "RootDeviceCount"], [1, 1], device_cleanup=[r"ROOT\SYSTEM"],
         devices_after={r"ROOT\SYSTEM": [ROOT_DEVICE]}, diagnostic=True, trace_mode="contains",
         trace=['  I2K: setPathString returning: "C:\\No Such Folder\\JQDRV2K3.INF"',
                "  I2K: UpdateDriverForPlugAndPlayDevices Passed - No Reboot Required!",
                "  I2K: createDevnode succeeded!"]),
]

# --- the uninstall: both hooks over a machine with the vendor's devices ----------------------

CASES += [
    cleaning_case("UninstInitialize and UninstUnInitialize remove the vendor's nodes and the root device",
                  "win2k", ["UninstInitialize", "UninstUnInitialize"], [0, 0], CLEANED_BY["UninstUnInitialize"],
                  devices=True,
                  root_devices=True, answers=["yes", "ok"], dialogs=[question("yes"), CLOSING]),
    cleaning_case("UninstUnInitialize, closing message answered with Enter", "winxp", ["UninstUnInitialize"], [0],
                  CLEANED_BY["UninstUnInitialize"], devices=True, root_devices=True, answers=["enter"], dialogs=[CLOSING]),
    cleaning_case("UninstUnInitialize cleans the 9x registry", "winme", ["UninstUnInitialize"], [0],
                  CLEANED_BY["UninstUnInitialize"], answers=["escape"], dialogs=[CLOSING]),
    # The user stops the uninstall: nothing is removed.
    cleaning_case("UninstInitialize answered No removes nothing", "win2k", ["UninstInitialize"], [-1], (),
                  devices=True, root_devices=True, answers=["no"], dialogs=[question("no")]),
]
