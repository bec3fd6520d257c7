#!/usr/bin/env python3
"""Checks the NuGet package `dotnet pack` made: that it holds exactly the
binding's assembly and XML documentation for each target framework (the
bytes pack built), the DLL under runtimes/win-x64/native as built, the
.NET Framework targets under build/ and buildTransitive/, and the README;
and its manifest: id, version, license expression, repository, readme, one
empty dependency group per framework. Lists what it holds."""
import argparse
import os
import sys
import xml.etree.ElementTree as ET
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tests", "support"))
import checks  # noqa: E402

PACKAGE_ID = "Quillmar.GpuInfo"
FRAMEWORKS = {"netstandard2.0": ".NETStandard2.0", "net8.0": "net8.0"}
LICENSE = "MIT"
REPOSITORY = "https://github.com/quillmar/quillmar-dxgi-gpu-info"
TARGETS = f"{PACKAGE_ID}.targets"
# What NuGet writes around the payload.
PACKAGING_PARTS = ("_rels/.rels", "[Content_Types].xml")
PACKAGING_PREFIX = "package/services/metadata/core-properties/"
# NuGet writes a licenseUrl beside a license expression for clients too old to read one.
LICENSE_URLS = (None, "https://licenses.nuget.org/MIT", "https://aka.ms/deprecateLicenseUrl")



def main():
    parser = argparse.ArgumentParser()
    for option in ("--nupkg", "--assemblies", "--dll", "--version", "--source"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    expected = {
        "runtimes/win-x64/native/quillmar-dxgi-gpu-info.dll": open(args.dll, "rb").read(),
        "README.md": open(os.path.join(args.source, "README.md"), "rb").read(),
    }
    for folder in ("build", "buildTransitive"):
        expected[f"{folder}/{TARGETS}"] = open(os.path.join(args.source, "build", TARGETS), "rb").read()
    for framework in FRAMEWORKS:
        for ext in ("dll", "xml"):
            built = os.path.join(args.assemblies, f"release_{framework}", f"{PACKAGE_ID}.{ext}")
            expected[f"lib/{framework}/{PACKAGE_ID}.{ext}"] = open(built, "rb").read()

    with zipfile.ZipFile(args.nupkg) as package:
        names = package.namelist()
        checks.check(package.testzip() is None, "nupkg", "a damaged entry")
        manifest = ET.fromstring(package.read(f"{PACKAGE_ID}.nuspec"))
        for name, content in expected.items():
            checks.check(name in names and package.read(name) == content, "nupkg", f"{name} is missing or differs from the build")
        payload = sorted(n for n in names if n not in PACKAGING_PARTS and not n.startswith(PACKAGING_PREFIX))
        checks.check(payload == sorted([*expected, f"{PACKAGE_ID}.nuspec"]), "nupkg", f"entries {payload}")

    ns = {"n": manifest.tag.split("}")[0].strip("{")}
    meta = manifest.find("n:metadata", ns)

    def text(path):
        return meta.findtext(path, namespaces=ns)

    checks.check(text("n:id") == PACKAGE_ID, "nupkg", f"id {text('n:id')}")
    checks.check(text("n:version") == args.version, "nupkg", f"version {text('n:version')}")
    license_element = meta.find("n:license", ns)
    checks.check(license_element is not None and license_element.get("type") == "expression"
          and license_element.text == LICENSE, "nupkg", "license is not the expression MIT")
    checks.check(text("n:licenseUrl") in LICENSE_URLS, "nupkg", f"licenseUrl {text('n:licenseUrl')}")
    checks.check(text("n:readme") == "README.md", "nupkg", f"readme {text('n:readme')}")
    repository = meta.find("n:repository", ns)
    checks.check(repository is not None and repository.get("type") == "git" and repository.get("url") == REPOSITORY, "nupkg",
          "repository")
    checks.check(bool(text("n:description")), "nupkg", "no description")
    groups = meta.findall("n:dependencies/n:group", ns)
    checks.check(sorted(g.get("targetFramework") for g in groups) == sorted(FRAMEWORKS.values())
          and all(len(g) == 0 for g in groups), "nupkg", "not one empty dependency group per framework")

    print(f"{args.nupkg}:")
    for name in sorted(expected):
        print(f"  {name} ({len(expected[name])} bytes)")
    print(f"{1 if not checks.failures else 0} passed, {1 if checks.failures else 0} failed")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
