#!/usr/bin/env python3
"""Runs gpuinfo.exe under Wine with its output going to files and checks what
it wrote, its exit code and its messages.

usage: check_tool.py <group> --wine W --exe gpuinfo.exe --version V [--stand-in DLL]

The Wine prefix, WINEDEBUG and WINEDLLOVERRIDES come from the environment
(gpuinfo_wine_test); each case may add a FAKE_DXGI_SCENARIO for the test
double. Groups: table, json, usage, console (a terminal as the console),
unusable (loader failures), failure
(create_fails with the test double), missing, no_entry (unreachable DXGI),
wine (Wine's own DXGI).
"""
import argparse
import fcntl
import json
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import struct
import tempfile
import termios
import time

RUN_TIMEOUT_SECONDS = 120
TERMINAL_COLUMNS = 250  # wide enough that the console never wraps a row
NAME_COLUMN_MAX = 40  # code points, ellipsis included
ELLIPSIS = "\u2026"

# The example preset's report, from the C header every test reads: the one
# string literal on its #define line (its escapes \" and \\ are JSON's too).
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "reports.h"),
          encoding="utf-8") as _header:
    EXAMPLE_REPORT = json.loads(re.search(r'^#define EXAMPLE_REPORT ("(?:[^"\\]|\\.)*")$', _header.read(),
                                          re.M).group(1)).encode()

HEADER = ["#", "Name", "Vendor", "IDs", "Dedicated", "Shared", "Driver", "Software"]
RIGHT_ALIGNED = {"#", "Dedicated", "Shared"}
SIZE_PATTERN = re.compile(r"(0|[1-9][0-9]{0,3}) MiB|[0-9]{1,4}\.[0-9] [GTPE]iB")

LONG_NVIDIA = ("NVIDIA Example Ultra Long Adapter Name With Many Words That Keeps Going "
               "Past Any Sensible Column Width Of A Table")


def truncated(name):
    """What a name longer than the column looks like: cut, trailing spaces
    dropped, one ellipsis."""
    return name[:NAME_COLUMN_MAX - 1].rstrip(" ") + ELLIPSIS


# Rows worked out by hand from the test double's presets (fake_dxgi.c).
EXAMPLE_ROWS = [
    ["0", "Example V7 Graphics", "AMD", "1002:73BF", "16.0 GiB", "32.0 GiB", "31.0.24033.1003", "no"],
    ["1", "Software Rasterizer", "Microsoft", "1414:008C", "0 MiB", "3.9 GiB", "-", "yes"],
]
MIXED_ROWS = [
    ["0", "Radeon Pr\u00e9cision \u20ac \u6f22\u5b57", "AMD", "1002:73BF", "16.0 GiB", "32.0 GiB",
     "31.0.24033.1003", "no"],
    ["1", truncated(LONG_NVIDIA), "NVIDIA", "10DE:2684", "24.0 GiB", "32.0 GiB", "32.15.16.3370", "no"],
    ["2", "Intel Example Graphics", "Intel", "8086:9A49", "128 MiB", "16.0 GiB", "-", "no"],
    ["3", "Software Rasterizer", "Microsoft", "1414:008C", "0 MiB", "3.9 GiB", "-", "yes"],
]
# 'A' and 126 quotation marks reach the report as 'A' and 95 escaped marks.
MAX16_ROWS = [[str(i), truncated("A" + '"' * 95), "Unknown", "FFFFFFFF:FFFFFFFF", "16.0 EiB", "16.0 EiB",
               "65535.65535.65535.65535", "no"] for i in range(16)]
# Wine's own DXGI without a 3D renderer; its shared memory depends on the host.
WINE_ROWS = [["0", "WineD3D DirectDraw Emulation", "Unknown", "0000:0000", "128 MiB", SIZE_PATTERN, "-", "no"]]

failures = []


def check(cond, label, message):
    if not cond:
        failures.append(f"[{label}] {message}")
        print(f"FAIL [{label}] {message}", flush=True)
    return cond


class Run:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err


def run(ctx, label, args, scenario=None, exe=None):
    env = dict(os.environ)
    if scenario:
        env["FAKE_DXGI_SCENARIO"] = scenario
    with tempfile.TemporaryDirectory() as tmp:
        out_path, err_path = os.path.join(tmp, "out"), os.path.join(tmp, "err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            code = subprocess.run([ctx.wine, exe or ctx.exe, *args], stdout=out, stderr=err, env=env,
                                  timeout=RUN_TIMEOUT_SECONDS).returncode
        with open(out_path, "rb") as out, open(err_path, "rb") as err:
            result = Run(code, out.read(), err.read())
    print(f"[{label}] gpuinfo {' '.join(args)} -> exit {result.code}, "
          f"{len(result.out)} bytes out, {len(result.err)} bytes err", flush=True)
    return result


def run_in_terminal(ctx, label, args, scenario):
    """gpuinfo.exe with a terminal as its console: what the terminal was sent,
    cursor and erase sequences and carriage returns taken out."""
    env = dict(os.environ, FAKE_DXGI_SCENARIO=scenario)
    leader, follower = pty.openpty()
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 50, TERMINAL_COLUMNS, 0, 0))
    process = subprocess.Popen([ctx.wine, ctx.exe, *args], stdin=follower, stdout=follower, stderr=follower,
                               env=env)
    os.close(follower)
    received, deadline = b"", time.monotonic() + RUN_TIMEOUT_SECONDS
    while time.monotonic() < deadline:
        ready, _, _ = select.select([leader], [], [], 1.0)
        if not ready:
            continue
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the terminal closed with the last program on it
            break
        if not chunk:
            break
        received += chunk
    os.close(leader)
    code = process.wait(timeout=RUN_TIMEOUT_SECONDS)
    shown = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", received).replace(b"\r", b"")
    print(f"[{label}] gpuinfo {' '.join(args)} on a terminal -> exit {code}, {len(shown)} bytes shown", flush=True)
    return Run(code, shown, b"")


def cells_of(line):
    """(text, start, end) of each cell, offsets counted in code points."""
    return [(m.group(0), m.start(), m.end()) for m in re.finditer(r"\S+(?: \S+)*", line)]


def matches(expected, got):
    return expected.fullmatch(got) is not None if isinstance(expected, re.Pattern) else expected == got


def check_table(label, raw, rows, aligned=True):
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        check(False, label, f"output is not UTF-8: {error}")
        return
    if not check(text.endswith("\n") and "\r" not in text, label, f"lines end in a bare newline: {text!r}"):
        return
    lines = text[:-1].split("\n")
    if not check(len(lines) == len(rows) + 1, label, f"{len(rows) + 1} lines expected, got {len(lines)}:\n{text}"):
        return
    header = cells_of(lines[0])
    check([c[0] for c in header] == HEADER, label, f"header {lines[0]!r}")
    for number, (line, expected) in enumerate(zip(lines[1:], rows)):
        where = f"row {number}"
        check(line == line.rstrip(" "), label, f"{where} has trailing spaces: {line!r}")
        cells = cells_of(line)
        if not check(len(cells) == len(HEADER), label, f"{where}: {len(HEADER)} cells expected in {line!r}"):
            continue
        for (title, title_start, title_end), (got, start, end), want in zip(header, cells, expected):
            check(matches(want, got), label, f"{where} {title}: {got!r}, expected {want!r}")
            if not aligned:
                continue
            if title in RIGHT_ALIGNED:
                check(end == title_end, label, f"{where} {title} ends at {end}, its title at {title_end}")
            else:
                check(start == title_start, label,
                      f"{where} {title} starts at {start}, its title at {title_start}")
        name = cells[1][0]
        check(len(name) <= NAME_COLUMN_MAX, label, f"{where} name is {len(name)} code points: {name!r}")


# ---- Groups ----------------------------------------------------------------

def group_table(ctx):
    for label, scenario, rows in [
        ("example preset", "example", EXAMPLE_ROWS),
        ("mixed preset: non-ASCII and long names, no driver, software", "mixed", MIXED_ROWS),
        ("max16 preset: escaped quotes, widest ids and sizes", "max16", MAX16_ROWS),
    ]:
        result = run(ctx, label, [], scenario)
        check(result.code == 0, label, f"exit {result.code}, stderr {result.err!r}")
        check(result.err == b"", label, f"stderr {result.err!r}")
        check_table(label, result.out, rows)

    label = "no adapters"
    result = run(ctx, label, [], "empty")
    check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
    check(result.out == b"No graphics adapters were found.\n", label, f"stdout {result.out!r}")


def group_json(ctx):
    label = "--json gives the library's report and a newline"
    result = run(ctx, label, ["--json"], "example")
    check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
    check(result.out == EXAMPLE_REPORT + b"\n", label, f"stdout {result.out!r}")

    # The table reads what --json prints: the same adapters, field by field.
    label = "mixed preset: table and --json agree"
    report, table = run(ctx, label, ["--json"], "mixed"), run(ctx, label, [], "mixed")
    adapters = json.loads(report.out.decode("utf-8"))["adapters"]
    check([a["name"] for a in adapters][0] == MIXED_ROWS[0][1], label, "non-ASCII name comes through as UTF-8")
    check(len(adapters) == len(MIXED_ROWS), label, f"{len(adapters)} adapters in the report")
    rows = [cells_of(line) for line in table.out.decode("utf-8").splitlines()[1:]]
    for a, row in zip(adapters, rows):
        ids = f"{a['vendor_id']:04X}:{a['device_id']:04X}"
        check([c[0] for c in row][2:4] == [a["vendor"], ids], label, f"row {a['index']}: {row}")

    for label, args, expected in [
        ("--version", ["--version"], f"gpuinfo {ctx.version} (library {ctx.version})\n".encode()),
    ]:
        result = run(ctx, label, args, "example")
        check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
        check(result.out == expected, label, f"stdout {result.out!r}")

    for label, args in [("--help", ["--help"]), ("-h", ["-h"])]:
        result = run(ctx, label, args, "example")
        check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
        text = result.out.decode("utf-8", "replace")
        check(text.startswith("Usage: gpuinfo"), label, f"stdout {text!r}")
        for code in range(4):
            check(re.search(rf"^  {code}  \S", text, re.M), label, f"exit code {code} is not explained")


def group_usage(ctx):
    for label, args, complaint in [
        ("unknown option", ["--frobnicate"], "unknown option '--frobnicate'"),
        ("unknown short option", ["-x"], "unknown option '-x'"),
        ("stray argument", ["adapters"], "unexpected argument 'adapters'"),
        ("two options", ["--json", "--version"], "unexpected argument '--version'"),
        ("option and extra argument", ["--json", "extra"], "unexpected argument 'extra'"),
    ]:
        result = run(ctx, label, args, "example")
        check(result.code == 2, label, f"exit {result.code}, expected 2")
        check(result.out == b"", label, f"stdout {result.out!r}")
        err = result.err.decode("utf-8", "replace")
        check(err.startswith(f"gpuinfo: {complaint}"), label, f"stderr {err!r}")
        check("gpuinfo --help" in err, label, f"no hint in stderr {err!r}")


def group_unusable(ctx):
    """gpuinfo.exe in a folder without the library, and beside a DLL of the
    library's name that exports none of its calls."""
    exports = ["gpuinfo_version", "gpuinfo_last_error", "gpuinfo_get_json", "gpuinfo_adapter_count",
               "gpuinfo_vram_mb"]
    with tempfile.TemporaryDirectory() as alone, tempfile.TemporaryDirectory() as impostor:
        shutil.copy(ctx.exe, alone)
        shutil.copy(ctx.exe, impostor)
        shutil.copy(ctx.stand_in, os.path.join(impostor, "quillmar-dxgi-gpu-info.dll"))
        for label, folder, args, want in [
            ("no library", alone, [], ["gpuinfo: cannot load ", "quillmar-dxgi-gpu-info.dll"]),
            ("no library, --version", alone, ["--version"], ["gpuinfo: cannot load "]),
            ("no library, --json", alone, ["--json"], ["gpuinfo: cannot load "]),
            ("library without its calls", impostor, [],
             [f"gpuinfo: quillmar-dxgi-gpu-info.dll lacks the export {name}\n" for name in exports]),
        ]:
            result = run(ctx, label, args, "example", exe=os.path.join(folder, "gpuinfo.exe"))
            check(result.code == 3, label, f"exit {result.code}, expected 3")
            check(result.out == b"", label, f"stdout {result.out!r}")
            err = result.err.decode("utf-8", "replace")
            for piece in want:
                check(piece in err, label, f"{piece!r} not in stderr {err!r}")

        label = "no library, --help still answers"
        result = run(ctx, label, ["--help"], exe=os.path.join(alone, "gpuinfo.exe"))
        check(result.code == 0 and result.out.startswith(b"Usage: gpuinfo"), label,
              f"exit {result.code}, stdout {result.out[:40]!r}")


def failing(reason):
    def group(ctx):
        for label, args in [(f"{reason}: table", []), (f"{reason}: --json", ["--json"])]:
            result = run(ctx, label, args, "create_fails")
            check(result.code == 1, label, f"exit {result.code}, expected 1")
            check(result.out == b"", label, f"stdout {result.out!r}")
            check(result.err == f"gpuinfo: {reason}\n".encode(), label, f"stderr {result.err!r}")
    return group


def group_console(ctx):
    """On a console the UTF-8 names go out as UTF-16 through WriteConsoleW;
    the terminal then shows them as the same UTF-8 text. Wine's console lays
    out wide characters in two cells, so only the cells are compared."""
    label = "mixed preset on a console"
    result = run_in_terminal(ctx, label, [], "mixed")
    check(result.code == 0, label, f"exit {result.code}")
    check_table(label, result.out, MIXED_ROWS, aligned=False)

    label = "create_fails on a console"
    result = run_in_terminal(ctx, label, [], "create_fails")
    check(result.code == 1, label, f"exit {result.code}")
    check(result.out == b"gpuinfo: CreateDXGIFactory failed\n", label, f"shown {result.out!r}")


def group_wine(ctx):
    label = "Wine's own DXGI"
    result = run(ctx, label, [])
    check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
    check_table(label, result.out, WINE_ROWS)


GROUPS = {
    "table": group_table,
    "json": group_json,
    "usage": group_usage,
    "console": group_console,
    "unusable": group_unusable,
    "failure": failing("CreateDXGIFactory failed"),
    "missing": failing("dxgi.dll not found"),
    "no_entry": failing("CreateDXGIFactory not found"),
    "wine": group_wine,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--wine", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--stand-in", help="a DLL without the library's exports")
    ctx = parser.parse_args()
    GROUPS[ctx.group](ctx)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
