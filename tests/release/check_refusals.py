#!/usr/bin/env python3
"""scripts/release.sh refuses to make a release of binaries it can't stand
behind, before it packs anything: an unsigned DLL (outside a dry run), a DLL
signed without an RFC 3161 time stamp, a signed file that is not the tested
one; and it refuses to sign with no signing command. A dry run signs nothing
and says so.

usage: check_refusals.py --release SH --tested DIR --certificates DIR --work DIR

--tested: the preset tree's bin/ folder release.sh takes the tested files from.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

DLL = "quillmar-dxgi-gpu-info.dll"
EXE = "gpuinfo.exe"
RELEASE_TIMEOUT_S = 300
# Whatever signs in the caller's environment stays out of these runs.
SIGNING_VARIABLES = ("GPUINFO_SIGN_COMMAND", "GPUINFO_SIGN_PFX", "GPUINFO_SIGN_PASSWORD", "GPUINFO_TIMESTAMP_URL",
                     "GPUINFO_TSA_CERTS", "GPUINFO_TSA_KEY", "GPUINFO_RELEASE_DRY_RUN")
failures = 0


def check(cond, message):
    global failures
    print(f"{'ok' if cond else 'FAIL'}: {message}", flush=True)
    failures += not cond


def osslsigncode_sign(certificates, source, out, stamped):
    with open(os.path.join(certificates, "password.txt"), encoding="utf-8") as f:
        password = f.read().strip()
    stamp = ["-TSA-certs", os.path.join(certificates, "tsa-chain.pem"),
             "-TSA-key", os.path.join(certificates, "tsa.key")] if stamped else []
    subprocess.run(["osslsigncode", "sign", "-pkcs12", os.path.join(certificates, "sign.pfx"), "-pass", password,
                    "-h", "sha256", *stamp, "-in", source, "-out", out], check=True, capture_output=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--release", "--tested", "--certificates", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    tested = {name: os.path.join(args.tested, name) for name in (DLL, EXE)}
    signed = {}
    for name, path in tested.items():
        signed[name] = os.path.join(args.work, f"signed-{name}")
        osslsigncode_sign(args.certificates, path, signed[name], stamped=True)
    stamp_less = os.path.join(args.work, f"stamp-less-{DLL}")
    osslsigncode_sign(args.certificates, tested[DLL], stamp_less, stamped=False)
    other = os.path.join(args.work, f"other-{DLL}")
    osslsigncode_sign(args.certificates, tested[EXE], other, stamped=True)

    # (case, stage, the DLL in its folder, extra environment, exits 0, what it says)
    cases = [
        ("an unsigned DLL", "pack", tested[DLL], {}, False, r"unsigned \(only a dry run"),
        ("a DLL signed without a time stamp", "pack", stamp_less, {}, False, r"without an RFC 3161 time stamp"),
        ("a signed file that is not the tested DLL", "pack", other, {}, False, r"not the tested file"),
        ("no signing command", "sign", tested[DLL], {}, False, r"no GPUINFO_SIGN_COMMAND"),
        ("a dry run", "sign", tested[DLL], {"GPUINFO_RELEASE_DRY_RUN": "1"}, True, r"NOT signed"),
    ]
    env = {k: v for k, v in os.environ.items() if k not in SIGNING_VARIABLES}
    for number, (case, stage, dll, extra, succeeds, said) in enumerate(cases):
        folder = os.path.join(args.work, f"case-{number}")
        os.makedirs(folder)
        shutil.copyfile(dll, os.path.join(folder, DLL))
        shutil.copyfile(signed[EXE], os.path.join(folder, EXE))
        with open(os.path.join(folder, "tested.sha256"), "w", encoding="utf-8") as f:
            f.write(subprocess.run(["sha256sum", DLL, EXE], cwd=args.tested, check=True, capture_output=True,
                                   text=True).stdout)
        dist = os.path.join(args.work, f"dist-{number}")
        run = subprocess.run([args.release, stage, folder], env={**env, **extra, "GPUINFO_DIST": dist},
                             capture_output=True, text=True, timeout=RELEASE_TIMEOUT_S)
        output = (run.stdout + run.stderr).strip()
        print(f"--- release.sh {stage} with {case}: exit {run.returncode}")
        print("\n".join(f"    {line}" for line in output.splitlines()))
        check((run.returncode == 0) == succeeds and re.search(said, output) is not None,
              f"release.sh {stage} with {case}: {'goes on' if succeeds else 'refused'}, saying /{said}/")
        check(not os.path.exists(dist), f"release.sh {stage} with {case}: nothing packed")
    print(f"refusal checks: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
