#!/usr/bin/env python3
"""Checks the wheel the build made: its name and WHEEL tag (py3-none-win_amd64,
not pure Python), that it holds the package's files and the DLL byte for
byte as built and nothing else, and that RECORD lists every file once with
its right sha256 and size."""
import argparse
import base64
import csv
import hashlib
import io
import os
import sys
import zipfile

TAG = "py3-none-win_amd64"
PACKAGE = "quillmar_gpuinfo"
DLL_NAME = "quillmar-dxgi-gpu-info.dll"

failures = []


def check(cond, message):
    if not cond:
        failures.append(message)
        print(f"FAIL: {message}")
    return cond


def record_hash(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wheel", "--dll", "--version", "--package-dir"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    dist_info = f"{PACKAGE}-{args.version}.dist-info"
    check(os.path.basename(args.wheel) == f"{PACKAGE}-{args.version}-{TAG}.whl", f"wheel name {args.wheel}")
    package_files = {f"{PACKAGE}/{name}": open(os.path.join(args.package_dir, name), "rb").read()
                     for name in sorted(os.listdir(args.package_dir))
                     if name.endswith(".py") or name == "py.typed"}
    package_files[f"{PACKAGE}/{DLL_NAME}"] = open(args.dll, "rb").read()

    with zipfile.ZipFile(args.wheel) as wheel:
        names = wheel.namelist()
        contents = {name: wheel.read(name) for name in names}
    check(len(set(names)) == len(names), "an entry twice")

    for name, data in package_files.items():
        check(contents.get(name) == data, f"{name} is missing or differs from the source and build")
    metadata_files = {f"{dist_info}/{n}" for n in ("METADATA", "WHEEL", "RECORD")}
    license_files = {n for n in names if n.startswith(f"{dist_info}/license")}
    check(sorted(names) == sorted({*package_files, *metadata_files, *license_files}), f"entries {sorted(names)}")

    wheel_file = contents.get(f"{dist_info}/WHEEL", b"").decode()
    check(f"Tag: {TAG}\n" in wheel_file and wheel_file.count("Tag:") == 1, f"WHEEL tags:\n{wheel_file}")
    check("Root-Is-Purelib: false\n" in wheel_file, "Root-Is-Purelib is not false")
    metadata = contents.get(f"{dist_info}/METADATA", b"").decode()
    check("Name: quillmar-gpuinfo\n" in metadata and f"Version: {args.version}\n" in metadata,
          f"METADATA:\n{metadata}")

    rows = list(csv.reader(io.StringIO(contents.get(f"{dist_info}/RECORD", b"").decode())))
    listed = [row[0] for row in rows]
    check(sorted(listed) == sorted(names) and len(set(listed)) == len(listed), f"RECORD lists {sorted(listed)}")
    for path, digest, size in rows:
        if path == f"{dist_info}/RECORD":
            check(digest == "" and size == "", "RECORD hashes itself")
            continue
        data = contents.get(path, b"")
        check(digest == record_hash(data) and size == str(len(data)), f"RECORD row of {path}: {digest} {size}")

    for name in sorted(names):
        print(f"  {name} ({len(contents[name])} bytes)")
    print(f"{1 if not failures else 0} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
