"""The project's Python tests, one package: run each runner as a module from
the repository root, `python3 -m tests.e2e.run_e2e --build build/win32`."""

import sys
import unittest


def unittest_main():
    """unittest's main for the self-tests, closing with the line every runner
    ends with, "N passed, N failed", which scripts/test.sh counts."""
    result = unittest.main(verbosity=2, exit=False).result
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed else 0)
