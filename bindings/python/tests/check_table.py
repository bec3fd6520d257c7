#!/usr/bin/env python3
"""The table of `python -m quillmar_gpuinfo` is gpuinfo.exe's, byte for byte:
gpuinfo.exe runs under Wine with the test double's presets, once with --json
and once for its table, and the package's own table code renders the report
it printed. The Wine prefix and overrides come from the environment
(gpuinfo_wine_test)."""
import argparse
import json
import os
import subprocess
import sys
import tempfile

RUN_TIMEOUT_SECONDS = 120


def run_tool(wine, exe, args, scenario):
    env = dict(os.environ, FAKE_DXGI_SCENARIO=scenario)
    # Windows programs under Wine write to files reliably, not always to pipes.
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([wine, exe, *args], stdout=out, stderr=subprocess.DEVNULL, env=env,
                              timeout=RUN_TIMEOUT_SECONDS).returncode
        out.seek(0)
        return code, out.read()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--exe", "--cases", "--package-src"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    sys.dont_write_bytecode = True  # nothing written into the source tree
    sys.path.insert(0, args.package_src)
    import quillmar_gpuinfo as gpu
    from quillmar_gpuinfo._table import render

    with open(args.cases, encoding="utf-8") as f:
        scenarios = [c["name"] for c in json.load(f)["cases"] if "adapters" in c]
    failed = 0
    for scenario in scenarios:
        json_code, report = run_tool(args.wine, args.exe, ["--json"], scenario)
        table_code, table = run_tool(args.wine, args.exe, [], scenario)
        ours = render(gpu.parse_report(report)).encode("utf-8")
        same = json_code == 0 and table_code == 0 and ours == table
        print(f"{'ok' if same else 'FAIL'} - {scenario}: {len(table)} bytes from gpuinfo.exe")
        if not same:
            failed += 1
            print(f"gpuinfo.exe (exit {json_code}, {table_code}):\n{table.decode('utf-8', 'replace')}\n"
                  f"quillmar_gpuinfo:\n{ours.decode('utf-8')}")
    print(f"{len(scenarios) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
