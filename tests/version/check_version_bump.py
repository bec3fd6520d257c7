#!/usr/bin/env python3
"""The next version, tried before it is needed: a scratch copy of the
checkout gets scripts/set-version.sh with VERSION's patch number plus one,
is configured with this build's toolchain, and builds and runs the tests
that compare the version the library reports with the one they expect. A
test that still expected the old version by its literal text fails here.

usage: check_version_bump.py --source S --work W --cmake CMAKE --ctest CTEST
         --toolchain FILE --build-type T --generator G [--cache VAR=VALUE ...]
         --targets T... --tests NAME...
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

BUILD_TIMEOUT_S = 1800


def run(command, cwd=None):
    print("+ " + " ".join(command), flush=True)
    code = subprocess.run(command, cwd=cwd, timeout=BUILD_TIMEOUT_S).returncode
    if code != 0:
        sys.exit(f"FAIL: {' '.join(command)} exited with {code}")


def copy_checkout(source, into):
    """The checkout's files as they are now, tracked or new, without what
    .gitignore leaves out (build trees among them); links stay links."""
    listing = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                             capture_output=True, check=True).stdout
    for name in sorted(set(listing.decode("utf-8").split("\0")) - {""}):
        src = os.path.join(source, name)
        if not os.path.lexists(src):
            continue  # deleted in the work tree, not yet in the index
        dst = os.path.join(into, name)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(src, dst, follow_symlinks=False)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--source", "--work", "--cmake", "--ctest", "--toolchain", "--build-type", "--generator"):
        parser.add_argument(option, required=True)
    parser.add_argument("--cache", nargs="*", default=[])
    parser.add_argument("--targets", nargs="+", required=True)
    parser.add_argument("--tests", nargs="+", required=True)
    args = parser.parse_args()

    with open(os.path.join(args.source, "VERSION"), encoding="utf-8") as f:
        old = f.read().strip()
    major, minor, patch = (int(part) for part in old.split("."))
    new = f"{major}.{minor}.{patch + 1}"

    shutil.rmtree(args.work, ignore_errors=True)
    source = os.path.join(args.work, "source")
    build = os.path.join(args.work, "build")
    copy_checkout(args.source, source)
    run(["bash", os.path.join(source, "scripts", "set-version.sh"), new], cwd=source)
    with open(os.path.join(source, "VERSION"), encoding="utf-8") as f:
        if f.read().strip() != new:
            sys.exit(f"FAIL: set-version.sh did not write {new} into VERSION")
    print(f"version {old} -> {new} in {source}", flush=True)

    run([args.cmake, "-S", source, "-B", build, "-G", args.generator, f"-DCMAKE_TOOLCHAIN_FILE={args.toolchain}",
         f"-DCMAKE_BUILD_TYPE={args.build_type}", *(f"-D{c}" for c in args.cache)])
    run([args.cmake, "--build", build, "--target", *args.targets])
    # Every test named must be there: a renamed one would otherwise drop out unseen.
    tests = "^(" + "|".join(re.escape(t) for t in args.tests) + ")$"
    listed = subprocess.run([args.ctest, "--test-dir", build, "-N", "-R", tests], capture_output=True, text=True,
                            check=True).stdout
    missing = [t for t in args.tests if not re.search(rf"Test +#\d+: {re.escape(t)}$", listed, re.M)]
    if missing:
        sys.exit(f"FAIL: no test {', '.join(missing)} in the scratch build")
    # The fixtures the tests need (the Wine prefixes) come along by themselves.
    run([args.ctest, "--test-dir", build, "--output-on-failure", "-R", tests])
    print(f"version {new}: {len(args.tests)} tests passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
