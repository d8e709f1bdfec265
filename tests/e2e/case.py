"""The end-to-end case: one run of jqhost.exe and what it must show. The case
files (cases.py) build their lists from it. Python 3 standard library only."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))


class Case:
    """One run of the host.

    calls     host arguments: "InitModule", "SetTargetDir=C:\\JQ", "#14"...
    expect    the results of the calls, in order (None: not checked)
    version   the Windows version jqhost.exe sees (a key of VERSIONS)
    diagnostic  load the build whose trace switch is on from load
    answers   dialog answers, in order: yes, no, ok, close, escape
    dialogs   expected dialogs, in order: dicts of caption/text/buttons/icon/answer
              (a missing field is not checked)
    trace     expected trace lines; trace_mode "exact" (the whole trace),
              "contains" (these lines in this order, others between allowed)
              or None (not checked). The shipped build must write no line.
    seed      .reg files (beside the case file) imported before the run
    cleanup   registry keys deleted before and after the run
    present / absent  registry keys that must / must not exist afterwards
    values    {(key, value name): expected data text as `reg query` shows it}
    pointer   pass a guard value as the second argument instead of null
    exit_code the host's expected exit code
    keep_seed every key and value the seed files write is still there
              afterwards, but for the keys in or below `absent` and the values
              that `values` expects to be missing (None)
    devices   device nodes devreg registers before the run:
              (instance id, class GUID, first hardware id)
    device_cleanup  enumerators or device ids ("ROOT\\SYSTEM") whose nodes are
              removed before and after the run, besides the device ids of
              `devices`
    devices_after   {enumerator: ["INSTANCE|HARDWARE_ID" patterns]}: the nodes
              devreg lists afterwards, one pattern each (fnmatch, any case)
    inf       INF files (in inf/ beside the case file) copied into a new folder
              whose Windows path replaces "{infdir}" in the calls and trace
    """

    def __init__(self, name, calls, expect=None, version="winxp", diagnostic=False, answers=(),
                 dialogs=None, trace=None, trace_mode="exact", seed=(), cleanup=(), present=(),
                 absent=(), values=None, pointer=False, exit_code=0, keep_seed=False, devices=(),
                 device_cleanup=(), devices_after=None, inf=()):
        self.name = name
        self.calls = list(calls)
        self.expect = list(expect) if expect is not None else None
        self.version = version
        self.diagnostic = diagnostic
        self.answers = list(answers)
        self.dialogs = dialogs
        self.trace = trace
        self.trace_mode = trace_mode if trace is not None else None
        self.seed = list(seed)
        self.cleanup = list(cleanup)
        self.present = list(present)
        self.absent = list(absent)
        self.values = dict(values or {})
        self.pointer = pointer
        self.exit_code = exit_code
        self.keep_seed = keep_seed
        self.devices = [tuple(device) for device in devices]
        self.device_cleanup = list(device_cleanup)
        self.devices_after = dict(devices_after or {})
        self.inf = list(inf)
        self.directory = HERE  # .reg files are looked up beside the case file
