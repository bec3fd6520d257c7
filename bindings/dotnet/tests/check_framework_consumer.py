#!/usr/bin/env python3
"""Builds tests/FrameworkConsumer, a .NET Framework 4.8 program that takes the
built package through PackageReference with no RuntimeIdentifier: the
package's build/Quillmar.GpuInfo.targets must copy the DLL beside the
program (byte for byte the one built), for x64 and AnyCPU; an x86 build
must stop with QGPU001, and an AnyCPU one that prefers 32 bits with
QGPU002, each naming what to change."""
import argparse
import os
import shutil
import subprocess
import sys

PROJECT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "FrameworkConsumer", "FrameworkConsumer.csproj")
DLL_NAME = "quillmar-dxgi-gpu-info.dll"
BUILD_TIMEOUT_S = 600
# (name, MSBuild properties, the build must succeed, text its output must hold)
PLATFORMS = (
    ("x64", ["PlatformTarget=x64"], True, ""),
    ("AnyCPU", ["PlatformTarget=AnyCPU", "Prefer32Bit=false"], True, ""),
    ("x86", ["PlatformTarget=x86"], False, "error QGPU001"),
    ("AnyCPU preferring 32 bits", ["PlatformTarget=AnyCPU", "Prefer32Bit=true"], False, "error QGPU002"),
)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--dotnet", "--packages", "--package-folder", "--version", "--dll", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    # The package folder caches a version by its number: take the one just built.
    shutil.rmtree(os.path.join(args.packages, "quillmar.gpuinfo"), ignore_errors=True)
    env = dict(os.environ, NUGET_PACKAGES=args.packages, DOTNET_CLI_TELEMETRY_OPTOUT="1", DOTNET_NOLOGO="1")
    built = open(args.dll, "rb").read()
    failures = 0
    for platform, properties, must_build, text in PLATFORMS:
        artifacts = os.path.join(args.work, platform.replace(" ", "-"))
        shutil.rmtree(artifacts, ignore_errors=True)
        run = subprocess.run([args.dotnet, "build", PROJECT, "--artifacts-path", artifacts, "-c", "Release",
                              "--disable-build-servers", "-nologo", *(f"-p:{p}" for p in properties),
                              f"-p:GpuInfoPackageFolder={args.package_folder}", f"-p:GpuInfoVersion={args.version}"],
                             env=env, capture_output=True, text=True, timeout=BUILD_TIMEOUT_S)
        output = run.stdout + run.stderr
        copied = os.path.join(artifacts, "bin", "FrameworkConsumer", "release", DLL_NAME)
        if must_build:
            ok = run.returncode == 0 and os.path.isfile(copied) and open(copied, "rb").read() == built
            what = f"builds with {DLL_NAME} beside FrameworkConsumer.exe"
        else:
            ok = run.returncode != 0 and text in output
            what = f"fails with {text}"
            if ok:
                print("    " + next(line.strip() for line in output.splitlines() if text in line))
        print(f"{'ok' if ok else 'FAIL'} - {platform}: {what}")
        if not ok:
            failures += 1
            print(output)
    print(f"{len(PLATFORMS) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
