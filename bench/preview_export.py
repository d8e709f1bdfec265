#!/usr/bin/env python3
"""Writes a large registry export for the preview benchmark: a whole
HKEY_LOCAL_MACHINE as regedit writes it (version 5.00, UTF-16LE with its
byte-order mark, CR LF), about the size asked for.

The vendor's keys of the built-in sample machine come first, so that the
removal road has devices to remove; then bulk of the kinds a current
Windows has: class registrations under SOFTWARE\\Classes, services and
device instances (other vendors' USB and PCI devices, each with its
Control subkey, so the library's walks meet them), texts, numbers, long
binary data continued over lines, hex(2) and hex(7) data. The output is
the same for the same size.

    bench/preview_export.py SIZE_MB OUT.reg [--ansi]
"""
import random
import sys

SAMPLE = "tools/preview/sample/sample-xp.reg"


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
    def __init__(self, path, ansi):
        self.file = open(path, "wb")
        self.ansi = ansi
        self.size = 0
        self.chunk = []
        self.chunk_len = 0
        if not ansi:
            self.file.write(b"\xff\xfe")

    def line(self, text):
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
    w.line("[HKEY_LOCAL_MACHINE\\" + path + "]")
    for v in values:
        w.line(v)
    w.line("")


def guid(rnd):
    return "{%08X-%04X-%04X-%04X-%012X}" % (rnd.getrandbits(32), rnd.getrandbits(16), rnd.getrandbits(16),
                                             rnd.getrandbits(16), rnd.getrandbits(48))


def device(w, rnd, ccs, enumerator, device_id, n):
    inst = "%d&%x&0&%d" % (rnd.randint(4, 7), rnd.getrandbits(28), n)
    base = ccs + "\\Enum\\" + enumerator + "\\" + device_id + "\\" + inst
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
    ccs = "SYSTEM\\CurrentControlSet"
    w.line("")

    n = 0
    while w.size + w.chunk_len * (1 if ansi else 2) < target:
        n += 1
        kind = n % 10
        if kind < 6:
            clsid = guid(rnd)
            base = "SOFTWARE\\Classes\\CLSID\\" + clsid
            key(w, base, ['@="Component %d of %s"' % (n, clsid)])
            key(w, base + "\\InprocServer32", [
                hex_lines('@=hex(2):', wide("%%SystemRoot%%\\System32\\comp%05d.dll" % (n % 100000))),
                '"ThreadingModel"="Both"',
            ])
            key(w, base + "\\ProgID", ['@="Comp.Object.%d"' % n])
        elif kind < 8:
            name = "Svc%06d" % n
            key(w, ccs + "\\Services\\" + name, [
                '"Type"=dword:00000010',
                '"Start"=dword:00000003',
                '"ErrorControl"=dword:00000001',
                hex_lines('"ImagePath"=hex(2):', wide("system32\\drivers\\%s.sys" % name)),
                '"DisplayName"="Service %d"' % n,
                hex_lines('"FailureActions"=hex:', [rnd.getrandbits(8) for _ in range(rnd.randint(20, 120))]),
            ])
        elif kind == 8:
            device(w, rnd, ccs, "USB", "VID_%04X&PID_%04X" % (0x0400 + n % 0x2000, n % 0x10000), n)
        else:
            device(w, rnd, ccs, "PCI", "VEN_%04X&DEV_%04X&SUBSYS_%08X" % (0x8086, n % 0x10000, n), n)
    w.close()
    print("%s: %d bytes, %d bulk entries" % (sys.argv[2], w.size + (0 if ansi else 2), n))


if __name__ == "__main__":
    main()
