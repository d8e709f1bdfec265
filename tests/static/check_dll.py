#!/usr/bin/env python3
"""Static checks of the shipped i686 JQInst2k.dll, read straight from the file.

    check_dll.py [PATH]        (default: build/win32/JQInst2k.dll)

What an installation program relies on before it runs a line of the DLL:
the export directory (module name, the sixteen undecorated names at their
ordinals), an import table that a bare Windows satisfies, every export
removing its 12 bytes of arguments, a version resource, and a modest size.

How the `ret $0xc` check finds an export's body: the DLL is stripped, so
there are no symbols, but the i686 toolchain unwinds with DWARF and keeps an
.eh_frame record (FDE) for every compiled function, with its exact start and
length. The body of an export is the FDE range that starts at the export's
address. Every `ret` in it must be `ret $0xc`. The compiler may move parts of
a function elsewhere (a ".cold" part) or end it with a tail jump into another
function, whose `ret` then returns to the installer; so every direct jump that
leaves the body is followed, transitively, and the code it reaches is held to
the same rule. Calls are not followed: their `ret` returns into the export.
Code reached that has no FDE is read by a linear sweep up to its first
`ret` or unconditional jump. Indirect jumps cannot be followed and are listed.

The import check holds, per DLL, every function the DLL may import: each one
exported by that DLL on Windows 95, 98, Me, 2000 and XP, with where that was
read. The loader of those systems refuses a DLL whose import table names a
function its DLL does not export, so the installer would get no export at
all: a name that the cross linker's import libraries carry in more than one
DLL (kernel32 also carries OpenThreadToken, which only Windows 8 and later
export from there) must be bound to the DLL of the oldest target. Wine
exports such names from both, so only this check stands for the older
loaders. No C runtime DLL may be imported at all (Windows 95 as shipped has
no msvcrt.dll; the DLL carries its own C functions, src/runtime), and the
TLS directory must be empty: Windows 95's LoadLibrary fails for a DLL with
static TLS (Microsoft KB Q118816).

Prints one line per check and a final "N passed, N failed"; exits 1 on any
failure. Python 3 standard library and i686-w64-mingw32-objdump only.
"""

import bisect
import os
import re
import shutil
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def read_export_list(path=os.path.join(ROOT, "src", "host", "export_list.h")):
    """The exports in ordinal order, from the one list the DLL is built from."""
    with open(path, encoding="utf-8") as f:
        rows = re.findall(r"X\((\d+), (\w+),", f.read())
    names = [name for _, name in sorted((int(o), n) for o, n in rows)]
    if not names or [int(o) for o, _ in rows] != list(range(1, len(names) + 1)):
        raise SystemExit("%s: the export list must number its rows 1, 2, 3... in order" % path)
    return names


EXPORTS = read_export_list()
MODULE_NAME = "JQInst2k.dll"
REQUIRED_IMPORTS = {"kernel32.dll"}

# The functions each DLL may be imported from: exported by it on Windows 95,
# 98, Me, 2000 and XP. Each name says where that was read:
#  - kernel32: mingw-w64's mingw-w64-crt/lib32/kernel32.def, which lists the
#    symbols of 32-bit kernel32.dll in sections by the Windows that introduced
#    them (checked against its 2025 text);
#  - advapi32, user32: mingw-w64's lib32 .def files for these two are plain
#    alphabetical lists, so Microsoft's page for the function stands alone:
#    its Requirements for 98, Me, 2000 and XP, and the QuickInfo of the MSDN
#    Library of 1998 for Windows 95 ("Requires Windows 95 or later", or
#    "Unsupported" for a security call, which 95 exports as a stub).
# "9x stub" marks a function that the 9x family exports only as a stub that
# fails with ERROR_CALL_NOT_IMPLEMENTED (a wide-character call, and the
# security calls, which Windows 95/98/Me provide so that Win32 programs
# load); the README says which roads reach them.
K32_ALL = "kernel32.def: all Windows (9x since 95, NT since 3.1)"
K32_1_15 = "kernel32.def: Win32s 1.15, all 9x, NT since 3.5"
K32_1_20 = "kernel32.def: Win32s 1.20, all 9x, NT since 3.5"
MSDN = "Microsoft: Windows 95 or later"
MSDN_STUB = "Microsoft: NT 3.1 or later; 9x stub"
TARGET_IMPORTS = {
    "kernel32.dll": dict(
        {name: K32_ALL for name in (
            "CloseHandle DeleteCriticalSection EnterCriticalSection ExitProcess FreeLibrary GetACP "
            "GetCurrentProcess GetCurrentThread GetCurrentThreadId GetLastError GetModuleHandleA "
            "GetProcAddress GetProcessHeap GetSystemDirectoryA HeapAlloc HeapFree HeapReAlloc "
            "InitializeCriticalSection LeaveCriticalSection LoadLibraryA OutputDebugStringA "
            "ReleaseSemaphore SetLastError Sleep TerminateProcess TlsAlloc TlsFree TlsGetValue "
            "TlsSetValue VirtualProtect VirtualQuery WaitForSingleObject").split()},
        CreateSemaphoreW=K32_ALL + "; 9x stub",
        GetVersionExA=K32_1_15,
        DisableThreadLibraryCalls=K32_1_20, IsDBCSLeadByteEx=K32_1_20),
    "advapi32.dll": dict(
        {name: MSDN_STUB for name in (
            "AllocateAndInitializeSid EqualSid FreeSid GetTokenInformation OpenProcessToken "
            "OpenThreadToken").split()},
        **{name: MSDN for name in (
            "RegCloseKey RegDeleteKeyA RegDeleteValueA RegEnumKeyExA RegEnumValueA RegFlushKey "
            "RegOpenKeyExA RegQueryInfoKeyA RegQueryValueExA").split()}),
    "user32.dll": {name: MSDN for name in (
        "DialogBoxIndirectParamA EndDialog GetSystemMetrics GetWindowLongA LoadIconA MessageBeep "
        "SendDlgItemMessageA SetWindowLongA").split()},
}
# C runtime DLLs, none of which every target has: msvcrt.dll came with
# Windows 98 and NT 4.0, crtdll.dll is Microsoft's old one, the others are
# Visual C++ and Universal CRT redistributables, and GCC's own.
C_RUNTIME_DLL = re.compile(
    r"^(msvcr.*|msvcp.*|crtdll|ucrtbase.*|api-ms-win-crt-.*|vcruntime.*|libstdc\+\+.*|libgcc_s.*"
    r"|libwinpthread.*)\.dll$", re.IGNORECASE)
IMAGE_DIRECTORY_ENTRY_TLS = 9
MAX_SIZE = 160 * 1024
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_DLL = 0x2000


class PEError(Exception):
    pass


UNREADABLE = (PEError, struct.error, ValueError)  # what a malformed image makes the readers raise


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PEError("no MZ header")
        (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe_offset:pe_offset + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        coff = pe_offset + 4
        (self.machine, sections, _, _, _, opt_size, self.characteristics) = struct.unpack_from(
            "<HHIIIHH", data, coff)
        opt = coff + 20
        (magic,) = struct.unpack_from("<H", data, opt)
        # PE32 and PE32+: the image base's format and place, the directory count's place, the pointer size
        layouts = {0x10B: ("<I", 28, 92, 4), 0x20B: ("<Q", 24, 108, 8)}
        if magic not in layouts:
            raise PEError("unknown optional header magic %#x" % magic)
        base_format, base_at, count_at, self.pointer_size = layouts[magic]
        (self.image_base,) = struct.unpack_from(base_format, data, opt + base_at)
        (count,) = struct.unpack_from("<I", data, opt + count_at)
        dirs = opt + count_at + 4
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(count)]
        self.sections = []
        table = opt + opt_size
        for i in range(sections):
            raw = data[table + 40 * i:table + 40 * (i + 1)]
            name = raw[:8].rstrip(b"\0").decode("latin-1")
            vsize, vaddr, rsize, rptr = struct.unpack_from("<IIII", raw, 8)
            self.sections.append((name, vaddr, max(vsize, rsize), rptr, rsize))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for _, vaddr, vsize, rptr, rsize in self.sections:
            if vaddr <= rva < vaddr + vsize:
                if rva - vaddr >= rsize:
                    raise PEError("RVA %#x lies in uninitialised data" % rva)
                return rptr + rva - vaddr
        raise PEError("RVA %#x is outside every section" % rva)

    def read(self, fmt, rva):
        """The little-endian struct `fmt` at `rva`, as a tuple."""
        return struct.unpack_from("<" + fmt, self.data, self.offset(rva))

    def cstring(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("latin-1")

    def section(self, prefix):
        for name, vaddr, vsize, rptr, rsize in self.sections:
            if name.startswith(prefix):
                return vaddr, self.data[rptr:rptr + min(vsize, rsize)]
        return None

    def exports(self):
        """(module name, ordinal base, {ordinal: rva}, {name: ordinal}, forwarded names)"""
        rva, size = self.directory(0)
        if rva == 0:
            raise PEError("no export directory")
        # (characteristics, time stamp and version skipped)
        name_rva, base, n_functions, n_names, functions, names, ordinals = self.read("12x7I", rva)
        addresses = {base + i: self.read("I", functions + 4 * i)[0] for i in range(n_functions)}
        by_name, forwarded = {}, []
        for i in range(n_names):
            name = self.cstring(self.read("I", names + 4 * i)[0])
            ordinal = base + self.read("H", ordinals + 2 * i)[0]
            by_name.setdefault(name, []).append(ordinal)
            if rva <= addresses.get(ordinal, 0) < rva + size:
                forwarded.append(name)
        return self.cstring(name_rva), base, addresses, by_name, forwarded

    def descriptors(self, index, fmt):
        """The entries of a directory's table, up to the first whose fields are all zero."""
        rva, _ = self.directory(index)
        while rva:
            fields = self.read(fmt, rva)
            if not any(fields):
                break
            yield fields
            rva += struct.calcsize("<" + fmt)

    def imports(self):
        """[(DLL name, [function name, or "#ordinal"])] in table order"""
        tables = []
        flag = 1 << (8 * self.pointer_size - 1)
        # lookup table, (time stamp and forwarder chain skipped), name, address table
        for lookup, name_rva, thunk in self.descriptors(1, "I8xII"):
            functions = []
            entry = lookup or thunk
            while True:
                start = self.offset(entry)
                value = int.from_bytes(self.data[start:start + self.pointer_size], "little")
                if value == 0:
                    break
                functions.append("#%d" % (value & 0xFFFF) if value & flag else self.cstring(value + 2))
                entry += self.pointer_size
            tables.append((self.cstring(name_rva), functions))
        return tables

    def delay_imports(self):
        return [self.cstring(fields[1]) for fields in self.descriptors(13, "8I")]

    def version_resources(self):
        """Every RT_VERSION resource's bytes."""
        root, _ = self.directory(2)
        if root == 0:
            return []

        def entries(directory_rva):
            named, ids = self.read("HH", directory_rva + 12)
            for i in range(named + ids):
                yield self.read("II", directory_rva + 16 + 8 * i)

        def leaves(target):
            if target & 0x80000000:
                for _, child in entries(root + (target & 0x7FFFFFFF)):
                    yield from leaves(child)
            else:
                data_rva, size = self.read("II", root + target)
                start = self.offset(data_rva)
                yield self.data[start:start + size]

        return [leaf for ident, target in entries(root) if ident == 16 for leaf in leaves(target)]  # 16: RT_VERSION


def parse_version_block(data, pos=0):
    """One VS_VERSIONINFO-style node: (key, value bytes, value type, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    key_start = pos + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    cursor = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[cursor:cursor + value_size]
    cursor = (cursor + value_size + 3) & ~3
    children = []
    while cursor + 6 <= end:
        child = parse_version_block(data, cursor)
        if child[4] <= cursor:
            break
        children.append(child)
        cursor = (child[4] + 3) & ~3
    return key, value, value_type, children, end


def version_strings(block):
    key, value, value_type, children, _ = block
    found = {key: value.decode("utf-16-le").rstrip("\0")} if value_type == 1 and value else {}
    for child in children:
        found.update(version_strings(child))
    return found


# --- .eh_frame: function ranges -------------------------------------------------

def read_leb(data, pos, signed=False):
    """A LEB128 number at `pos`: (value, the position after it)."""
    result = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        result |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            if signed and byte & 0x40:
                result -= 1 << shift
            return result, pos


def read_encoded(data, pos, encoding, field_address, pointer_size):
    if encoding == 0xFF:
        return None, pos
    fmt = encoding & 0x0F
    if fmt in (0x01, 0x09):
        value, pos = read_leb(data, pos, signed=fmt == 0x09)
    else:
        size = {0x00: pointer_size, 0x02: 2, 0x03: 4, 0x04: 8, 0x0A: 2, 0x0B: 4, 0x0C: 8}.get(fmt)
        if size is None:
            raise PEError("unknown pointer encoding %#x in .eh_frame" % encoding)
        value = int.from_bytes(data[pos:pos + size], "little", signed=fmt >= 0x09)
        pos += size
    if encoding & 0x70 == 0x10:
        value += field_address
    elif encoding & 0x70:
        raise PEError("unsupported pointer application %#x in .eh_frame" % encoding)
    return value, pos


def function_ranges(pe):
    """[(start VA, end VA)] of every FDE in .eh_frame."""
    found = pe.section(".eh_fram")  # the name is cut to eight characters in a stripped image
    if not found:
        return []
    section_rva, data = found
    base = pe.image_base + section_rva
    cies, ranges = {}, []
    pos = 0
    while pos + 4 <= len(data):
        (length,) = struct.unpack_from("<I", data, pos)
        if length == 0:
            break
        if length == 0xFFFFFFFF:
            raise PEError("64-bit .eh_frame records are not expected in a 32-bit image")
        record = pos + 4
        end = record + length
        (cie_pointer,) = struct.unpack_from("<I", data, record)
        cursor = record + 4
        if cie_pointer == 0:
            version = data[cursor]
            cursor += 1
            aug_end = data.index(b"\0", cursor)
            augmentation = data[cursor:aug_end].decode("latin-1")
            cursor = aug_end + 1
            if "eh" in augmentation:
                cursor += pe.pointer_size
            _, cursor = read_leb(data, cursor)
            _, cursor = read_leb(data, cursor, signed=True)
            cursor = cursor + 1 if version == 1 else read_leb(data, cursor)[1]  # return address register
            encoding = 0x00
            if augmentation.startswith("z"):
                _, cursor = read_leb(data, cursor)
                for letter in augmentation[1:]:
                    if letter == "R":
                        encoding = data[cursor]
                        cursor += 1
                    elif letter == "L":
                        cursor += 1
                    elif letter == "P":
                        personality = data[cursor]
                        _, cursor = read_encoded(data, cursor + 1, personality & 0x7F, base + cursor + 1,
                                                 pe.pointer_size)
            cies[pos] = encoding
        else:
            encoding = cies.get(record - cie_pointer)
            if encoding is None:
                raise PEError("FDE at %#x names no known CIE" % pos)
            start, cursor = read_encoded(data, cursor, encoding, base + cursor, pe.pointer_size)
            size, cursor = read_encoded(data, cursor, encoding & 0x0F, base + cursor, pe.pointer_size)
            if size:
                ranges.append((start, start + size))
        pos = end
    return sorted(ranges)


# --- disassembly --------------------------------------------------------------------

INSN = re.compile(r"^\s*([0-9a-f]+):\s+(.*?)\s*$")
RET = re.compile(r"^(?:(?:rep[nz]?|bnd|notrack)\s+)*(l?ret[lwq]?)\b\s*(.*)$")
JUMP = re.compile(r"^(?:(?:bnd|notrack|ds|cs)\s+)*(j[a-z]+)\s+(\*?)(0x[0-9a-f]+|\S+)")


def disassemble(path, objdump):
    output = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-j", ".text", path],
                            check=True, capture_output=True, text=True).stdout
    code = {}
    for line in output.splitlines():
        match = INSN.match(line)
        if match and match.group(2) and not match.group(2).startswith("<"):
            code[int(match.group(1), 16)] = match.group(2)
    return code


def check_returns(entry, code, addresses, ranges):
    """Bad returns and notes for the code an export can reach without a call."""
    def range_of(address):
        return next(((start, end) for start, end in ranges if start <= address < end), None)

    bad, notes, good = [], [], 0
    seen, work = set(), [entry]
    first = range_of(entry)
    if first is None:
        notes.append("no unwind record at %#x: linear sweep" % entry)
    elif first[0] != entry:
        notes.append("export at %#x starts inside the function at %#x" % (entry, first[0]))
    while work:
        start = work.pop()
        span = range_of(start)
        key = span or ("sweep", start)
        if key in seen:
            continue
        seen.add(key)
        begin, stop = span or (start, None)  # stop None: a linear sweep
        for count, address in enumerate(addresses[bisect.bisect_left(addresses, begin):], 1):
            if stop is not None and address >= stop:
                break
            text = code[address]
            ret = RET.match(text)
            if ret:
                if ret.group(1) == "ret" and ret.group(2) == "$0xc":
                    good += 1
                else:
                    bad.append("%#x: %s" % (address, text))
                if stop is None:
                    break
                continue
            jump = JUMP.match(text)
            if jump:
                if jump.group(2) == "*":
                    notes.append("indirect jump at %#x not followed: %s" % (address, text))
                elif jump.group(3).startswith("0x"):
                    target = int(jump.group(3), 16)
                    if not (span and span[0] <= target < span[1]):
                        work.append(target)
                if stop is None and jump.group(1) == "jmp":
                    break
            if stop is None and count > 20000:
                notes.append("linear sweep from %#x gave up" % start)
                break
    return good, bad, notes


# --- the checks -----------------------------------------------------------------------

class Report:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, label, detail=""):
        self.passed += bool(ok)
        self.failed += not ok
        print("%s: %s%s" % ("PASS" if ok else "FAIL", label, (" - " + detail) if detail else ""))

    def summary(self):
        """The last line, and the exit code."""
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 else 1


def main(argv):
    path = argv[1] if len(argv) > 1 else os.path.join(ROOT, "build", "win32", "JQInst2k.dll")
    report = Report()
    print("Static checks of %s" % path)
    try:
        with open(path, "rb") as f:
            data = f.read()
        pe = PE(data)
    except (OSError, PEError, struct.error) as e:
        report.check(False, "the file is a PE image", str(e))
        return report.summary()

    report.check(pe.machine == IMAGE_FILE_MACHINE_I386 and pe.characteristics & IMAGE_FILE_DLL,
                 "32-bit x86 DLL", "machine %#x, characteristics %#x" % (pe.machine, pe.characteristics))

    report.check(len(data) <= MAX_SIZE, "file size %d bytes (limit %d)" % (len(data), MAX_SIZE))

    try:
        module, base, addresses, by_name, forwarded = pe.exports()
    except UNREADABLE as e:
        report.check(False, "export directory readable", str(e))
        module, base, addresses, by_name, forwarded = "", 0, {}, {}, []
    report.check(module == MODULE_NAME, 'export directory names the module "%s"' % MODULE_NAME,
                 "found %r" % module)
    expected = {name: i + 1 for i, name in enumerate(EXPORTS)}
    actual = {name: ordinals[0] for name, ordinals in by_name.items() if len(ordinals) == 1}
    wrong = ["%s@%s" % (name, by_name.get(name)) for name in EXPORTS if actual.get(name) != expected[name]]
    extra = sorted(set(by_name) - set(EXPORTS))
    report.check(not wrong and not extra and len(by_name) == 16,
                 "sixteen export names at ordinals 1..16",
                 "; ".join(filter(None, ["wrong: " + ", ".join(wrong) if wrong else "",
                                         "unexpected: " + ", ".join(extra) if extra else ""])))
    report.check(base == 1 and sorted(addresses) == list(range(1, 17)) and all(addresses.values()),
                 "sixteen ordinals, no gaps, no extra entries",
                 "base %d, ordinals %s" % (base, sorted(addresses)))
    decorated = [n for n in by_name if "@" in n or n.startswith("_") or "?" in n]
    report.check(not decorated, "export names undecorated", ", ".join(decorated))
    report.check(not forwarded, "no forwarded exports", ", ".join(forwarded))

    try:
        imports = pe.imports()
        delayed = pe.delay_imports()
    except UNREADABLE as e:
        imports, delayed = [], ["unreadable: %s" % e]
    lowered = {dll.lower() for dll, _ in imports}
    runtimes = [dll for dll, _ in imports if C_RUNTIME_DLL.match(dll)]
    report.check(not runtimes, "no C runtime DLL imported",
                 ("imports %s, which Windows 95 as shipped lacks" % ", ".join(runtimes)) if runtimes else "")
    report.check(lowered <= set(TARGET_IMPORTS) and REQUIRED_IMPORTS <= lowered,
                 "imports only KERNEL32, ADVAPI32, USER32",
                 "found " + ", ".join(dll for dll, _ in imports))
    for dll, functions in imports:
        allowed = TARGET_IMPORTS.get(dll.lower())  # None: a DLL reported above
        for function in (f for f in functions if allowed is not None and f not in allowed):
            homes = [other for other, names in TARGET_IMPORTS.items() if function in names]
            where = ("; on those systems %s exports it" % " and ".join(homes)) if homes else ""
            report.check(False, "%s imported from %s" % (function, dll),
                         "not exported by %s on Windows 95, 98, Me, 2000 and XP%s" % (dll, where))
    count = sum(len(functions) for _, functions in imports)
    report.check(count > 0, "every one of the %d imported functions is exported by its DLL on "
                 "Windows 95, 98, Me, 2000 and XP" % count)
    tls_rva, tls_size = pe.directory(IMAGE_DIRECTORY_ENTRY_TLS)
    report.check(tls_rva == 0 and tls_size == 0, "no TLS directory",
                 ("%d bytes at RVA %#x: Windows 95's LoadLibrary refuses a DLL with static TLS "
                  "(KB Q118816)" % (tls_size, tls_rva)) if tls_rva or tls_size else "")
    report.check(not delayed, "no delay-loaded imports", ", ".join(delayed))

    try:
        strings, fixed_ok = {}, False
        for resource in pe.version_resources():
            block = parse_version_block(resource)
            fixed_ok = fixed_ok or (block[0] == "VS_VERSION_INFO" and len(block[1]) >= 52 and
                                    struct.unpack_from("<I", block[1])[0] == 0xFEEF04BD)
            strings.update(version_strings(block))
        report.check(fixed_ok and strings.get("OriginalFilename") == MODULE_NAME,
                     "VERSIONINFO with OriginalFilename %s" % MODULE_NAME,
                     "FileVersion %s, OriginalFilename %s" % (strings.get("FileVersion"),
                                                              strings.get("OriginalFilename")))
    except UNREADABLE as e:  # UnicodeDecodeError among them
        report.check(False, "VERSIONINFO readable", str(e))

    objdump = shutil.which("i686-w64-mingw32-objdump")
    if not objdump:
        report.check(False, "every export returns with ret $0xc", "i686-w64-mingw32-objdump not found")
    elif addresses:
        try:
            ranges = function_ranges(pe)
            code = disassemble(path, objdump)
        except UNREADABLE + (subprocess.CalledProcessError,) as e:
            report.check(False, "every export returns with ret $0xc", str(e))
        else:
            ordered = sorted(code)
            for ordinal in sorted(addresses):
                name = EXPORTS[ordinal - 1] if 1 <= ordinal <= 16 else "#%d" % ordinal
                good, bad, notes = check_returns(pe.image_base + addresses[ordinal], code, ordered, ranges)
                detail = "; ".join(bad + notes) if (bad or notes) else "%d ret $0xc" % good
                report.check(good > 0 and not bad, "%s (#%d) returns with ret $0xc" % (name, ordinal), detail)

    return report.summary()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
