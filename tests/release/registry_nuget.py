#!/usr/bin/env python3
"""The release's .nupkg pushed with `dotnet nuget push` to a
local folder source, then taken from there by a fresh console project
(`dotnet new console`, `dotnet add package`), published self-contained for
win-x64 and run under Wine against the DLL the package brought.

The project's NuGet.config names the folder feed and nuget.org, which serves
the runtime packs (already in the packages folder, shared with the .NET
binding's tests); the packages folder's copy of Quillmar.GpuInfo is dropped
first, so the package can only come from the feed. NuGet's package
validation (EnablePackageValidation in the binding's project) runs on a pack
of the binding and must find nothing.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import checks  # noqa: E402

PACKAGE = "Quillmar.GpuInfo"
DLL = "quillmar-dxgi-gpu-info.dll"
DOTNET_TIMEOUT_S = 300
RUN_TIMEOUT_S = 120
TARGET_FRAMEWORK = "net10.0"
VALIDATION_PASSED = "APICompat ran successfully without finding any breaking changes."
NUGET_CONFIG = """\
<?xml version="1.0" encoding="utf-8"?>
<configuration>
  <packageSources>
    <clear />
    <add key="release-feed" value="{feed}" />
    <add key="nuget.org" value="https://api.nuget.org/v3/index.json" protocolVersion="3" />
  </packageSources>
  <packageSourceMapping>
    <packageSource key="release-feed">
      <package pattern="{package}" />
    </packageSource>
    <packageSource key="nuget.org">
      <package pattern="*" />
    </packageSource>
  </packageSourceMapping>
</configuration>
"""
PROGRAM = """\
using Quillmar.Graphics;

System.Console.WriteLine($"version {GpuInfo.Version}");
System.Console.WriteLine(GpuInfo.Report());
"""


def fail(message):
    print(f"FAIL: {message}", flush=True)
    sys.exit(1)


def dotnet(args, cmd, cwd, env):
    run = subprocess.run([args.dotnet, *cmd], cwd=cwd, env=env, capture_output=True, text=True,
                         timeout=DOTNET_TIMEOUT_S)
    if run.returncode != 0:
        fail(f"dotnet {' '.join(cmd)} exited with {run.returncode}:\n{run.stdout}{run.stderr}")
    return run.stdout + run.stderr


def check_validation(args, version, env, dll):
    """Packs the binding as the release does, with NuGet's package validation
    reported (it fails the pack when it finds something)."""
    out = os.path.join(args.work, "validation")
    shutil.rmtree(out, ignore_errors=True)
    output = dotnet(args, ["pack", args.project, "-c", "Release", "--disable-build-servers", "-nologo", "-tl:off",
                           "-v:n", "--artifacts-path", os.path.join(out, "artifacts"), "-o", os.path.join(out, "out"),
                           f"-p:Version={version}", f"-p:NativeLibraryPath={dll}", "-p:IncludeSymbols=true",
                           "-p:SymbolPackageFormat=snupkg"], args.work, env)
    checks.check(VALIDATION_PASSED in output, "package validation",
                 f"dotnet pack did not report '{VALIDATION_PASSED}'")
    print(f"package validation: {VALIDATION_PASSED}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version-file", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--dotnet", required=True)
    parser.add_argument("--packages", required=True, help="NuGet's packages folder (NUGET_PACKAGES)")
    parser.add_argument("--project", required=True, help="the binding's Quillmar.GpuInfo.csproj")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    version = open(args.version_file).readline().strip()
    nupkg = os.path.join(args.dist, f"{PACKAGE}.{version}.nupkg")
    with zipfile.ZipFile(nupkg) as z:
        released_dll = z.read(f"runtimes/win-x64/native/{DLL}")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    env = dict(os.environ, NUGET_PACKAGES=args.packages, DOTNET_CLI_TELEMETRY_OPTOUT="1", DOTNET_NOLOGO="1",
               DOTNET_SKIP_FIRST_TIME_EXPERIENCE="1")
    dll = os.path.join(args.work, DLL)
    with open(dll, "wb") as f:
        f.write(released_dll)
    check_validation(args, version, env, dll)

    feed = os.path.join(args.work, "feed")
    os.makedirs(feed)
    # The .nupkg only: `dotnet nuget push` of a .snupkg to a folder source
    # stores nothing (and says nothing); symbol packages go to a symbol
    # server, nuget.org's in the release workflow.
    push = ["nuget", "push", nupkg, "--source", feed]
    print(f"publish: dotnet {' '.join(push)}", flush=True)
    dotnet(args, push, args.work, env)
    pushed = sorted(os.listdir(feed))
    print(f"feed holds {', '.join(pushed)}")
    checks.check(pushed == [os.path.basename(nupkg)], "pushed", f"the feed holds {pushed}")

    shutil.rmtree(os.path.join(args.packages, PACKAGE.lower(), version), ignore_errors=True)
    consumer = os.path.join(args.work, "consumer")
    dotnet(args, ["new", "console", "--framework", TARGET_FRAMEWORK, "--output", consumer, "--name",
                  "GpuInfoConsumer"], args.work, env)
    with open(os.path.join(consumer, "NuGet.config"), "w") as f:
        f.write(NUGET_CONFIG.format(feed=feed, package=PACKAGE))
    with open(os.path.join(consumer, "Program.cs"), "w") as f:
        f.write(PROGRAM)
    add = ["add", "package", PACKAGE, "--version", version]
    print(f"install: dotnet {' '.join(add)}", flush=True)
    dotnet(args, add, consumer, env)
    metadata = json.load(open(os.path.join(args.packages, PACKAGE.lower(), version, ".nupkg.metadata")))
    checks.check(os.path.normpath(metadata.get("source", "")) == os.path.normpath(feed), "restored from the feed",
                 f"NuGet restored {PACKAGE} from {metadata.get('source')}, not {feed}")
    out = os.path.join(consumer, "out")
    publish = ["publish", "-c", "Release", "-r", "win-x64", "--self-contained", "-o", out, "--disable-build-servers",
               "-nologo", "-tl:off", "-v:q"]
    print(f"dotnet {' '.join(publish)}", flush=True)
    dotnet(args, publish, consumer, env)
    checks.check(open(os.path.join(out, DLL), "rb").read() == released_dll, "published DLL",
                 "the DLL beside the program is not the release's")

    # As the .NET binding's Windows tests run: output through files, the
    # runtime's write-xor-execute mapping off under Wine.
    code, stdout, stderr = checks.run([args.wine, os.path.join(out, "GpuInfoConsumer.exe")], RUN_TIMEOUT_S, cwd=out,
                                      env=dict(os.environ, DOTNET_EnableWriteXorExecute="0"))
    output = stdout.decode("utf-8", "replace")
    print(f"consumer (win-x64, self-contained, under Wine):\n{output}{stderr.decode('utf-8', 'replace')}")
    checks.consumer_output(code, output, version)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
