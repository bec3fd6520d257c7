#!/usr/bin/env python3
"""Runs a Windows program under Wine with its output in files, then prints
them and exits with the program's code. Windows .NET starts Wine's services
(the event log, RPC) in the prefix, and those inherit the program's standard
handles: given a pipe, they would hold the test's output open long after the
program ended.

    run_wine.py <wine> <program> [arguments...]
"""
import os
import subprocess
import sys
import tempfile

RUN_TIMEOUT_S = 600


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            code = subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=RUN_TIMEOUT_S).returncode
        except subprocess.TimeoutExpired:
            code = None
        for stream in (out, err):
            stream.seek(0)
            sys.stdout.write(stream.read().decode("utf-8", "replace"))
    if code is None:
        print(f"FAIL: {os.path.basename(sys.argv[2])} did not finish in {RUN_TIMEOUT_S} s")
        return 1
    return code


if __name__ == "__main__":
    sys.exit(main())
