"""The Wine prefix every Wine runner of the tests works in, and the loaders.

Used by the end-to-end, installer (NSIS, Inno Setup), agreement and hostile
runners, which run as modules from the repository root
(`python3 -m tests.e2e.run_e2e --build build/win32`).

Every Wine process of one prefix must run under the same display: a GUI
program fails ("A call to an OS function failed") when an earlier process of
its prefix started the desktop without one. The runners therefore restart
themselves under `xvfb-run -a` (under_display) before they touch Wine.

Python 3 standard library only.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE32 = os.environ.get("WINE32", "/usr/lib/wine/wine")
WINE64 = os.environ.get("WINE64", "/usr/lib/wine/wine64")
# Debian's `wine`, which picks the loader by the program's machine type; in
# the emulated machine of scripts/wine32-vm.sh a `wine` of its own that
# answers `wineboot -i` with a prefix made once.
WINE = os.environ.get("WINE") or shutil.which("wine") or "/usr/bin/wine"
SERVER = "/usr/lib/wine/wineserver" if os.path.exists("/usr/lib/wine/wineserver") else shutil.which("wineserver")


def machine_type(path):
    """"i686" or "x86_64" from a PE file's header, None when unreadable."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
        offset = int.from_bytes(head[0x3C:0x40], "little")
        if head[:2] != b"MZ" or head[offset:offset + 4] != b"PE\0\0":
            return None
        machine = int.from_bytes(head[offset + 4:offset + 6], "little")
    except (OSError, ValueError):
        return None
    return {0x14C: "i686", 0x8664: "x86_64"}.get(machine)


def loader_for(path):
    """The Wine loader that runs the program: wine32 for 32-bit programs, as
    the shipped DLL and its host are; wine64 for a 64-bit build."""
    return WINE64 if machine_type(path) == "x86_64" else WINE32


class SkipAll(Exception):
    """The runner's Wine loader (or browser) cannot run here: the machine
    lacks something, the code is not at fault, so nothing counts as failed.
    (scripts/test.sh then takes another road to the same tests.)"""


class CannotStart(Exception):
    """The runner cannot start: one failure (exit code 2)."""


def exit_with(main):
    """Exits with what main(arguments) returns; SkipAll and CannotStart end
    the run with the closing line scripts/test.sh counts."""
    try:
        code = main(sys.argv[1:])
    except SkipAll as e:
        print("SKIP every case: %s" % e)
        print("0 passed, 0 failed")
        code = 0
    except CannotStart as e:
        print(e)
        print("0 passed, 1 failed")
        code = 2
    sys.exit(code)


def require_loader(loader):
    """SkipAll when the loader cannot run programs here."""
    if not os.path.exists(loader):
        package = "wine64" if loader == WINE64 else "wine32:i386 (dpkg --add-architecture i386)"
        raise SkipAll("missing %s (package %s)" % (loader, package))
    try:
        done = subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise SkipAll("%s does not run here: %s" % (loader, e))
    if done.returncode != 0:
        raise SkipAll("%s does not run here: %s" % (loader, done.stderr.decode(errors="replace").strip()[-300:]))


def require_files(paths, hint, tools=()):
    """CannotStart, saying `hint`, when a file or a program on PATH is missing."""
    missing = [tool for tool in tools if not shutil.which(tool)] + [path for path in paths if not os.path.exists(path)]
    if missing:
        raise CannotStart("missing: %s (%s)" % (", ".join(missing), hint))


def arguments(doc, build_help=None):
    """A runner's options, the first line of its `doc` their description;
    --build (default build/win32) when `build_help` says what it holds."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    if build_help:
        parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"), help=build_help)
    return parser


def chosen(parser, argv, items):
    """Parses argv with -k and --list added; the items (each has a name)
    -k picks, after --list has printed them and exited."""
    parser.add_argument("-k", dest="pattern", default="", help="only those whose name holds TEXT")
    parser.add_argument("--list", action="store_true", help="list them and stop")
    options = parser.parse_args(argv)
    picked = [item for item in items if options.pattern.lower() in item.name.lower()]
    if options.list:
        print("\n".join(item.name for item in picked))
        sys.exit(0)
    return options, picked


def under_display():
    """Runs the runner again under xvfb-run when there is no display.
    Returns only when there is one, or no xvfb-run (then dialogs cannot
    show)."""
    if os.environ.get("DISPLAY") or os.environ.get("JQ_UNDER_XVFB"):
        return
    xvfb = shutil.which("xvfb-run")
    if not xvfb:
        print("note: no display and no xvfb-run; programs with dialogs will fail")
        return
    os.environ["JQ_UNDER_XVFB"] = "1"
    sys.stdout.flush()
    module = sys.modules["__main__"].__spec__.name
    os.execv(xvfb, [xvfb, "-a", sys.executable, "-m", module] + sys.argv[1:])


DEBUGSTR = re.compile(r'OutputDebugStringA "(.*)"(\.\.\.)?\s*$')  # "...": Wine cut the text short


ESCAPE = re.compile(r"\\(x[0-9a-fA-F]{2}|.)")
SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def unescape(text, wine):
    """Undo the escaping of a quoted field: Wine's debugstr (\\xNN too) or the host's."""
    def one(match):
        code = match.group(1)
        if code in SIMPLE_ESCAPES:
            return SIMPLE_ESCAPES[code]
        return chr(int(code[1:], 16)) if wine and len(code) == 3 else match.group(0)
    return ESCAPE.sub(one, text)


def debugstr_lines(stderr):
    """The OutputDebugStringA texts in a program's stderr (a str, the
    program run with WINEDEBUG=+debugstr): (text, whether Wine cut it short)."""
    for match in map(DEBUGSTR.search, stderr.splitlines()):
        if match:
            text = unescape(match.group(1), True)
            yield (text[:-1] if text.endswith("\n") else text), bool(match.group(2))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


REG_QUERY_VALUE = re.compile(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$")
ROOT_NAMES = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT",
              "HKU": "HKEY_USERS"}


def full_key(key):
    """The key as `reg query` prints it, lower-cased: HKLM\\A -> hkey_local_machine\\a."""
    root, _, rest = key.partition("\\")
    root = ROOT_NAMES.get(root.upper(), root)
    return (root + ("\\" + rest if rest else "")).lower()


class Prefix:
    """One Wine prefix (`path`) and the loader its programs run under."""

    def __init__(self, path, loader=WINE):
        self.path = path
        self.loader = loader
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono/Gecko installer prompts
        self.versions = {}  # exe -> the Windows version set for it

    def run(self, args, debug="-all", timeout=120, cwd=None):
        """Runs a program to its end; `debug` is its WINEDEBUG (+debugstr
        puts the OutputDebugStringA texts on stderr)."""
        # Output goes to files, not pipes: Wine's services started by a
        # program inherit its output and outlive it, and a pipe would stay
        # open until they end.
        env = dict(self.env, WINEDEBUG=debug)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run([self.loader] + list(args), env=env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=timeout, cwd=cwd)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())

    def start(self, args, out):
        """Starts a program without waiting for it; its output goes to `out`."""
        return subprocess.Popen([self.loader] + list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT)

    def finish(self, args, timeout, **options):
        """run(), or None when the program timed out."""
        try:
            return self.run(args, timeout=timeout, **options)
        except subprocess.TimeoutExpired:
            return None

    def create(self, wow64=False):
        """A fresh prefix (with syswow64 when `wow64`); says so, for the log."""
        if os.path.exists(self.path):
            self.stop()
            shutil.rmtree(self.path)
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        started = time.time()
        try:
            done = self.run(["wineboot", "-i"], timeout=900)
            self.wait()  # wineboot returns before its work is done
        except subprocess.TimeoutExpired as e:
            raise CannotStart("cannot create the Wine prefix: %s" % e)
        made = os.path.exists(os.path.join(self.path, "system.reg"))
        if wow64:
            made = made and os.path.isdir(os.path.join(self.path, "drive_c", "windows", "syswow64"))
        if done.returncode != 0 or not made:
            raise CannotStart("cannot create the Wine prefix: wineboot -i failed: "
                              + done.stderr.decode(errors="replace")[-2000:])
        self.versions = {}
        return "Wine prefix %s created in %.1f s" % (self.path, time.time() - started)

    def keep_running(self):
        # Without this the server and Wine's services stop seconds after each
        # program ends and start again, slowly, for the next one.
        self.server("-p")
        self.run(["cmd", "/c", "exit"], timeout=300)  # starts the services once

    def restart(self):
        """Ends every process of the prefix and keeps a new server up."""
        self.stop()
        self.server("-p")

    def wait(self):
        self.server("-w", timeout=600)

    def stop(self):
        self.server("-k")

    def server(self, option, timeout=60):
        # No pipes: a server that this starts keeps them open for its life.
        if SERVER:
            subprocess.run([SERVER, option], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=timeout)

    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))

    def reg(self, *args):
        return self.run(["reg"] + list(args), timeout=60)

    def set_version(self, exe, version):
        """The Windows version Wine shows `exe` (read once, when it starts)."""
        if self.versions.get(exe) == version:
            return
        done = self.reg("add", "HKCU\\Software\\Wine\\AppDefaults\\" + exe, "/v", "Version", "/d", version, "/f")
        if done.returncode != 0:
            raise RuntimeError("cannot set the Windows version %s for %s" % (version, exe))
        self.versions[exe] = version

    def import_reg(self, path):
        done = self.reg("import", windows_path(path))
        if done.returncode != 0:
            raise RuntimeError("reg import %s failed: %s" % (path, done.stderr.decode(errors="replace")))

    def import_reg_text(self, text, encoding="latin-1"):
        """Imports a .reg file's text, written in `encoding` into the
        prefix's C: drive."""
        with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False, encoding=encoding,
                                         dir=self.unix_path("C:\\")) as f:
            f.write(text)
        try:
            self.import_reg(f.name)
        finally:
            os.unlink(f.name)

    def delete_keys(self, keys):
        """Deletes the keys and everything below them, missing ones too, in
        one run of `reg import`: a .reg file section [-KEY] deletes KEY."""
        if keys:
            self.import_reg_text("REGEDIT4\r\n" + "".join("\r\n[-%s]\r\n" % full_key(key) for key in keys))

    def has_key(self, key):
        return self.reg("query", key).returncode == 0

    def tree(self, key):
        """{key: {value name: data}} of a key and everything below it, keys
        as full_key() writes them and value names lower-cased; empty when the
        key is missing."""
        done = self.reg("query", key, "/s")
        found = {}
        current = None
        if done.returncode != 0:
            # A reg.exe that failed for another reason (Wine busy starting its
            # services) must not read as keys that are gone.
            said = (done.stdout + done.stderr).decode(errors="replace")
            if "unable to find" not in said.lower():
                raise RuntimeError("reg query %s failed (exit code %d): %s" % (key, done.returncode, said.strip()[-300:]))
            return found
        for line in done.stdout.decode(errors="replace").splitlines():
            if line.startswith("HKEY_"):
                current = found.setdefault(line.strip().lower(), {})
            elif current is not None:
                match = REG_QUERY_VALUE.match(line)
                if match:
                    current[match.group(1).lower()] = match.group(3) or ""
        return found
