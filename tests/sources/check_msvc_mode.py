#!/usr/bin/env python3
"""Every C and C++ source here that cl would compile, compiled as cl would:
clang-cl in MSVC mode with __GNUC__ left undefined (no -fgnuc-version),
against Wine's own Windows and C runtime headers (another header set than
MinGW-w64's, which need GNU mode), with /utf-8, /W4 and /WX, syntax only.
An unguarded GNU construct (__attribute__, statement expressions, typeof,
case ranges...) or a literal that is not UTF-8 fails it.

With --compile-commands, also: every C and C++ compile of this source tree
in an MSVC-style build carries /utf-8, since cl reads a file without it in
the machine's ANSI code page.

Usage: check_msvc_mode.py --source <tree> [--clang-cl <clang-cl> --headers <dir>...]
                          [--compile-commands <compile_commands.json>] [--only <file>...]
"""
import argparse
import json
import os
import subprocess
import sys

# Folders whose sources build for Windows with this project's toolchains,
# and files left out with the reason. tests/native, tests/support/native,
# tests/reader and bench/native build for Linux against stand-in headers.
FOLDERS = ["src", "bench", "tests", "tools"]
NOT_WINDOWS = ("tests/native/", "tests/support/native/", "tests/reader/", "bench/native/")
LEFT_OUT = {
    "tests/cpp/test_cpp_wrapper.cpp": "needs a C++ standard library, which Wine's headers do not have",
    "tests/bundle/consumer/app.cpp": "needs a C++ standard library, which Wine's headers do not have",
    "tests/cpp/wrapper_plugin.cpp": "needs a C++ standard library, which Wine's headers do not have",
}
INCLUDES = ["include", "src", "tests/data", "tests/wine", "tests/fake_dxgi", "tests/seam"]
# Sources built more than once, each time with other definitions.
VARIANTS = {"tests/binary/runtime_references.cpp": [["STACK_PROBE"], ["SECURITY_COOKIE"], ["CRT_COPY"]]}
# Wine's winnt.h defines the compiler's own _InterlockedCompareExchange128
# for clang in C++; its name is moved aside, nothing here calls it.
WINE_HEADER_FIXES = ["_InterlockedCompareExchange128=wine_InterlockedCompareExchange128"]


def sources(root):
    found = []
    for folder in FOLDERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if name.endswith((".c", ".cpp")):
                    rel = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
                    if not rel.startswith(NOT_WINDOWS):
                        found.append(rel)
    return sorted(found)


def compile_all(args, files):
    """Returns how many compiles ran and how many failed."""
    ran = failed = 0
    base = [args.clang_cl, "--target=x86_64-pc-windows-msvc", "/nologo", "/Zs", "/utf-8", "/W4", "/WX",
            "-Wno-unused-command-line-argument", "-Wgnu", "-Wlanguage-extension-token",
            # clang takes __attribute__ in any mode, cl does not: here it is
            # a name nothing defines, which fails the compile.
            "/D__attribute__(x)=__attribute___is_not_cl"]
    for d in args.headers:
        base += ["-imsvc", d]
    base += [f"-I{os.path.join(args.source, d)}" for d in INCLUDES]
    base += [f"/D{d}" for d in WINE_HEADER_FIXES]
    # What the build defines for the tests: the version they expect.
    with open(os.path.join(args.source, "VERSION"), encoding="utf-8") as f:
        base.append(f'/DGPUINFO_EXPECTED_VERSION="{f.readline().strip()}"')
    for rel in files:
        if rel in LEFT_OUT and not args.only:
            print(f"left out {rel}: {LEFT_OUT[rel]}")
            continue
        lang = ["/TP", "/std:c++17"] if rel.endswith(".cpp") else ["/TC", "/std:c11"]
        for defines in VARIANTS.get(rel, [[]]):
            cmd = base + lang + [f"/D{d}" for d in defines] + ["--", os.path.join(args.source, rel)]
            result = subprocess.run(cmd, capture_output=True, text=True)
            ran += 1
            what = rel + "".join(f" /D{d}" for d in defines)
            if result.returncode != 0:
                failed += 1
                print(f"FAIL {what}\n{result.stdout}{result.stderr}")
            else:
                print(f"ok   {what}")
    return ran, failed


def check_compile_commands(args):
    failed = 0
    with open(args.compile_commands) as f:
        entries = json.load(f)
    root = os.path.realpath(args.source)
    checked = 0
    for entry in entries:
        path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        if not path.startswith(root + os.sep) or not path.endswith((".c", ".cpp")):
            continue
        command = entry.get("command") or " ".join(entry.get("arguments", []))
        checked += 1
        if "/utf-8" not in command.split() and "-utf-8" not in command.split():
            failed += 1
            print(f"FAIL no /utf-8 for {os.path.relpath(path, root)}: {command}")
    print(f"{checked} compiles of this tree in {args.compile_commands}, {checked - failed} with /utf-8")
    if checked == 0:
        print("FAIL no compile of this tree listed")
        failed += 1
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--clang-cl")
    parser.add_argument("--headers", nargs="*", default=[])
    parser.add_argument("--compile-commands")
    parser.add_argument("--only", nargs="*", help="these files (relative to --source) instead of the tree's")
    args = parser.parse_args()

    failed = 0
    total = 0
    if args.clang_cl:
        ran, compile_failed = compile_all(args, args.only if args.only else sources(args.source))
        total += ran
        failed += compile_failed
    if args.compile_commands:
        total += 1
        failed += check_compile_commands(args)
    print(f"{total - failed} passed, {failed} failed" if total else "nothing to check")
    return 1 if failed or not total else 0


if __name__ == "__main__":
    sys.exit(main())
