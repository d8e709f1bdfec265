#!/usr/bin/env python3
"""How run_e2e.py reads what jqhost.exe and Wine write: a misreading here
would pass or fail end-to-end cases for the wrong reason."""

import os
import tempfile
import unittest

from tests import unittest_main
from tests.e2e.run_e2e import Outcome, first_difference, in_order
from tests.wine import WINE32, WINE64, loader_for

PREFIX = "0104:warn:debugstr:OutputDebugStringA "


class OutcomeTest(unittest.TestCase):
    def test_results_dialogs_and_other_lines(self):
        stdout = "\n".join([
            "OS 5.1 build 2600 platform 2",
            r'DIALOG caption="Information" text="click \"No\", C:\\JQ\nnext" buttons="&Yes|&No" '
            r'icon=information answer=escape',
            "UninstInitialize -> -1",
            "#16 -> 0",
            "Bogus -> NOT FOUND",
        ]) + "\n"
        outcome = Outcome(3, stdout, "")
        self.assertEqual(outcome.results, [("UninstInitialize", -1), ("#16", 0)])
        self.assertEqual(outcome.dialogs, [{
            "caption": "Information", "text": 'click "No", C:\\JQ\nnext', "buttons": "&Yes|&No",
            "icon": "information", "answer": "escape"}])
        self.assertEqual(outcome.other, ["OS 5.1 build 2600 platform 2", "Bogus -> NOT FOUND"])

    def test_trace_lines_from_wine_debugstr(self):
        stderr = "\n".join([
            PREFIX + r'"INST2K: setTargetDir - folder:C:\\JQ\n"',
            "0104:fixme:ntdll:something unrelated",
            PREFIX + r'"  I98: tab\there \"q\" \xe9\n"',
            PREFIX + r'"no line feed"',
            PREFIX + '"' + "x" * 290 + '"...',
        ])
        outcome = Outcome(0, "", stderr)
        self.assertEqual(outcome.trace, ["INST2K: setTargetDir - folder:C:\\JQ", '  I98: tab\there "q" \xe9',
                                         "no line feed", "x" * 290])
        self.assertEqual(outcome.truncated, {3})


class ComparisonTest(unittest.TestCase):
    def test_exact_comparison_allows_only_what_wine_cut(self):
        self.assertIsNone(first_difference(["a", "b" * 400], ["a", "b" * 290], {1}))
        self.assertIn("line 2", first_difference(["a", "b" * 400], ["a", "b" * 290], set()))
        self.assertIn("line 2", first_difference(["a", "bc"], ["a", "bd"], {1}))
        self.assertIn("missing line 2", first_difference(["a", "b"], ["a"], set()))
        self.assertIn("unexpected line 2", first_difference(["a"], ["a", "b"], set()))

    def test_lines_in_order(self):
        self.assertIsNone(in_order(["a", "c"], ["a", "b", "c"]))
        self.assertEqual(in_order(["c", "a"], ["a", "b", "c"]), "a")
        self.assertEqual(in_order(["a", "a"], ["a", "b"]), "a")


class LoaderTest(unittest.TestCase):
    """The shipped DLL and its host are 32-bit: running them under wine64
    would fail every case; a 64-bit build under wine32 likewise."""

    def program(self, machine, pe_offset=0x80):
        header = bytearray(pe_offset + 24)
        header[:2] = b"MZ"
        header[0x3C:0x40] = pe_offset.to_bytes(4, "little")
        header[pe_offset:pe_offset + 4] = b"PE\0\0"
        header[pe_offset + 4:pe_offset + 6] = machine.to_bytes(2, "little")
        f = tempfile.NamedTemporaryFile(suffix=".exe", delete=False)
        f.write(header)
        f.close()
        self.addCleanup(os.unlink, f.name)
        return f.name

    def test_the_loader_follows_the_machine_type(self):
        self.assertEqual(loader_for(self.program(0x14C)), WINE32)
        self.assertEqual(loader_for(self.program(0x8664, pe_offset=0x100)), WINE64)
        self.assertEqual(loader_for("/nonexistent/jqhost.exe"), WINE32)


if __name__ == "__main__":
    unittest_main()
