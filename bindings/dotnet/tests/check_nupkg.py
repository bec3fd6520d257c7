#!/usr/bin/env python3
"""Checks the NuGet package the build packed: its manifest, and that it holds
exactly the binding's assembly under lib/<framework>, the DLL under
runtimes/win-x64/native and the README, byte for byte as built."""
import argparse
import sys
import xml.etree.ElementTree as ET
import zipfile

PACKAGE_ID = "Quillmar.GpuInfo"
# What nuget writes around the payload.
PACKAGING_PARTS = ("_rels/.rels", "[Content_Types].xml")
PACKAGING_PREFIX = "package/services/metadata/core-properties/"

failures = []


def check(cond, message):
    if not cond:
        failures.append(message)
        print(f"FAIL: {message}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--nupkg", "--assembly", "--dll", "--version", "--framework"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    expected = {
        f"lib/{args.framework}/{PACKAGE_ID}.dll": open(args.assembly, "rb").read(),
        "runtimes/win-x64/native/quillmar-dxgi-gpu-info.dll": open(args.dll, "rb").read(),
    }
    with zipfile.ZipFile(args.nupkg) as package:
        names = package.namelist()
        check(package.testzip() is None, "a damaged entry")
        manifest = ET.fromstring(package.read(f"{PACKAGE_ID}.nuspec"))
        for name, content in expected.items():
            check(name in names and package.read(name) == content, f"{name} is missing or differs from the build")
        payload = sorted(n for n in names if n not in PACKAGING_PARTS and not n.startswith(PACKAGING_PREFIX))
        check(payload == sorted([*expected, f"{PACKAGE_ID}.nuspec", "README.md"]), f"entries {payload}")
        readme = package.read("README.md").decode("utf-8")
        check(readme.startswith("# Quillmar.GpuInfo"), "README.md is not the binding's")

    ns = {"n": manifest.tag.split("}")[0].strip("{")}
    meta = manifest.find("n:metadata", ns)
    check(meta.findtext("n:id", namespaces=ns) == PACKAGE_ID, "id")
    check(meta.findtext("n:version", namespaces=ns) == args.version, "version")
    groups = meta.findall("n:dependencies/n:group", ns)
    check(len(groups) == 1 and len(groups[0]) == 0, "a dependency, or not one empty group")
    print(f"{args.nupkg}:")
    for name in sorted(expected):
        print(f"  {name} ({len(expected[name])} bytes)")
    print(f"{1 if not failures else 0} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
