#!/usr/bin/env python3
"""Checks check_dll.py against small DLLs built here with the i686 toolchain:
one shaped like the shipped DLL (with its own C runtime, src/runtime), which
must pass, and faulty ones, each of whose faults must be caught. Python 3
standard library; needs i686-w64-mingw32-g++ and -windres.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from tests import unittest_main
from tests.static.check_dll import EXPORTS

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(os.path.dirname(os.path.dirname(HERE)), "src")
# The DLL's own C runtime, built as windows/CMakeLists.txt builds it.
RUNTIME = ([os.path.join(SRC, "runtime", name) for name in ("c_runtime.cpp", "text_bytes.cpp")]
           + ["-I" + SRC, "-fno-builtin", "-fno-tree-loop-distribute-patterns",
              "-Wl,--disable-runtime-pseudo-reloc", "-Wl,--disable-auto-import"])
CHECKER = os.path.join(HERE, "check_dll.py")

CXX = "i686-w64-mingw32-g++"
WINDRES = "i686-w64-mingw32-windres"

VERSION_RC = r"""
#include <winver.h>
VS_VERSION_INFO VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 1,2,3,4
FILETYPE VFT_DLL
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904B0"
        BEGIN
            VALUE "FileVersion", "1.2.3.4"
            VALUE "OriginalFilename", "%s"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x409, 1200
    END
END
"""


def export_source(overrides=None, head="#include <windows.h>"):
    """Sixteen stdcall exports after `head`; `overrides` maps a name to its own source text."""
    overrides = overrides or {}
    lines = [head, 'extern "C" {']
    for name in EXPORTS:
        lines.append(overrides.get(name, "LONG WINAPI %s(HWND, LONG*, LPCSTR t) { return t ? t[0] : 0; }" % name))
    lines.append("}")
    return "\n".join(lines) + "\n"


def def_file(module="JQInst2k.dll", names=None):
    names = names if names is not None else [(name, i + 1) for i, name in enumerate(EXPORTS)]
    return 'LIBRARY "%s"\nEXPORTS\n' % module + "".join("    %s @%d\n" % entry for entry in names)


class CheckDllTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not shutil.which(CXX):
            raise unittest.SkipTest(CXX + " not installed")
        cls.work = tempfile.mkdtemp(prefix="jq-static-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def build(self, tag, source, definition, original_name="JQInst2k.dll", libraries=(), with_version=True,
              runtime=True):
        folder = os.path.join(self.work, tag)
        os.makedirs(folder)
        for name, text in (("dll.cpp", source), ("dll.def", definition),
                           ("version.rc", VERSION_RC % original_name)):
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
        inputs = [os.path.join(folder, "dll.cpp"), os.path.join(folder, "dll.def")]
        if with_version:
            resource = os.path.join(folder, "version.o")
            subprocess.run([WINDRES, os.path.join(folder, "version.rc"), resource], check=True)
            inputs.append(resource)
        output = os.path.join(folder, "JQInst2k.dll")
        subprocess.run([CXX, "-shared", "-Os", "-s", "-static", "-Wl,--enable-stdcall-fixup", "-o", output]
                       + inputs + (RUNTIME if runtime else []) + list(libraries), check=True)
        return output

    def check(self, path):
        done = subprocess.run([sys.executable, CHECKER, path], capture_output=True, text=True)
        lines = done.stdout.splitlines()
        failed = [line for line in lines if line.startswith("FAIL:")]
        return done.returncode, failed, lines

    def assertCaught(self, path, *fragments, count=None):
        """The checker fails the DLL at `path` with a failure that mentions each
        fragment, and with `count` failures in all where that is given."""
        code, failed, _ = self.check(path)
        self.assertEqual(code, 1)
        for fragment in fragments:
            self.assertTrue(any(fragment in line for line in failed),
                            "no failure mentions %r in:\n%s" % (fragment, "\n".join(failed)))
        if count is not None:
            self.assertEqual(len(failed), count, "\n".join(failed))
        return failed

    def test_a_well_formed_dll_passes_every_check(self):
        code, failed, lines = self.check(self.build("good", export_source(), def_file()))
        self.assertEqual(code, 0, "\n".join(lines))
        self.assertEqual(failed, [])
        self.assertEqual(lines[-1], "%d passed, 0 failed" % (len(lines) - 2))

    def test_exports_that_do_not_remove_their_arguments_are_caught(self):
        source = export_source({
            # cdecl: the caller's 12 bytes stay on the stack.
            "IsAdmin": "LONG __cdecl IsAdmin(HWND, LONG*, LPCSTR t) { return t != 0; }",
            # Removes only 8 bytes.
            "IsWinMe": "LONG WINAPI IsWinMe(HWND, LONG*) { return 1; }",
            # Tail jump into a cdecl function: its plain ret returns to the caller.
            "NeedReboot": ('int __attribute__((noinline)) jqHelper(void) { return 2; }\n'
                           'asm(".globl _NeedReboot@12\\n_NeedReboot@12:\\n\\tjmp _jqHelper\\n");'),
        })
        failed = self.assertCaught(self.build("stack", source, def_file()),
                                   "IsAdmin (#12)", "IsWinMe (#10)", "NeedReboot (#13)")
        self.assertEqual(len([f for f in failed if "ret $0xc" in f]), 3, "\n".join(failed))

    def test_wrong_names_imports_resource_and_module_name_are_caught(self):
        names = [(name, i + 1) for i, name in enumerate(EXPORTS) if name != "RootDeviceCount"]
        names.append(("_IsWin2k@12=IsWin2k", 17))
        # shell32 is no part of a bare 9x machine's promise to the installer.
        source = export_source({
            "InitModule": "LONG WINAPI InitModule(HWND, LONG*, LPCSTR) { return CommandLineToArgvW(0, 0) != 0; }",
        }, "#include <windows.h>\n#include <shellapi.h>")
        path = self.build("names", source, def_file(module="Other.dll", names=names), with_version=False,
                          libraries=["-lshell32"])
        self.assertCaught(path, 'names the module "JQInst2k.dll"', "sixteen export names", "sixteen ordinals",
                          "undecorated", "imports only", "VERSIONINFO")

    def test_imports_that_the_older_systems_do_not_export_are_caught(self):
        # kernel32 ahead of advapi32 binds OpenThreadToken to kernel32, which
        # exports it only from Windows 8 on; GetTickCount64 came with Vista.
        source = export_source({
            "IsAdmin": "LONG WINAPI IsAdmin(HWND, LONG*, LPCSTR) { HANDLE t;"
                       " return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t); }",
            "NeedReboot": "LONG WINAPI NeedReboot(HWND, LONG*, LPCSTR) { return (LONG)GetTickCount64(); }",
        }, "#define _WIN32_WINNT 0x0602\n#include <windows.h>")
        self.assertCaught(self.build("imports", source, def_file(), libraries=["-lkernel32", "-ladvapi32"]),
                          "OpenThreadToken imported from KERNEL32.dll", "advapi32.dll exports it",
                          "GetTickCount64 imported from KERNEL32.dll", count=2)

    def test_a_dll_on_the_toolchain_s_own_runtime_is_caught(self):
        # With a thread_local, as a developer might add. The toolchain's
        # start-up code links its TLS support and so a TLS directory, and
        # takes its C functions from msvcrt.dll.
        source = export_source({
            "IsAdmin": "thread_local LONG jqCalls;\nLONG WINAPI IsAdmin(HWND, LONG*, LPCSTR) { return ++jqCalls; }",
        })
        self.assertCaught(self.build("tls", source, def_file(), runtime=False),
                          "no TLS directory - ", "KB Q118816", "no C runtime DLL imported - imports msvcrt.dll")

    def test_a_c_function_that_the_dll_s_runtime_lacks_is_caught(self):
        # The link takes what src/runtime does not provide from msvcrt.dll.
        source = export_source({
            "IsAdmin": "LONG WINAPI IsAdmin(HWND, LONG*, LPCSTR t) { return strtol(t, 0, 10); }",
        }, "#include <windows.h>\n#include <stdlib.h>")
        self.assertCaught(self.build("msvcrt", source, def_file()),
                          "no C runtime DLL imported - imports msvcrt.dll", "imports only", count=2)

    def test_size_and_original_file_name_are_caught(self):
        source = export_source() + "extern \"C\" const char jqBallast[1536 * 1024] = {1};\n" \
            "extern \"C\" const char* jqKeep() { return jqBallast; }\n"
        self.assertCaught(self.build("size", source, def_file(), original_name="Other.dll"),
                          "file size", "OriginalFilename", count=2)

    def test_a_file_that_is_not_a_dll_fails_cleanly(self):
        path = os.path.join(self.work, "not-a-dll.dll")
        with open(path, "wb") as f:
            f.write(b"MZ" + b"\0" * 100)
        code, failed, lines = self.check(path)
        self.assertEqual(code, 1)
        self.assertEqual(lines[-1], "0 passed, 1 failed")


class ExportDocsTest(unittest.TestCase):
    """The guides' tables of exports name each export of the list with its
    ordinal, and nothing else."""

    def test_every_table_row_is_an_export_of_the_list(self):
        import re
        root = os.path.dirname(os.path.dirname(HERE))
        listed = {(i + 1, name) for i, name in enumerate(EXPORTS)}
        for doc in ("README.md", os.path.join("docs", "installer-guide.md")):
            with open(os.path.join(root, doc), encoding="utf-8") as f:
                rows = {(int(o), n) for o, n in re.findall(r"^\| (\d+) \| `(\w+)` \|", f.read(), re.M)}
            self.assertEqual(rows, listed, doc)


if __name__ == "__main__":
    unittest_main()
