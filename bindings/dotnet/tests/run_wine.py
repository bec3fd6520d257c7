#!/usr/bin/env python3
"""Runs a Windows program under Wine with its output in files, then prints
it and exits with the program's code. Windows .NET starts Wine's services
(the event log, RPC) in the prefix, and those inherit the program's standard
handles: given a pipe, they would hold the test's output open long after the
program ended.

    run_wine.py <wine> <program> [arguments...]
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tests", "support"))
import checks  # noqa: E402

RUN_TIMEOUT_S = 600


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    try:
        code, out, err = checks.run(sys.argv[1:], RUN_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        print(f"FAIL: {os.path.basename(sys.argv[2])} did not finish in {RUN_TIMEOUT_S} s")
        return 1
    sys.stdout.write((out + err).decode("utf-8", "replace"))
    return code


if __name__ == "__main__":
    sys.exit(main())
