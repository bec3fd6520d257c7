#!/usr/bin/env python3
"""Checks the wheel the build made: its name and WHEEL tag (py3-none-win_amd64,
not pure Python), that it holds the package's files, the license and the DLL
byte for byte as built and nothing else, that RECORD lists every file once
with its right sha256 and size, that METADATA holds only fields of the
version it declares, with the project URLs, and that the console script is
declared. Then pip installs it (as for Windows x64, into a folder) and the
installed command runs: --help, and --version (on Windows, with the DLL;
elsewhere, without a library this system can load: exit 3 naming the path
it tried)."""
import argparse
import base64
import csv
import hashlib
import io
import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tests", "support"))
import checks  # noqa: E402

TAG = "py3-none-win_amd64"
PACKAGE = "quillmar_gpuinfo"
DLL_NAME = "quillmar-dxgi-gpu-info.dll"
METADATA_VERSION = "2.1"
# Fields of later metadata versions than the one declared.
LATER_FIELDS = ("License-Expression:", "License-File:", "Dynamic:", "Import-Name:", "Import-Namespace:")
PROJECT_URLS = ("Homepage", "Source", "Issues")
CONSOLE_SCRIPT = "quillmar-gpuinfo"
ENTRY_POINTS = f"[console_scripts]\n{CONSOLE_SCRIPT} = quillmar_gpuinfo.__main__:run\n"
RUN_TIMEOUT_S = 120
# The library the installed package looks for on this system (not Windows).
LINUX_LIBRARY_NAME = "libquillmar-dxgi-gpu-info.so"



def record_hash(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def install_and_run(wheel, package_files, version):
    """pip install <wheel> as for Windows x64 into a folder, then the
    installed command."""
    with tempfile.TemporaryDirectory() as target:
        pip = subprocess.run([sys.executable, "-m", "pip", "install", "--no-index", "--no-deps", "--no-compile",
                              "--disable-pip-version-check", "--platform", "win_amd64", "--only-binary=:all:",
                              "--target", target, wheel], capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
        if not checks.check(pip.returncode == 0, "wheel", f"pip install failed:\n{pip.stdout}{pip.stderr}"):
            return
        print(f"  pip install {os.path.basename(wheel)}: {pip.stdout.strip().splitlines()[-1]}")
        for name, data in package_files.items():
            path = os.path.join(target, *name.split("/"))
            checks.check(os.path.isfile(path) and open(path, "rb").read() == data, "wheel", f"installed {name} differs")
        env = dict(os.environ, PYTHONPATH=target, PYTHONDONTWRITEBYTECODE="1")
        if sys.platform == "win32":
            # The launcher pip makes, and the DLL the wheel carries: a real run.
            command = [os.path.join(target, "Scripts", CONSOLE_SCRIPT + ".exe")]
        else:
            command = [sys.executable, os.path.join(target, "bin", CONSOLE_SCRIPT)]
        checks.check(os.path.isfile(command[-1]), "wheel", f"no {CONSOLE_SCRIPT} command installed")
        usage = subprocess.run([*command, "--help"], env=env, capture_output=True, timeout=RUN_TIMEOUT_S)
        checks.check(usage.returncode == 0 and b"quillmar-gpuinfo [--json | --version | --help]" in usage.stdout, "wheel",
              f"{CONSOLE_SCRIPT} --help: exit {usage.returncode}\n{usage.stdout!r}{usage.stderr!r}")
        run = subprocess.run([*command, "--version"], env=env, capture_output=True, timeout=RUN_TIMEOUT_S)
        if sys.platform == "win32":
            checks.check(run.returncode == 0 and run.stdout == f"quillmar_gpuinfo {version} (library {version})\n".encode(), "wheel",
                  f"{CONSOLE_SCRIPT} --version: exit {run.returncode}\n{run.stdout!r}{run.stderr!r}")
            said = run.stdout.decode().strip()
        else:
            # No library this system can load beside the package: exit 3, naming the path tried.
            missing = os.path.join(target, PACKAGE, LINUX_LIBRARY_NAME)
            checks.check(run.returncode == 3 and f"quillmar_gpuinfo: cannot load {missing}: ".encode() in run.stderr, "wheel",
                  f"{CONSOLE_SCRIPT} without a library: exit {run.returncode}\n{run.stderr!r}")
            said = run.stderr.decode().strip()
        print(f"  {CONSOLE_SCRIPT} --help: exit {usage.returncode}; --version: exit {run.returncode}, {said}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wheel", "--dll", "--version", "--package-dir", "--license"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    dist_info = f"{PACKAGE}-{args.version}.dist-info"
    checks.check(os.path.basename(args.wheel) == f"{PACKAGE}-{args.version}-{TAG}.whl", "wheel", f"wheel name {args.wheel}")
    package_files = {f"{PACKAGE}/{name}": open(os.path.join(args.package_dir, name), "rb").read()
                     for name in sorted(os.listdir(args.package_dir))
                     if name.endswith(".py") or name == "py.typed"}
    package_files[f"{PACKAGE}/{DLL_NAME}"] = open(args.dll, "rb").read()
    package_files[f"{PACKAGE}/LICENSE"] = open(args.license, "rb").read()

    with zipfile.ZipFile(args.wheel) as wheel:
        names = wheel.namelist()
        contents = {name: wheel.read(name) for name in names}
    checks.check(len(set(names)) == len(names), "wheel", "an entry twice")

    for name, data in package_files.items():
        checks.check(contents.get(name) == data, "wheel", f"{name} is missing or differs from the source and build")
    metadata_files = {f"{dist_info}/{n}" for n in ("METADATA", "WHEEL", "RECORD", "entry_points.txt")}
    checks.check(sorted(names) == sorted({*package_files, *metadata_files}), "wheel", f"entries {sorted(names)}")

    wheel_file = contents.get(f"{dist_info}/WHEEL", b"").decode()
    checks.check(f"Tag: {TAG}\n" in wheel_file and wheel_file.count("Tag:") == 1, "wheel", f"WHEEL tags:\n{wheel_file}")
    checks.check("Root-Is-Purelib: false\n" in wheel_file, "wheel", "Root-Is-Purelib is not false")
    metadata = contents.get(f"{dist_info}/METADATA", b"").decode()
    checks.check("Name: quillmar-gpuinfo\n" in metadata and f"Version: {args.version}\n" in metadata, "wheel",
          f"METADATA:\n{metadata}")
    headers = metadata.split("\n\n", 1)[0].splitlines()
    checks.check(headers[:1] == [f"Metadata-Version: {METADATA_VERSION}"], "wheel", f"METADATA declares {headers[:1]}")
    later = [h for h in headers if h.startswith(LATER_FIELDS)]
    checks.check(not later, "wheel", f"fields newer than metadata {METADATA_VERSION}: {later}")
    checks.check("License: MIT" in headers and "Classifier: License :: OSI Approved :: MIT License" in headers, "wheel",
          "no MIT license")
    urls = [h.split(": ", 1)[1].split(",")[0] for h in headers if h.startswith("Project-URL: ")]
    checks.check(sorted(urls) == sorted(PROJECT_URLS), "wheel", f"project URLs {urls}")
    checks.check(contents.get(f"{dist_info}/entry_points.txt", b"").decode() == ENTRY_POINTS, "wheel",
          f"entry_points.txt: {contents.get(f'{dist_info}/entry_points.txt')!r}")

    rows = list(csv.reader(io.StringIO(contents.get(f"{dist_info}/RECORD", b"").decode())))
    listed = [row[0] for row in rows]
    checks.check(sorted(listed) == sorted(names) and len(set(listed)) == len(listed), "wheel", f"RECORD lists {sorted(listed)}")
    for path, digest, size in rows:
        if path == f"{dist_info}/RECORD":
            checks.check(digest == "" and size == "", "wheel", "RECORD hashes itself")
            continue
        data = contents.get(path, b"")
        checks.check(digest == record_hash(data) and size == str(len(data)), "wheel", f"RECORD row of {path}: {digest} {size}")

    for name in sorted(names):
        print(f"  {name} ({len(contents[name])} bytes)")
    install_and_run(args.wheel, package_files, args.version)
    print(f"{1 if not checks.failures else 0} passed, {1 if checks.failures else 0} failed")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
