#!/usr/bin/env python3
"""Writes a large registry export for the preview benchmark: a whole
HKEY_LOCAL_MACHINE as regedit writes it (version 5.00, UTF-16LE with its
byte-order mark, CR LF), about the size asked for.

The vendor's keys of the built-in sample machine come first, so that the
removal road has devices to remove; then bulk of the kinds a current
Windows has: the control set (services, other vendors' USB and PCI device
instances, each with its Control subkey, so the library's walks meet them)
as CurrentControlSet and again as the ControlSet001 it links to, and the
rest software: class registrations under SOFTWARE\\Classes and programs'
settings; texts, numbers, binary data continued over lines, hex(2) and
hex(7) data. The output is the same for the same size.

    bench/preview_export.py SIZE_MB OUT.reg [--ansi]
"""
import random
import sys

SAMPLE = "tools/preview/sample/sample-xp.reg"
SYSTEM_SHARE = 0.12  # of the file, for each of the two copies of the control set
USB_DEVICES = 400    # other vendors' USB devices: the library's walks visit each


def hex_lines(prefix, data):
    """Hex data as regedit writes it: lines within 80 columns."""
    out = prefix
    length = len(prefix)
    parts = []
    for i, b in enumerate(data):
        piece = "%02x" % b
        if i + 1 < len(data):
            piece += ","
        if length + len(piece) > 77 and i + 1 < len(data):
            parts.append(out + "\\")
            out = "  "
            length = 2
        out += piece
        length += len(piece)
    parts.append(out)
    return "\r\n".join(parts)


def wide(text):
    return list(text.encode("utf-16-le")) + [0, 0]


class Writer:
    """Lines to a file, or kept (path None) to be written later."""

    def __init__(self, path, ansi):
        self.path = path
        self.lines = []
        self.file = open(path, "wb") if path else None
        self.ansi = ansi
        self.size = 0
        self.chunk = []
        self.chunk_len = 0
        if self.file and not ansi:
            self.file.write(b"\xff\xfe")

    def line(self, text):
        if self.file is None:
            self.lines.append(text)
            self.size += (len(text) + 2) * (1 if self.ansi else 2)
            return
        self.chunk.append(text)
        self.chunk_len += len(text) + 2
        if self.chunk_len > 1 << 20:
            self.flush()

    def flush(self):
        text = "\r\n".join(self.chunk) + "\r\n"
        data = text.encode("cp1252" if self.ansi else "utf-16-le")
        self.file.write(data)
        self.size += len(data)
        self.chunk = []
        self.chunk_len = 0

    def close(self):
        self.flush()
        self.file.close()


def key(w, path, values):
    if w.path is None:
        path = "SYSTEM\\*\\" + path
    w.line("[HKEY_LOCAL_MACHINE\\" + path + "]")
    for v in values:
        w.line(v)
    w.line("")


def guid(rnd):
    return "{%08X-%04X-%04X-%04X-%012X}" % (rnd.getrandbits(32), rnd.getrandbits(16), rnd.getrandbits(16),
                                             rnd.getrandbits(16), rnd.getrandbits(48))


def device(w, rnd, enumerator, device_id, n):
    inst = "%d&%x&0&%d" % (rnd.randint(4, 7), rnd.getrandbits(28), n)
    base = "Enum\\" + enumerator + "\\" + device_id + "\\" + inst
    hwids = [enumerator + "\\" + device_id + "&REV_0100", enumerator + "\\" + device_id]
    key(w, base, [
        '"DeviceDesc"="USB Human Interface Device %d"' % n,
        hex_lines('"HardwareID"=hex(7):', sum((wide(h)[:-2] + [0, 0] for h in hwids), []) + [0, 0]),
        hex_lines('"CompatibleIDs"=hex(7):', wide("USB\\Class_03&SubClass_00&Prot_00")[:-2] + [0, 0, 0, 0]),
        '"ClassGUID"="{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"',
        '"Driver"="{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\%04d"' % (n % 10000),
        '"Mfg"="(Standard system devices)"',
        '"Service"="HidUsb"',
        '"ConfigFlags"=dword:00000000',
        '"Capabilities"=dword:000000a0',
    ])
    key(w, base + "\\Device Parameters", ['"SelectiveSuspendEnabled"=hex:00'])
    key(w, base + "\\Control", ['"ActiveService"="HidUsb"'])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    target = int(float(sys.argv[1]) * 1000 * 1000)
    ansi = "--ansi" in sys.argv[3:]
    w = Writer(sys.argv[2], ansi)
    rnd = random.Random(2026)

    w.line("Windows Registry Editor Version 5.00")
    w.line("")
    with open(SAMPLE, encoding="cp1252", newline="") as f:
        for line in f.read().split("\r\n")[1:]:
            if not line.startswith(";"):
                w.line(line)
    # In the order regedit exports them: SOFTWARE before SYSTEM, and in
    # SYSTEM ControlSet001, CurrentControlSet, Select.
    # The control set: a share of the file, written twice, as regedit exports
    # it: as CurrentControlSet and as the ControlSet001 it links to.
    system = Writer(None, ansi)
    n = 0
    while system.size < target * SYSTEM_SHARE:
        n += 1
        if n % 4 == 0 and n // 4 <= USB_DEVICES:
            device(system, rnd, "USB", "VID_%04X&PID_%04X" % (0x0400 + n % 0x2000, n % 0x10000), n)
        elif n % 4 == 1:
            device(system, rnd, "PCI", "VEN_%04X&DEV_%04X&SUBSYS_%08X" % (0x8086, n % 0x10000, n), n)
        else:
            name = "Svc%06d" % n
            key(system, "Services\\" + name, [
                '"Type"=dword:00000010',
                '"Start"=dword:00000003',
                '"ErrorControl"=dword:00000001',
                hex_lines('"ImagePath"=hex(2):', wide("system32\\drivers\\%s.sys" % name)),
                '"DisplayName"="Service %d"' % n,
                hex_lines('"FailureActions"=hex:', [rnd.getrandbits(8) for _ in range(rnd.randint(20, 120))]),
            ])
    while w.size + w.chunk_len * (1 if ansi else 2) + 2 * system.size < target:
        n += 1
        clsid = guid(rnd)
        base = "SOFTWARE\\Classes\\CLSID\\" + clsid
        key(w, base, ['@="Component %d of %s"' % (n, clsid)])
        key(w, base + "\\InprocServer32", [
            hex_lines('@=hex(2):', wide("%%SystemRoot%%\\System32\\comp%05d.dll" % (n % 100000))),
            '"ThreadingModel"="Both"',
        ])
        key(w, base + "\\ProgID", ['@="Comp.Object.%d"' % n])
        key(w, "SOFTWARE\\Vendor%03d\\Product%d\\Settings" % (n % 300, n), [
            '"InstallDir"="C:\\\\Program Files\\\\Vendor%03d\\\\Product%d"' % (n % 300, n),
            '"Version"=dword:%08x' % n,
            '"Flags"=dword:00000001',
            hex_lines('"State"=hex:', [rnd.getrandbits(8) for _ in range(rnd.randint(8, 40))]),
            hex_lines('"Recent"=hex(7):', sum((wide("file%d.txt" % i) for i in range(3)), []) + [0, 0]),
        ])
    for name in ("ControlSet001", "CurrentControlSet"):
        for line in system.lines:
            w.line(line.replace("[HKEY_LOCAL_MACHINE\\SYSTEM\\*", "[HKEY_LOCAL_MACHINE\\SYSTEM\\" + name))

    w.line("")
    w.line("[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]")
    w.line('"Current"=dword:00000001')
    w.line('"Default"=dword:00000001')
    w.line('"LastKnownGood"=dword:00000002')
    w.line("")

    w.close()
    print("%s: %d bytes, %d bulk entries" % (sys.argv[2], w.size + (0 if ansi else 2), n))


if __name__ == "__main__":
    main()
