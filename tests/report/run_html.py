"""The preview's HTML report, rendered in a real browser.

    python3 -m tests.report.run_html [--preview PATH]

For a few runs of the preview tool (the removal road as an administrator and
not, Windows 98, the installation road) it writes the HTML and the JSON
report, renders the page with headless Chromium (Debian's chromium), and
checks in the rendered DOM that the page's counts are the JSON report's,
that every dialog shows the answer given and every trace left its reason,
and that the page is self-contained (no script, nothing fetched). A
screenshot of each page is kept in build/test-logs/.

Prints one line per check and "N passed, N failed"; without Chromium it
says so and runs nothing. Python 3 standard library only.
"""

import html
import json
import os
import re
import shutil
import subprocess
import tempfile

from tests.installers import Checks
from tests.wine import ROOT, SkipAll, arguments, exit_with, require_files

RUNS = [
    ("removal", []),
    ("not-admin", ["--not-admin"]),
    ("windows-98", ["--windows", "98", "RemoveUsbDevices", "RemoveRootDevice"]),
    ("installation", ["--file", "C:\\JQ\\JQDRV2K3.INF", "InitModule", "CreateRootDevice=C:\\JQ", "NeedReboot"]),
]


def chromium(exe, *args):
    # As root Chromium needs --no-sandbox; its messages about D-Bus are noise.
    return subprocess.run([exe, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars"] + list(args),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)


def counts_in(dom):
    return {name: int(n) for name, n in re.findall(r'id="count-([a-z-]+)">(\d+)<', dom)}


def check_run(checks, exe, preview, logs, work, name, args):
    page = os.path.join(work, name + ".html")
    report = os.path.join(work, name + ".json")
    done = subprocess.run([preview, "-q", "--html", page, "--json", report] + args,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)
    if not checks.check("%s: the preview writes the page" % name, done.returncode == 0 and os.path.exists(page),
                        done.stderr.decode(errors="replace")):
        return
    with open(report, encoding="utf-8") as f:
        data = json.load(f)
    with open(page, encoding="utf-8") as f:
        source = f.read()
    checks.check("%s: self-contained (no script, no address to fetch)" % name,
                 not re.search(r"<script|\bsrc=|\bhref=|https?://|@import", source, re.I))

    dom = chromium(exe, "--dump-dom", "file://" + page).stdout.decode("utf-8", errors="replace")
    if not checks.check("%s: Chromium renders the page" % name, "<h1>" in dom, dom[-300:]):
        return
    changes = data["changes"]
    dialogs = [d for call in data["calls"] for d in call["dialogs"]]
    expected = {
        "keys-deleted": len(changes["keysDeleted"]), "values-deleted": len(changes["valuesDeleted"]),
        "keys-created": len(changes["keysCreated"]), "values-added": len(changes["valuesAdded"]),
        "values-changed": len(changes["valuesChanged"]), "devices-removed": len(changes["deviceNodesRemoved"]),
        "devices-created": len(changes["deviceNodesCreated"]), "traces": len(data["vendorTraces"]),
        "dialogs": len(dialogs),
    }
    checks.check("%s: the page's counts are the JSON report's" % name, counts_in(dom) == expected,
                 "page %s, JSON %s" % (counts_in(dom), expected))
    text = html.unescape(dom)
    for d in dialogs:
        shown = d["caption"] in text and d["text"] in text and "The user answered: %s" % d["answer"] in text
        checks.check("%s: dialog %r shown with its answer %s" % (name, d["caption"], d["answer"]), shown)
    reasons = {t["reason"] for t in data["vendorTraces"] if t["reason"]}
    missing = [r for r in reasons if r not in text]
    checks.check("%s: every reason a trace stays is on the page (%d)" % (name, len(reasons)), not missing,
                 "missing: %s" % missing)
    shot = os.path.join(logs, "preview-report-%s.png" % name)
    chromium(exe, "--window-size=1200,2400", "--screenshot=" + shot, "file://" + page)
    checks.check("%s: screenshot %s" % (name, os.path.relpath(shot, ROOT)), os.path.exists(shot))


def main(argv):
    parser = arguments(__doc__)
    parser.add_argument("--preview", default=os.path.join(ROOT, "build", "native", "jqpreview"))
    options = parser.parse_args(argv)
    exe = shutil.which("chromium") or shutil.which("chromium-browser")
    if not exe:
        raise SkipAll("chromium is not installed (Debian package chromium)")
    require_files([options.preview], "build the native preset")
    logs = os.path.join(ROOT, "build", "test-logs")
    os.makedirs(logs, exist_ok=True)
    checks = Checks()
    with tempfile.TemporaryDirectory() as work:
        for name, args in RUNS:
            check_run(checks, exe, os.path.abspath(options.preview), logs, work, name, args)
    return checks.summary()


if __name__ == "__main__":
    exit_with(main)
