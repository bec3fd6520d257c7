#!/usr/bin/env python3
"""Installs the packed package with npm into an emptied folder on this host,
offline from the build tree's npm cache (filled from the registry on the
first run), as a project's Linux or macOS CI installs it, and checks it there
in this host's own node:

  --check install  the install succeeds, and the first call gives the
                   package's own Windows-only error;
  --check asar     asar.test.js packs the installed package into an Electron
                   app.asar with @electron/asar and checks the DLL's path.

Exits SKIP_CODE only when the npm registry can't be reached.
"""
import argparse
import os
import shutil
import subprocess
import sys

from run_wine import DLL_NAME, PACKAGE_NAME, check_files, fail, install

NODE_TIMEOUT_S = 120
# The first call of a process off Windows: it prints the error and exits 0
# when the error is the package's own.
FIRST_CALL = """
const gpu = require('quillmar-dxgi-gpu-info');
try {
  gpu.adapters();
  console.log('adapters() returned');
} catch (err) {
  console.log(`${err.name} (${err.code}): ${err.message}`);
  process.exitCode = err instanceof gpu.GpuInfoError ? 0 : 1;
}
"""


def node(args, cmd, cwd, echo=True):
    run = subprocess.run([args.node, *cmd], cwd=cwd, capture_output=True, text=True, timeout=NODE_TIMEOUT_S)
    if echo or run.returncode != 0:
        print(run.stdout + run.stderr, end="", flush=True)
    if run.returncode != 0:
        fail(f"node {' '.join(cmd[:2])} exited with {run.returncode}")
    return run.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--npm", required=True)
    parser.add_argument("--node", required=True, help="this host's node")
    parser.add_argument("--cache", required=True, help="the folder whose npm/ is npm's cache")
    parser.add_argument("--layout", required=True, help="the folder the package is installed into, emptied first")
    parser.add_argument("--tarball", required=True, help="the packed package")
    parser.add_argument("--dll", required=True, help="the DLL built, which the package must carry")
    parser.add_argument("--check", required=True, choices=("install", "asar"))
    parser.add_argument("--asar-version", default="", help="the @electron/asar to pack with (--check asar)")
    args = parser.parse_args()

    shutil.rmtree(args.layout, ignore_errors=True)
    os.makedirs(args.layout)
    os.makedirs(args.cache, exist_ok=True)
    cmd = ["install", os.path.abspath(args.tarball)]
    if args.check == "asar":
        cmd.append(f"@electron/asar@{args.asar_version}")
    install(args, args.layout, cmd)
    check_files(args, os.path.join(args.layout, "node_modules", PACKAGE_NAME))

    if args.check == "install":
        print(f"$ node -e <require('{PACKAGE_NAME}'), then adapters()>", flush=True)
        output = node(args, ["-e", FIRST_CALL], args.layout)
        platform = node(args, ["-p", "process.platform"], args.layout, echo=False).strip()
        if "Windows only" not in output or platform not in output:
            fail(f"the error does not say Windows only and name {platform}")
    else:
        test = os.path.join(os.path.dirname(os.path.abspath(__file__)), "asar.test.js")
        shutil.copy(test, args.layout)
        node(args, ["--test", "--test-reporter=tap", "asar.test.js"], args.layout)


if __name__ == "__main__":
    main()
