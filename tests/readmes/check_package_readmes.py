#!/usr/bin/env python3
"""The package READMEs are each registry's landing page: each must open
(its first code block) with that registry's own install command for the
package's own name, as its manifest says, and none may send a user into a
build tree or a local package folder.

usage: check_package_readmes.py <repository root>
"""
import json
import os
import re
import sys

# What a registry user can't have: a path into a build tree (the NuGet
# package's own build/ folder aside), a local package folder or file, or a
# promise of a release to come.
REFUSED = [
    (re.compile(r"(?<![\w.])build/(?=[\w<])(?!Quillmar\.GpuInfo\.targets\b)"), "a path into a build tree"),
    (re.compile(r"--source\b"), "a local package source"),
    (re.compile(r"path/to/"), "a local package file"),
    (re.compile(r"install:install-file"), "a jar installed by hand"),
    (re.compile(r"\buntil then\b", re.I), "a release still to come"),
]


def read(root, *parts):
    with open(os.path.join(root, *parts), encoding="utf-8") as f:
        return f.read()


def one(pattern, text, what):
    found = re.findall(pattern, text, re.M)
    if len(found) != 1:
        sys.exit(f"FAIL: {what}: expected one match of {pattern!r}, found {found}")
    return found[0]


def install_commands(root):
    """Each binding's folder and the install command its registry gives, from its manifest."""
    b = os.path.join(root, "bindings")
    python = one(r'^name = "([^"]+)"', read(b, "python", "pyproject.toml"), "Python name")
    npm = json.loads(read(b, "node", "package.json"))["name"]
    nuget = one(r"<PackageId>([^<]+)</PackageId>", read(b, "dotnet", "Quillmar.GpuInfo.csproj"), "PackageId")
    module = one(r"^module (\S+)$", read(b, "go", "go.mod"), "Go module")
    crate = one(r'^\[package\]\nname = "([^"]+)"', read(b, "rust", "Cargo.toml"), "crate name")
    pom = read(b, "java", "pom.xml")
    group = one(r"^  <groupId>([^<]+)</groupId>", pom, "groupId")
    artifact = one(r"^  <artifactId>([^<]+)</artifactId>", pom, "artifactId")
    return [
        ("python", f"pip install {python}"),
        ("node", f"npm install {npm}"),
        ("dotnet", f"dotnet add package {nuget}"),
        ("go", f"go get {module}"),
        ("rust", f"cargo add {crate}"),
        ("java", f"<groupId>{group}</groupId>\n  <artifactId>{artifact}</artifactId>"),
    ]


def main():
    root = sys.argv[1]
    failures = 0
    for folder, command in install_commands(root):
        path = os.path.join("bindings", folder, "README.md")
        text = read(root, path)
        problems = []
        first = re.search(r"^```[^\n]*\n(.*?)^```", text, re.M | re.S)
        if not first or command not in first.group(1):
            problems.append(f"its first code block is not the install command {command!r}")
        for line_no, line in enumerate(text.splitlines(), 1):
            for pattern, what in REFUSED:
                if pattern.search(line):
                    problems.append(f"line {line_no}, {what}: {line.strip()}")
        for problem in problems:
            print(f"FAIL {path}: {problem}")
        failures += len(problems)
        if not problems:
            print(f"ok   {path}: opens with {command.splitlines()[0]}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
