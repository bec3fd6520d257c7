"""What the check scripts share: failed checks collected with their label
(the script goes on and reports them all), programs run with their output
in files (Windows programs under Wine cannot always write to pipes), and the
expected example report.

A script in a folder beside tests/support takes it with
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
    import checks
"""
import json
import os
import re
import subprocess
import tempfile

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")

failures = []


def check(cond, label, message):
    """Records a failure unless `cond`; returns `cond` so a caller can stop
    where the rest would only repeat it."""
    if not cond:
        failures.append(f"[{label}] {message}")
        print(f"FAIL [{label}] {message}", flush=True)
    return cond


def run(command, timeout, cwd=None, env=None, stdout_file=None):
    """Runs `command` to its end with stdout and stderr in files (stdout in
    `stdout_file` when given) and returns (exit code, stdout, stderr) as
    bytes. A program still running after `timeout` seconds raises
    subprocess.TimeoutExpired."""
    with tempfile.TemporaryDirectory() as tmp:
        out_path = stdout_file or os.path.join(tmp, "out")
        err_path = os.path.join(tmp, "err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            code = subprocess.run(command, stdout=out, stderr=err, cwd=cwd, env=env, timeout=timeout).returncode
        with open(out_path, "rb") as out, open(err_path, "rb") as err:
            return code, out.read(), err.read()


def consumer_output(code, output, version):
    """A release consumer's exit and output: "version <version>", then the
    report as JSON with an adapters list."""
    lines = output.splitlines()
    check(code == 0, "consumer exit", f"the consumer exited with {code}")
    check(lines[:1] == [f"version {version}"], "consumer version", f"first line {lines[:1]}")
    try:
        report = json.loads("\n".join(lines[1:]))
        check(isinstance(report.get("adapters"), list), "consumer report", "no adapters list in the report")
    except json.JSONDecodeError as error:
        check(False, "consumer report", f"the report is not JSON: {error}")


def finish():
    """The script's exit code, after saying how many checks failed."""
    print(f"{len(failures)} failed")
    return 1 if failures else 0


def example_report():
    """The example preset's report as tests/data/reports.h defines it for
    every test: the one string literal on its #define line (its escapes \\"
    and \\\\ are JSON's too)."""
    with open(os.path.join(DATA, "reports.h"), encoding="utf-8") as header:
        literal = re.search(r'^#define EXAMPLE_REPORT ("(?:[^"\\]|\\.)*")$', header.read(), re.M).group(1)
    return json.loads(literal)
