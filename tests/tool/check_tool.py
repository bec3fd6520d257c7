#!/usr/bin/env python3
"""Runs gpuinfo.exe under Wine with its output going to files and checks what
it wrote, its exit code and its messages.

usage: check_tool.py <group> --wine W --exe gpuinfo.exe --version V
                     [--stand-in DLL] [--library DLL] [--report-double DLL]

The Wine prefix, WINEDEBUG and WINEDLLOVERRIDES come from the environment
(gpuinfo_wine_test); each case may add a FAKE_DXGI_SCENARIO for the test
double. Groups: table, json, usage, console (a terminal as the console),
unusable (loader failures), folders (gpuinfo.exe in folders named outside
any ANSI code page), reader (reports the library would never write, through
the report double), failure (create_fails with the test double), missing,
no_entry (unreachable DXGI), wine (the machine's own DXGI).
"""
import argparse
import json
import os
import re
import select
import shutil
import subprocess
import sys
import struct
import tempfile
import time
import unicodedata

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import checks  # noqa: E402 (found through the path just set)
from checks import check  # noqa: E402

RUN_TIMEOUT_SECONDS = 120
TERMINAL_COLUMNS = 250  # wide enough that the console never wraps a row
# Wine takes file names and arguments from the host as UTF-8 by the locale,
# and its ANSI code page is then 1252.
UTF8_LOCALE = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
# Cyrillic, simplified Chinese, Hangul and a character beyond U+FFFF: no
# ANSI code page holds them all.
NON_ANSI_FOLDER = "Видеокарта 显卡 그래픽 𝔾"
EXIT_CODES = {0: "success", 1: "DXGI failed", 2: "wrong command line", 3: "library unusable",
              4: "report unreadable"}

EXAMPLE_REPORT = checks.example_report().encode()

HEADER = ["#", "Vendor", "IDs", "Dedicated", "Shared", "Driver", "Software", "Name"]
RIGHT_ALIGNED = {"#", "Dedicated", "Shared"}
SIZE_PATTERN = re.compile(r"(0|[1-9][0-9]{0,3}) MiB|[0-9]{1,4}\.[0-9] [GTPE]iB")

LONG_NVIDIA = ("NVIDIA Example Ultra Long Adapter Name With Many Words That Keeps Going "
               "Past Any Sensible Column Width Of A Table")


def columns(text):
    """Console columns: East Asian Wide and Fullwidth characters take two,
    combining marks none."""
    return sum(0 if unicodedata.category(c) in ("Mn", "Me")
               else 2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


# Rows worked out by hand from the test double's presets (fake_dxgi.c); the
# name comes last, whole, whatever its length or script.
EXAMPLE_ROWS = [
    ["0", "AMD", "1002:73BF", "16.0 GiB", "32.0 GiB", "31.0.24033.1003", "no", "Example V7 Graphics"],
    ["1", "Microsoft", "1414:008C", "0 MiB", "3.9 GiB", "-", "yes", "Software Rasterizer"],
]
MIXED_ROWS = [
    ["0", "AMD", "1002:73BF", "16.0 GiB", "32.0 GiB", "31.0.24033.1003", "no",
     "Radeon Pr\u00e9cision \u20ac \u6f22\u5b57"],
    ["1", "NVIDIA", "10DE:2684", "24.0 GiB", "32.0 GiB", "32.15.16.3370", "no", LONG_NVIDIA],
    ["2", "Intel", "8086:9A49", "128 MiB", "16.0 GiB", "-", "no", "Intel Example Graphics"],
    ["3", "Microsoft", "1414:008C", "0 MiB", "3.9 GiB", "-", "yes", "Software Rasterizer"],
]
# The wide_names preset: CJK characters and combining accents, shown whole.
WIDE_NAMES = ["高性能图形处理器示例型号专业工作站用显卡",
              "グラフィックス処理装置サンプル高性能計算加速カード",
              "Carte graphique ge\u0301ne\u0301rique e\u0301le\u0301mentaire",
              "Carte graphique de de\u0301monstration : mode\u0300le tre\u0300s long"]
WIDE_NAMES_ROWS = [[str(i), "AMD", "1002:73BF", "16.0 GiB", "32.0 GiB", "-", "no", name]
                   for i, name in enumerate(WIDE_NAMES)]
# 'A' and 126 quotation marks reach the report as 'A' and 95 escaped marks.
MAX16_ROWS = [[str(i), "Unknown", "FFFFFFFF:FFFFFFFF", "16.0 EiB", "16.0 EiB", "65535.65535.65535.65535", "no",
               "A" + '"' * 95] for i in range(16)]
# Wine's own DXGI without a 3D renderer; its shared memory depends on the host.
WINE_ROWS = [["0", "Unknown", "0000:0000", "128 MiB", SIZE_PATTERN, "-", "no", "WineD3D DirectDraw Emulation"]]


class Run:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err


def run(ctx, label, args, scenario=None, exe=None, env=None, cwd=None):
    env = dict(os.environ, **(env or {}))
    if scenario:
        env["FAKE_DXGI_SCENARIO"] = scenario
    result = Run(*checks.run([*ctx.emulator, exe or ctx.exe, *args], RUN_TIMEOUT_SECONDS, cwd=cwd, env=env))
    print(f"[{label}] gpuinfo {' '.join(args)} -> exit {result.code}, "
          f"{len(result.out)} bytes out, {len(result.err)} bytes err", flush=True)
    return result


def run_in_terminal(ctx, label, args, scenario):
    """gpuinfo.exe with a terminal as its console: what the terminal was sent,
    cursor and erase sequences and carriage returns taken out."""
    # A terminal as the console exists only on POSIX hosts (Wine's console
    # draws into it); on Windows this group is not run (it needs the double
    # in the system directory of a Wine prefix).
    import fcntl
    import pty
    import termios
    env = dict(os.environ, FAKE_DXGI_SCENARIO=scenario)
    leader, follower = pty.openpty()
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 50, TERMINAL_COLUMNS, 0, 0))
    process = subprocess.Popen([*ctx.emulator, ctx.exe, *args], stdin=follower, stdout=follower, stderr=follower,
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
    """(text, start, end) of each cell, offsets counted in console columns;
    the last cell, the name, runs to the end of the line."""
    cells = []
    for m in re.finditer(r"\S+(?: \S+)*", line):
        if len(cells) == len(HEADER) - 1:
            cells.append((line[m.start():], columns(line[:m.start()]), columns(line)))
            break
        cells.append((m.group(0), columns(line[:m.start()]), columns(line[:m.end()])))
    return cells


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


# ---- Groups ----------------------------------------------------------------

def group_table(ctx):
    for label, scenario, rows in [
        ("example preset", "example", EXAMPLE_ROWS),
        ("mixed preset: non-ASCII and long names, no driver, software", "mixed", MIXED_ROWS),
        ("max16 preset: escaped quotes, widest ids and sizes", "max16", MAX16_ROWS),
        ("wide_names preset: CJK and combining marks", "wide_names", WIDE_NAMES_ROWS),
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
    check([a["name"] for a in adapters][0] == MIXED_ROWS[0][-1], label, "non-ASCII name comes through as UTF-8")
    check(len(adapters) == len(MIXED_ROWS), label, f"{len(adapters)} adapters in the report")
    rows = [cells_of(line) for line in table.out.decode("utf-8").splitlines()[1:]]
    for a, row in zip(adapters, rows):
        ids = f"{a['vendor_id']:04X}:{a['device_id']:04X}"
        cells = [c[0] for c in row]
        check(cells[1:3] + cells[-1:] == [a["vendor"], ids, a["name"]], label, f"row {a['index']}: {row}")

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
        check(text.startswith("Usage: gpuinfo [--json | --version | -h | --help]\n"), label, f"stdout {text!r}")
        check(re.search(r"^  -h, --help +\S", text, re.M), label, "-h is not listed")
        for code in EXIT_CODES:
            check(re.search(rf"^  {code}  \S", text, re.M), label, f"exit code {code} is not explained")
        check(not re.search(rf"^  {len(EXIT_CODES)}  ", text, re.M), label, "an exit code nobody returns")


def group_usage(ctx):
    for label, args, complaint in [
        ("unknown option", ["--frobnicate"], "unknown option '--frobnicate'"),
        ("unknown short option", ["-x"], "unknown option '-x'"),
        ("stray argument", ["adapters"], "unexpected argument 'adapters'"),
        ("two options", ["--json", "--version"], "unexpected argument '--version'"),
        ("option and extra argument", ["--json", "extra"], "unexpected argument 'extra'"),
        ("non-ASCII option echoed as typed", ["--größe-大小"], "unknown option '--größe-大小'"),
    ]:
        result = run(ctx, label, args, "example", env=UTF8_LOCALE)
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
        lacks = [f"gpuinfo: quillmar-dxgi-gpu-info.dll lacks the export {name}\n" for name in exports]
        # --version still names the tool's own version, and why the library's is missing.
        for label, folder, args, out, want in [
            ("no library", alone, [], b"", ["gpuinfo: cannot load ", "quillmar-dxgi-gpu-info.dll"]),
            ("no library, --version", alone, ["--version"], f"gpuinfo {ctx.version} (library missing)\n".encode(),
             ["gpuinfo: cannot load "]),
            ("no library, --json", alone, ["--json"], b"", ["gpuinfo: cannot load "]),
            ("library without its calls", impostor, [], b"", lacks),
            ("library without its calls, --version", impostor, ["--version"],
             f"gpuinfo {ctx.version} (library unusable)\n".encode(), lacks),
        ]:
            result = run(ctx, label, args, "example", exe=os.path.join(folder, "gpuinfo.exe"))
            check(result.code == 3, label, f"exit {result.code}, expected 3")
            check(result.out == out, label, f"stdout {result.out!r}, expected {out!r}")
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
    the terminal then shows them as the same UTF-8 text, the columns before
    the name lined up there too."""
    for label, scenario, rows in [("mixed preset on a console", "mixed", MIXED_ROWS),
                                  ("wide_names preset on a console", "wide_names", WIDE_NAMES_ROWS)]:
        result = run_in_terminal(ctx, label, [], scenario)
        check(result.code == 0, label, f"exit {result.code}")
        check_table(label, result.out, rows)

    label = "create_fails on a console"
    result = run_in_terminal(ctx, label, [], "create_fails")
    check(result.code == 1, label, f"exit {result.code}")
    check(result.out == b"gpuinfo: CreateDXGIFactory failed\n", label, f"shown {result.out!r}")


def group_folders(ctx):
    """gpuinfo.exe and the library in a folder whose name no ANSI code page
    holds, and the tool alone in such a folder: the path reaches the loader
    and the messages whole."""
    with tempfile.TemporaryDirectory() as tmp:
        beside, alone = os.path.join(tmp, NON_ANSI_FOLDER), os.path.join(tmp, "alone " + NON_ANSI_FOLDER)
        for folder in beside, alone:
            os.makedirs(folder)
            shutil.copy(ctx.exe, folder)
        shutil.copy(ctx.library, beside)

        label = "table from a non-ANSI folder, run in that folder"
        result = run(ctx, label, [], "example", exe=os.path.join(beside, "gpuinfo.exe"), env=UTF8_LOCALE, cwd=beside)
        check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
        check_table(label, result.out, EXAMPLE_ROWS)

        label = "--version from a non-ANSI folder"
        result = run(ctx, label, ["--version"], exe=os.path.join(beside, "gpuinfo.exe"), env=UTF8_LOCALE)
        want = f"gpuinfo {ctx.version} (library {ctx.version})\n".encode()
        check(result.code == 0 and result.out == want, label, f"exit {result.code}, stdout {result.out!r}")

        label = "no library in a non-ANSI folder: the path is shown as it is"
        result = run(ctx, label, [], exe=os.path.join(alone, "gpuinfo.exe"), env=UTF8_LOCALE)
        err = result.err.decode("utf-8", "replace")
        check(result.code == 3, label, f"exit {result.code}, expected 3")
        check(f"\\alone {NON_ANSI_FOLDER}\\quillmar-dxgi-gpu-info.dll (error " in err, label, f"stderr {err!r}")


# ---- The report reader -------------------------------------------------------

def changed(old, new, count=1):
    """The worked example with one piece replaced; the piece must be there."""
    text = EXAMPLE_REPORT.decode("utf-8")
    assert text.count(old) >= count, old
    return text.replace(old, new, count).encode("utf-8")


def compact(doc):
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


def example_doc():
    return json.loads(EXAMPLE_REPORT)


def reordered():
    doc = example_doc()
    doc["adapters"] = [dict(reversed(list(a.items()))) for a in doc["adapters"]]
    return compact(doc)


def with_unknown_keys():
    doc = example_doc()
    first, second = doc["adapters"]
    doc = {"schema": 2, "host": {"os": "x", "values": [1, -2.5e+30, 0.125, True, False, None, 'a"\\b', [], {}]},
           "adapters": [{"pci_bus": 3, **first, "features": ["a", {"b": None}]},
                        {**second, "luid": "0:1234"}],
           "note": ""}
    return compact(doc)


def seventeen():
    doc = example_doc()
    doc["adapters"] = [dict(doc["adapters"][0], index=i) for i in range(17)]
    return compact(doc)


def escaped():
    """The example with every character past ASCII and the name's first
    letter as \\u escapes, a pair among them."""
    doc = example_doc()
    doc["adapters"][0]["name"] = "Example \U0001F600 V7"
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=True).replace("Example", "\\u0045xample", 1).encode()


ESCAPED_ROWS = [EXAMPLE_ROWS[0][:-1] + ["Example \U0001F600 V7"], EXAMPLE_ROWS[1]]

# Reports the reader takes: whitespace, keys in any order, keys a later
# library may add, escapes. (The reader's own table, tests/reader, holds the
# rest; these show the tool built with it.)
READER_ACCEPTS = [
    ("keys of an adapter in another order", reordered(), EXAMPLE_ROWS),
    ("unknown keys of every JSON type, at both levels", with_unknown_keys(), EXAMPLE_ROWS),
    ("indented, line breaks and a line break at the end", json.dumps(example_doc(), indent=2).encode() + b"\n",
     EXAMPLE_ROWS),
    ("\\u escapes and a surrogate pair", escaped(), ESCAPED_ROWS),
]

# (label, report, the byte the message points at): one text that is not
# JSON and one that is JSON but not a report.
READER_REFUSES = [
    ("cut short", EXAMPLE_REPORT[:100], 100),
    ("a key missing", changed(',"vendor":"Microsoft"', ""), len(EXAMPLE_REPORT) - len(',"vendor":"Microsoft"') - 3),
]

UNREADABLE = b"gpuinfo: the library's report is not in the expected form at byte "


def group_reader(ctx):
    """The table from reports handed over by the report double: what JSON
    allows around the record is taken, a report of more adapters than the
    table holds is cut with a note, and a text that is not a report is exit 4
    with the byte where the reader stopped."""
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(ctx.exe, folder)
        shutil.copy(ctx.report_double, os.path.join(folder, "quillmar-dxgi-gpu-info.dll"))
        exe = os.path.join(folder, "gpuinfo.exe")

        def hand_over(report):
            with open(os.path.join(folder, "report.json"), "wb") as f:
                f.write(report)

        for label, report, rows in READER_ACCEPTS:
            hand_over(report)
            result = run(ctx, label, [], exe=exe)
            check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
            check_table(label, result.out, rows)

        label = "no adapters, and an unknown key"
        hand_over(b'{"adapters":[],"x":[1]}')
        result = run(ctx, label, [], exe=exe)
        check(result.code == 0 and result.out == b"No graphics adapters were found.\n", label,
              f"exit {result.code}, stdout {result.out!r}")

        label = "17 adapters: the first 16 and a note"
        hand_over(seventeen())
        result = run(ctx, label, [], exe=exe)
        check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
        note = b"and 1 more (gpuinfo --json lists every adapter)\n"
        check(result.out.endswith(note), label, f"stdout ends {result.out[-80:]!r}")
        check_table(label, result.out[:-len(note)], [[str(i)] + EXAMPLE_ROWS[0][1:] for i in range(16)])

        for label, report, offset in READER_REFUSES:
            hand_over(report)
            result = run(ctx, label, [], exe=exe)
            check(result.code == 4, label, f"exit {result.code}, expected 4; stderr {result.err!r}")
            check(result.out == b"", label, f"stdout {result.out!r}")
            want = UNREADABLE + f"{offset} (gpuinfo --json shows it)\n".encode()
            check(result.err == want, label, f"stderr {result.err!r}, expected {want!r}")

        label = "--json hands over even an unreadable report unchanged"
        hand_over(EXAMPLE_REPORT + b"{}")
        result = run(ctx, label, ["--json"], exe=exe)
        check(result.code == 0 and result.out == EXAMPLE_REPORT + b"{}\n", label,
              f"exit {result.code}, stdout {result.out!r}")


def group_wine(ctx):
    """The machine's own DXGI: the table shows the library's report, whatever
    the machine has; with --expect-wine-no3d, Wine's one no3d adapter."""
    label = "the machine's own DXGI"
    result = run(ctx, label, [])
    check(result.code == 0 and result.err == b"", label, f"exit {result.code}, stderr {result.err!r}")
    report = run(ctx, label, ["--json"])
    check(report.code == 0 and report.err == b"", label, f"--json: exit {report.code}, stderr {report.err!r}")
    try:
        adapters = json.loads(report.out.decode("utf-8"))["adapters"]
    except (UnicodeDecodeError, ValueError, KeyError, TypeError) as error:
        check(False, label, f"--json printed no report ({error}): {report.out!r}")
        return
    rows = []
    for a in adapters:
        check(a["software"] == (1 if a["vendor_id"] == 0x1414 else 0), label,
              f"adapter {a['index']}: software {a['software']} for vendor {a['vendor_id']:#x}")
        rows.append([str(a["index"]), a["vendor"], f"{a['vendor_id']:04X}:{a['device_id']:04X}", SIZE_PATTERN,
                     SIZE_PATTERN, a["driver_version"] or "-", "yes" if a["software"] else "no", a["name"]])
    if adapters:
        check_table(label, result.out, rows)
    else:
        check(result.out == b"No graphics adapters were found.\n", label, f"stdout {result.out!r}")
    if ctx.expect_wine_no3d:
        check_table("Wine's own DXGI, no3d renderer", result.out, WINE_ROWS)


GROUPS = {
    "table": group_table,
    "json": group_json,
    "usage": group_usage,
    "console": group_console,
    "unusable": group_unusable,
    "folders": group_folders,
    "reader": group_reader,
    "failure": failing("CreateDXGIFactory failed"),
    "missing": failing("dxgi.dll not found"),
    "no_entry": failing("CreateDXGIFactory not found"),
    "wine": group_wine,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--wine", default="", help="Wine, or empty on Windows itself")
    parser.add_argument("--exe", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--stand-in", help="a DLL without the library's exports")
    parser.add_argument("--library", help="the library, for copies of the tool elsewhere")
    parser.add_argument("--report-double", help="a DLL with the library's exports that returns report.json")
    parser.add_argument("--expect-wine-no3d", action="store_true",
                        help="wine group: the machine's DXGI is Wine's own without a 3D renderer")
    ctx = parser.parse_args()
    ctx.emulator = [ctx.wine] if ctx.wine else []
    GROUPS[ctx.group](ctx)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
