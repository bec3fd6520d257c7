#!/usr/bin/env python3
"""What of scripts/verify_windows.sh runs here before a Windows runner runs
it: its arguments, and its layout stage on the release's dist/ and on copies
of it with one fault each. The stages that need Windows (Authenticode by
Windows' own check, the consumers in real runtimes, the Windows-host tests
against real DXGI) must say so here rather than pass.

usage: check_verify_windows.py --script SH --dist DIR --work DIR
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

DLL = "quillmar-dxgi-gpu-info.dll"
failures = 0


def check(cond, message):
    global failures
    print(f"{'ok' if cond else 'FAIL'}: {message}", flush=True)
    failures += not cond


def copy_of(dist, folder, change):
    """dist/'s assets in folder, changed by change(folder), SHA256SUMS made again unless the change says not."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in os.listdir(dist):
        if os.path.isfile(os.path.join(dist, name)):
            shutil.copyfile(os.path.join(dist, name), os.path.join(folder, name))
    keep_sums = change(folder)
    if not keep_sums:
        names = sorted(n for n in os.listdir(folder) if n != "SHA256SUMS")
        listed = subprocess.run(["sha256sum", *names], cwd=folder, check=True, capture_output=True, text=True).stdout
        with open(os.path.join(folder, "SHA256SUMS"), "w", encoding="utf-8") as f:
            f.write(listed)
    return folder


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--script", "--dist", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    w = args.work

    def extra_file(folder):
        open(os.path.join(folder, "notes.txt"), "w").write("not an asset\n")
        return True

    def unlisted_file(folder):
        open(os.path.join(folder, "notes.txt"), "w").write("not an asset\n")

    def changed_byte(folder):
        with open(os.path.join(folder, "gpuinfo.exe"), "ab") as f:
            f.write(b"\0")
        return True

    def other_dll(folder):
        shutil.copyfile(os.path.join(folder, "gpuinfo.exe"), os.path.join(folder, DLL))

    def missing_crate(folder):
        for name in os.listdir(folder):
            if name.endswith(".crate"):
                os.remove(os.path.join(folder, name))

    # (case, arguments, exit code, what it says)
    cases = [
        ("the release's dist/", ["layout", args.dist], 0, r"^layout: \d+ assets, exactly those of SHA256SUMS"),
        ("no arguments", [], 2, r"^usage:"),
        ("an unknown stage", ["publish", args.dist], 2, r"^usage:"),
        ("no dist folder", ["layout", os.path.join(w, "nowhere")], 1, r"no dist folder"),
        ("a file SHA256SUMS does not list", ["layout", copy_of(args.dist, os.path.join(w, "extra"), extra_file)], 1,
         r"SHA256SUMS lists"),
        ("a file that is no asset", ["layout", copy_of(args.dist, os.path.join(w, "unlisted"), unlisted_file)], 1,
         r"the release is"),
        ("a file changed after SHA256SUMS", ["layout", copy_of(args.dist, os.path.join(w, "changed"), changed_byte)],
         1, r"not what SHA256SUMS says"),
        ("an asset missing", ["layout", copy_of(args.dist, os.path.join(w, "missing"), missing_crate)], 1,
         r"the release is"),
        ("a DLL that is not the zip's", ["layout", copy_of(args.dist, os.path.join(w, "other-dll"), other_dll)], 1,
         rf"dist/{re.escape(DLL)} is not the zip's"),
    ] + [(f"the {stage} stage off Windows", [stage, args.dist], 1, rf"the {stage} stage needs Windows")
         for stage in ("signatures", "consumers", "host")]
    for case, arguments, code, said in cases:
        run = subprocess.run(["bash", args.script, *arguments], capture_output=True, text=True, timeout=120)
        output = (run.stdout + run.stderr).strip()
        check(run.returncode == code and re.search(said, output, re.M) is not None,
              f"verify_windows.sh with {case}: exit {run.returncode}, {output.splitlines()[-1] if output else ''}")
    print(f"verify_windows.sh checks: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
