"""The hostile machines run by run_hostile.py: registries made to lead the
cleaning outside the vendor's keys. Each is built in a fresh copy of one
Wine prefix, from a .reg text (Unicode names and values of the wrong type)
and regseed commands (links, chains deeper than a path can name).

    name      what the machine is
    version   the Windows version the host sees: "winxp" (NT road) or "win98"
    reg       the .reg sections, as text after the header
    seed      regseed arguments
    gone      the keys the run must delete, each with everything below it;
              nothing else may change
    named     keys the run may delete although no component of their path is
              a vendor id: the vendor's own values name them
    lang      the locale every program of the machine runs in, which gives
              Wine its ANSI code page: C.UTF-8 1252, ja_JP.UTF-8 932
"""

# U+8868 and U+30BD, whose second byte in code page 932 is 0x5C, a backslash.
TABLE = "\u8868"
SO = "\u30BD"
FULLWIDTH = "\uFF3C"  # code page 1252's best fit makes both a backslash
SET_MINUS = "\u2216"

OEM = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\MediaProperties\PrivateProperties\Joystick\OEM"
VENDOR_ID = "VID_2F7A&PID_00A1"
FOREIGN_ID = "VID_1234&PID_5678"
VENDOR_OEM = OEM + "\\" + VENDOR_ID
# Another program's key, where a 32-bit program's view of the registry is the
# 64-bit one's too (HKLM\Software is redirected for it in a WoW64 prefix), so
# that links name it alike from either.
VICTIM = r"HKEY_LOCAL_MACHINE\System\VictimCo"
ENUM_9X = r"HKEY_LOCAL_MACHINE\Enum\USB" + "\\" + VENDOR_ID
CLASS_9X = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA"
HID_INTERFACES = (r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\DeviceClasses"
                  r"\{4d1e55b2-f16f-11cf-88cb-001111000030}")

# Another program's keys, on every machine: each must be there before the
# run, or the machine was not built as meant, and after it.
VICTIM_REG = """
[%(victim)s\\Settings]
"Owner"="VictimCo"

[%(victim)s\\Data\\Deep]

[%(oem)s\\%(foreign)s\\Foreign]
"OEMName"="another product"
""" % {"victim": VICTIM, "oem": OEM, "foreign": FOREIGN_ID}


# The keys of VICTIM_REG.
KEPT = [VICTIM + "\\Settings", VICTIM + "\\Data\\Deep", OEM + "\\" + FOREIGN_ID + "\\Foreign"]


def relative(key):
    """The key below HKEY_LOCAL_MACHINE, as regseed takes it."""
    return key.split("\\", 1)[1]


class Machine:
    def __init__(self, name, version, reg="", seed=(), gone=(), named=(), lang="C.UTF-8"):
        self.name = name
        self.version = version
        self.reg = VICTIM_REG + reg
        self.seed = list(seed)
        self.gone = list(gone)
        self.named = list(named)
        self.lang = lang
        self.code_page = 932 if lang.startswith("ja_") else 1252


MACHINES = [
    Machine("NT: a child of the vendor's OEM key that best fit (U+FF3C) makes a path from the root",
            "winxp",
            reg='[%s\\%sSYSTEM%sVictimCo]\n\n[%s\\Settings]\n"OEMName"="Pilotdeck"\n'
                % (VENDOR_OEM, FULLWIDTH, FULLWIDTH, VENDOR_OEM),
            gone=[VENDOR_OEM + "\\Settings"]),
    Machine("NT: the same with set minus (U+2216)", "winxp",
            reg="[%s\\%sSYSTEM%sVictimCo]\n" % (VENDOR_OEM, SET_MINUS, SET_MINUS)),
    Machine("NT: a child named with a backslash alone, the root itself", "winxp",
            reg="[%s\\%s]\n" % (VENDOR_OEM, FULLWIDTH)),
    Machine("NT: a key of the OEM list whose best-fit name is a path to a vendor-named key of another program",
            "winxp",
            reg="[%s\\%s\\Kept]\n\n[%s\\%sSystem%sVictimCo%s%s]\n"
                % (VICTIM, VENDOR_ID, OEM, FULLWIDTH, FULLWIDTH, FULLWIDTH, VENDOR_ID)),
    Machine("NT: a vendor-named link to another program's key", "winxp",
            seed=["link", relative(VENDOR_OEM), relative(VICTIM)],
            gone=[VENDOR_OEM]),
    Machine("NT: a link below the vendor's key to its own parent", "winxp",
            reg="[%s\\Kept]\n" % VENDOR_OEM,
            seed=["link", relative(VENDOR_OEM) + "\\Loop", relative(VENDOR_OEM)],
            gone=[VENDOR_OEM]),
    Machine("NT: a link below the vendor's key to the OEM key, its parent's parent", "winxp",
            seed=["link", relative(VENDOR_OEM) + "\\Up", relative(OEM)],
            gone=[VENDOR_OEM]),
    Machine("NT: a chain 600 levels deep below the vendor's key", "winxp",
            seed=["deep", relative(VENDOR_OEM), "600", "L"]),
    Machine("NT: a chain 500 levels deep, within the bound", "winxp",
            seed=["deep", relative(VENDOR_OEM), "500", "L"],
            gone=[VENDOR_OEM]),
    Machine("NT, code page 932: a vendor's key whose name's trail byte is a backslash", "winxp",
            reg="[%s\\%s\\Below]\n\n[%s\\%s]\n" % (VENDOR_OEM, TABLE, OEM, TABLE),
            gone=[VENDOR_OEM], lang="ja_JP.UTF-8"),
    Machine("9x: an instance key that best fit (U+FF3C) makes a path from the root", "win98",
            reg='[%s\\0000]\n"Driver"="MEDIA\\\\0001"\n\n[%s\\%sSYSTEM%sVictimCo]\n\n[%s\\0001]\n'
                % (ENUM_9X, ENUM_9X, FULLWIDTH, FULLWIDTH, CLASS_9X),
            gone=[ENUM_9X + "\\0000", CLASS_9X + "\\0001"], named=[CLASS_9X + "\\0001"]),
    Machine("9x: an instance key named with set minus (U+2216) alone", "win98",
            reg="[%s\\%s]\n" % (ENUM_9X, SET_MINUS)),
    Machine("9x, code page 932: an instance whose name's trail byte is a backslash", "win98",
            reg='[%s\\%s]\n"Driver"="MEDIA\\\\0001"\n\n[%s\\0001]\n\n[%s\\%s]\n'
                % (ENUM_9X, SO, CLASS_9X, OEM, SO),
            gone=[ENUM_9X, CLASS_9X + "\\0001"], named=[CLASS_9X + "\\0001"], lang="ja_JP.UTF-8"),
    Machine("9x: a Driver value of the wrong type in a vendor's instance", "win98",
            reg='[%s\\0000]\n"Driver"=hex:4d,00\n\n[%s\\0001]\n"Driver"="MEDIA\\\\0001"\n\n[%s\\0001]\n'
                % (ENUM_9X, ENUM_9X, CLASS_9X),
            gone=[ENUM_9X, CLASS_9X + "\\0001"], named=[CLASS_9X + "\\0001"]),
    Machine("9x: a DeviceInstance of the wrong type in a foreign interface key", "win98",
            reg='[%s\\##?#HID#VID_1234&PID_5678#1]\n"DeviceInstance"=dword:00000001\n\n'
                '[%s\\##?#HID#VID_2F7A&PID_00A1#7&1]\n"DeviceInstance"="HID\\\\VID_2F7A&PID_00A1\\\\7&1"\n'
                % (HID_INTERFACES, HID_INTERFACES),
            gone=[HID_INTERFACES + "\\##?#HID#VID_2F7A&PID_00A1#7&1"]),
    # The walk stops at its bound here too, but the 9x family's RegDeleteKey
    # takes a key with everything below it: the instance goes whole.
    Machine("9x: a chain 600 levels deep below the vendor's instance", "win98",
            seed=["deep", relative(ENUM_9X) + "\\0000", "600", "L"],
            gone=[ENUM_9X]),
]
