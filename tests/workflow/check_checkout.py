#!/usr/bin/env python3
"""A clone as a Windows developer makes it (core.autocrlf=true, core.eol=crlf)
holds the repository's bytes: every file, text or not, checks out unconverted,
and gofmt finds nothing to change in the Go binding.

usage: check_checkout.py --source DIR --scratch DIR --gofmt GOFMT

Clones the source's committed HEAD; exits SKIP_CODE when the source is not a
git work tree (an unpacked release, say).
"""
import argparse
import os
import shutil
import subprocess
import sys

SKIP_CODE = 77
WINDOWS_CONFIG = ["--config", "core.autocrlf=true", "--config", "core.eol=crlf"]


def git(*args, **kwargs):
    return subprocess.run(["git", *args], check=True, capture_output=True, **kwargs).stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--gofmt", required=True)
    args = parser.parse_args()

    inside = subprocess.run(["git", "-C", args.source, "rev-parse", "--is-inside-work-tree"],
                            capture_output=True, text=True)
    if inside.returncode != 0 or inside.stdout.strip() != "true":
        print(f"SKIP: {args.source} is not a git work tree")
        return SKIP_CODE

    clone = os.path.join(args.scratch, "crlf-clone")
    shutil.rmtree(clone, ignore_errors=True)
    os.makedirs(args.scratch, exist_ok=True)
    git("clone", "--quiet", "--no-hardlinks", *WINDOWS_CONFIG, args.source, clone)

    failures = []
    paths = git("-C", clone, "ls-files", "-z").decode("utf-8").split("\0")[:-1]
    # Each file's committed bytes, through one git process.
    batch = subprocess.run(["git", "-C", clone, "cat-file", "--batch"], check=True, capture_output=True,
                           input="".join(f"HEAD:{p}\n" for p in paths).encode("utf-8")).stdout
    for path in paths:
        header, batch = batch.split(b"\n", 1)
        size = int(header.split()[2])
        committed, batch = batch[:size], batch[size + 1:]
        full = os.path.join(clone, path)
        if os.path.islink(full):
            # A symbolic link's blob is its target.
            checked_out = os.fsencode(os.readlink(full))
        else:
            with open(full, "rb") as f:
                checked_out = f.read()
        if checked_out != committed:
            failures.append(f"{path} checks out changed (line ends converted)")

    listed = subprocess.run([args.gofmt, "-l", "."], cwd=os.path.join(clone, "bindings", "go"),
                            capture_output=True, text=True)
    if listed.returncode != 0 or listed.stdout.strip():
        failures.append(f"gofmt -l lists: {listed.stdout.split()} {listed.stderr.strip()}")

    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"{len(paths)} files checked out with core.autocrlf=true: "
          f"{1 if failures else 0} failed, {0 if failures else 1} passed")
    if not failures:
        shutil.rmtree(clone, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
