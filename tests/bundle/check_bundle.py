#!/usr/bin/env python3
"""Checks the release bundle the way its users meet it: unpacked somewhere
else, verified, found by CMake, linked the MinGW and the MSVC way, and
rebuilt from scratch to the same bytes.

usage: check_bundle.py <group> --zip Z --source S [options]
groups:
  contents      unpack, SHA256SUMS, file list, zip entries, PE time stamps
  import_libs   the MSVC .lib and the MinGW .dll.a seen by llvm-nm, llvm-readobj
                and llvm-objdump: the DLL's name and every call, __imp_ forms
  consumer      a CMake project finds the package, links quillmar::gpuinfo
                through the .dll.a and runs under Wine (test double)
  msvc_link     clang for the msvc target and lld-link against the .lib, run
                under Wine (test double)
  reproducible  a second build folder, built from nothing, gives the same zip
"""
import argparse
import datetime
import hashlib
import json
import os
import re
import shutil
import struct
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import checks  # noqa: E402 (found through the path just set)
from checks import check  # noqa: E402

RUN_TIMEOUT_SECONDS = 300
NAME = "quillmar-dxgi-gpu-info"
DLL_NAME = NAME + ".dll"
BUNDLE_FILES = sorted([
    "LICENSE", "README.md", "SHA256SUMS",
    "bin/" + DLL_NAME, "bin/gpuinfo.exe",
    "include/gpuinfo.h", "include/gpuinfo.hpp", "include/gpuinfo_report.h",
    f"lib/{NAME}.def", f"lib/{NAME}.dll.a", f"lib/{NAME}.lib",
    f"lib/cmake/{NAME}/{NAME}-config.cmake", f"lib/cmake/{NAME}/{NAME}-config-version.cmake",
])
EXAMPLE_REPORT = checks.example_report()


def run(command, label, cwd=None, env=None, stdout_file=None):
    """(exit code, stdout, stderr) of a command, its output as text."""
    code, out, err = checks.run(command, RUN_TIMEOUT_SECONDS, cwd=cwd, env=env, stdout_file=stdout_file)
    print(f"[{label}] {os.path.basename(command[0])} ... -> exit {code}", flush=True)
    return code, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


def unpack(zip_path, into):
    folder = os.path.join(into, "unpacked bundle")  # a space tests the package's quoting
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(folder)
    return folder


def project_version(source):
    """The version VERSION says, which every file of the bundle carries."""
    with open(os.path.join(source, "VERSION"), encoding="utf-8") as f:
        return f.read().strip()


def library_calls(source):
    """The five calls, as the public header declares them."""
    with open(os.path.join(source, "include", "gpuinfo.h"), encoding="utf-8") as header:
        return sorted(re.findall(r"^GPUINFO_API [^;]*?\b(gpuinfo_\w+)\(", header.read(), re.M))


def bundle_epoch(default):
    """The time stamp of every file in the zip, found as MakeBundle.cmake
    finds it: SOURCE_DATE_EPOCH when it is all digits, else the default."""
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    return int(value) if re.fullmatch(r"[0-9]+", value) else default


def zip_date_time(epoch):
    """A zip entry's date and time: UTC (zip runs with TZ=UTC) to the even
    second, odd seconds rounded up as zip rounds them."""
    moment = datetime.datetime.fromtimestamp(epoch + epoch % 2, datetime.timezone.utc)
    return moment.timetuple()[:6]


def pe_time_stamp(path):
    with open(path, "rb") as image:
        data = image.read()
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        return None
    (stamp,) = struct.unpack_from("<I", data, pe_offset + 8)
    return stamp


# ---- Groups ----------------------------------------------------------------

def group_contents(ctx, tmp):
    label = "zip entries"
    with zipfile.ZipFile(ctx.zip) as archive:
        entries = archive.infolist()
        names = [e.filename for e in entries]
        check(names == BUNDLE_FILES, label, f"entries {names}, expected {BUNDLE_FILES} in this order")
        check(archive.testzip() is None, label, "a member fails its CRC")
        stamp = zip_date_time(bundle_epoch(ctx.default_epoch))
        for e in entries:
            check(e.date_time == stamp, label, f"{e.filename} dated {e.date_time}, expected {stamp}")
            check(e.extra == b"", label, f"{e.filename} carries extra fields {e.extra!r}")

    label = "SHA256SUMS"
    folder = unpack(ctx.zip, tmp)
    with open(os.path.join(folder, "SHA256SUMS"), encoding="ascii") as sums:
        lines = sums.read().splitlines()
    listed = []
    for line in lines:
        match = re.fullmatch(r"([0-9a-f]{64})  (\S.*)", line)
        if not check(match, label, f"malformed line {line!r}"):
            continue
        digest, path = match.groups()
        listed.append(path)
        with open(os.path.join(folder, path), "rb") as f:
            check(hashlib.sha256(f.read()).hexdigest() == digest, label, f"{path} does not match its sum")
    others = [name for name in BUNDLE_FILES if name != "SHA256SUMS"]
    check(listed == others, label, f"lists {listed}, expected every other file, sorted: {others}")
    code, out, err = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], label, cwd=folder)
    check(code == 0, label, f"sha256sum --check: {out}{err}")

    label = "same files as the build"
    for path, built in [("bin/" + DLL_NAME, ctx.dll), ("bin/gpuinfo.exe", ctx.exe),
                        ("include/gpuinfo.h", os.path.join(ctx.source, "include", "gpuinfo.h")),
                        (f"lib/{NAME}.def", os.path.join(ctx.source, "src", "gpuinfo.def")),
                        ("LICENSE", os.path.join(ctx.source, "LICENSE"))]:
        with open(os.path.join(folder, path), "rb") as a, open(built, "rb") as b:
            check(a.read() == b.read(), label, f"{path} differs from {built}")
    with open(os.path.join(folder, "LICENSE"), encoding="utf-8") as license_file:
        text = license_file.read()
    check(text.startswith("MIT License") and "Copyright (c) 2026 Quillmar" in text, label, "LICENSE")

    label = "no link time stamps"
    for path in ["bin/" + DLL_NAME, "bin/gpuinfo.exe"]:
        stamp = pe_time_stamp(os.path.join(folder, path))
        check(stamp == 0, label, f"{path} TimeDateStamp is {stamp}, expected 0")


def group_import_libs(ctx, tmp):
    folder = unpack(ctx.zip, tmp)
    calls = library_calls(ctx.source)
    check(len(calls) == 5, "header", f"the header declares {calls}")
    for label, lib in [("MSVC .lib", f"lib/{NAME}.lib"), ("MinGW .dll.a", f"lib/{NAME}.dll.a")]:
        path = os.path.join(folder, lib)
        code, out, err = run([ctx.llvm_nm, path], label)
        check(code == 0, label, f"llvm-nm: {err}")
        defined = set(re.findall(r"^\s*[0-9a-f]*\s+[TI]\s+(\S+)$", out, re.M))
        for call in calls:
            check(call in defined and "__imp_" + call in defined, label,
                  f"{call} and __imp_{call} not both defined: {sorted(defined)}")
        if lib.endswith(".lib"):
            check(re.search(rf"^{re.escape(DLL_NAME)}:$", out, re.M), label, f"llvm-nm names no member {DLL_NAME}")
        else:  # GNU import libraries keep the name as data of their iname member
            with open(path, "rb") as f:
                check(DLL_NAME.encode() + b"\0" in f.read(), label, f"{DLL_NAME} is not named inside")

    label = "MSVC .lib members"
    path = os.path.join(folder, f"lib/{NAME}.lib")
    code, out, err = run([ctx.llvm_readobj, path], label)
    check(code == 0, label, f"llvm-readobj: {err}")
    imports = [block for block in out.split("\n\n") if "Format: COFF-import-file" in block]
    named = sorted(re.search(r"^Symbol: (gpuinfo_\w+)$", b, re.M).group(1) for b in imports
                   if re.search(r"^Symbol: (gpuinfo_\w+)$", b, re.M))
    check(named == calls, label, f"short import members for {named}, expected {calls}")
    for block in imports:
        check(f"File: {DLL_NAME}" in block, label, f"member does not import from {DLL_NAME}:\n{block}")
        check("Type: code" in block and "Name type: name" in block, label,
              f"not imported as code by undecorated name:\n{block}")
    check(not re.search(r"^Arch: (?!x86_64)", out, re.M), label, "a member is not x86_64")

    code, out, err = run([ctx.llvm_objdump, "-a", path], label)
    check(code == 0, label, f"llvm-objdump: {err}")
    headers = re.findall(r"^\S+ (\d+/\d+)\s+\d+ (.*?) (\S+)$", out, re.M)
    check(len(headers) >= len(calls), label, f"llvm-objdump -a lists {len(headers)} members")
    for owner, date, member in headers:
        check(member == DLL_NAME, label, f"member {member}, expected {DLL_NAME}")
        check(owner == "0/0" and date.endswith("1970"), label, f"member header {owner} {date} is not neutral")


def group_consumer(ctx, tmp):
    folder = unpack(ctx.zip, tmp)
    project = os.path.join(ctx.source, "tests", "bundle", "consumer")
    toolchain = os.path.join(ctx.source, "cmake", "toolchains", "mingw-gcc.cmake")

    # find_package's version rules: same major version, not newer than the package's.
    version = project_version(ctx.source)
    major, minor, _ = (int(part) for part in version.split("."))
    for label, wanted, found in [
        ("asks major.minor", f"{major}.{minor}", True),
        ("asks the version itself", version, True),
        ("asks a range holding it", f"{major}.{minor}...<{major + 1}.0", True),
        ("asks the next minor", f"{major}.{minor + 1}", False),
        ("asks the next major", f"{major + 1}.0", False),
        ("asks an older major", f"{major - 1}.9", False),
    ]:
        build = os.path.join(tmp, "consumer " + wanted.replace(".", "_").replace("<", ""))
        code, out, err = run([ctx.cmake, "-S", project, "-B", build, "-G", "Ninja",
                              f"-DCMAKE_TOOLCHAIN_FILE={toolchain}", f"-DCMAKE_PREFIX_PATH={folder}",
                              f"-DGPUINFO_WANTED={wanted}"], label)
        check((code == 0) == found, label, f"configure exit {code}:\n{out}{err}")
        if not found:
            check("quillmar-dxgi-gpu-info" in err and version in err, label, f"unclear refusal:\n{err}")
            continue
        expected = {
            "IMPORTED_LOCATION": os.path.join(folder, "bin", DLL_NAME),
            "IMPORTED_IMPLIB": os.path.join(folder, "lib", f"{NAME}.dll.a"),
            "INTERFACE_INCLUDE_DIRECTORIES": os.path.join(folder, "include"),
        }
        for key, path in expected.items():
            check(f"quillmar::gpuinfo {key}={path}\n" in out, label, f"{key} is not {path}:\n{out}")

    label = "consumer linked through the .dll.a"
    build = os.path.join(tmp, f"consumer {major}_{minor}")
    code, out, err = run([ctx.cmake, "--build", build], label)
    if not check(code == 0, label, f"build failed:\n{out}{err}"):
        return
    exe = os.path.join(build, "consumer.exe")
    code, out, err = run([ctx.objdump, "-p", exe], label)
    check(re.search(rf"DLL Name: {re.escape(DLL_NAME)}", out), label, f"consumer.exe does not import {DLL_NAME}")
    shutil.copy(os.path.join(folder, "bin", DLL_NAME), build)
    code, out, err = run([ctx.wine, exe], label, cwd=build)
    check(code == 0, label, f"exit {code}, stderr {err!r}")
    out = out.replace("\r\n", "\n")  # its stdout is in text mode
    check(out == f"{EXAMPLE_REPORT}\nversion {version}\nhardware adapters 1\nadapter 0 16368 MiB\n", label,
          f"printed {out!r}")

    label = "C++ consumer through gpuinfo.hpp"
    code, out, err = run([ctx.wine, os.path.join(build, "consumer_cpp.exe")], label, cwd=build)
    check(code == 0, label, f"exit {code}, stderr {err!r}")
    adapters = json.loads(EXAMPLE_REPORT)["adapters"]
    want = "".join(f"{a['index']}|{a['name']}|{a['vendor']}|{a['dedicated_vram_mb']}|"
                   f"{'software' if a['software'] else 'hardware'}\n" for a in adapters)
    want += f"hardware adapters {sum(1 for a in adapters if not a['software'])}\n"
    check(out.replace("\r\n", "\n") == want, label, f"printed {out!r}, expected {want!r}")


def group_msvc_link(ctx, tmp):
    label = "linked by lld-link through the .lib"
    folder = unpack(ctx.zip, tmp)
    sources = os.path.join(ctx.source, "tests", "bundle", "msvc")
    build = os.path.join(tmp, "msvc")
    os.makedirs(build)
    steps = [
        [ctx.clang, "--target=x86_64-pc-windows-msvc", "-ffreestanding", "-fno-builtin", "-fno-stack-protector",
         "-O1", "-I", os.path.join(folder, "include"), "-c", os.path.join(sources, "main.c"), "-o", "main.obj"],
        [ctx.dlltool, "-m", "i386:x86-64", "-d", os.path.join(sources, "kernel32.def"), "-l", "kernel32.lib"],
        [ctx.lld_link, "/nologo", "/entry:start", "/subsystem:console", "/nodefaultlib", "main.obj",
         os.path.join(folder, "lib", f"{NAME}.lib"), "kernel32.lib", "/out:msvc_consumer.exe"],
    ]
    for step in steps:
        code, out, err = run(step, label, cwd=build)
        if not check(code == 0, label, f"{' '.join(step)}:\n{out}{err}"):
            return
    shutil.copy(os.path.join(folder, "bin", DLL_NAME), build)
    code, out, err = run([ctx.wine, "msvc_consumer.exe"], label, cwd=build)
    check(code == 0, label, f"exit {code}, stderr {err!r}")
    check(out == f"{EXAMPLE_REPORT}\n{project_version(ctx.source)}\n", label, f"printed {out!r}")


def group_reproducible(ctx, tmp):
    label = "second build from nothing"
    build = ctx.second_build
    shutil.rmtree(build, ignore_errors=True)
    if ctx.toolchain:
        compilers = [f"-DCMAKE_TOOLCHAIN_FILE={ctx.toolchain}"] + [f"-D{d}" for d in ctx.define or []]
    else:
        compilers = [f"-DCMAKE_C_COMPILER={ctx.c_compiler}", f"-DCMAKE_CXX_COMPILER={ctx.cxx_compiler}"]
    code, out, err = run([ctx.cmake, "-S", ctx.source, "-B", build, "-G", ctx.generator or "Ninja", *compilers,
                          f"-DCMAKE_BUILD_TYPE={ctx.build_type}"], label)
    if not check(code == 0, label, f"configure:\n{out}{err}"):
        return
    code, out, err = run([ctx.cmake, "--build", build, "--target", "bundle"], label)
    if not check(code == 0, label, f"build:\n{out}{err}"):
        return
    second = os.path.join(build, os.path.basename(ctx.zip))
    with open(ctx.zip, "rb") as a, open(second, "rb") as b:
        first_bytes, second_bytes = a.read(), b.read()
    if not check(first_bytes == second_bytes, label, f"{ctx.zip} and {second} differ"):
        with zipfile.ZipFile(ctx.zip) as za, zipfile.ZipFile(second) as zb:
            for ea, eb in zip(za.infolist(), zb.infolist()):
                if za.read(ea) != zb.read(eb) or ea.date_time != eb.date_time:
                    print(f"  differs: {ea.filename}")
    else:
        shutil.rmtree(build, ignore_errors=True)
        print(f"[{label}] {len(first_bytes)} bytes, identical; sha256 {hashlib.sha256(first_bytes).hexdigest()}")


GROUPS = {
    "contents": group_contents,
    "import_libs": group_import_libs,
    "consumer": group_consumer,
    "msvc_link": group_msvc_link,
    "reproducible": group_reproducible,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--zip", required=True)
    parser.add_argument("--source", required=True)
    for option in ["dll", "exe", "cmake", "wine", "objdump", "llvm-nm", "llvm-readobj", "llvm-objdump", "clang",
                   "lld-link", "dlltool", "second-build", "build-type", "toolchain", "c-compiler",
                   "cxx-compiler", "generator"]:
        parser.add_argument("--" + option)
    parser.add_argument("--define", action="append", help="NAME=VALUE for the second build's configure")
    parser.add_argument("--default-epoch", type=int, help="the zip's time stamp without SOURCE_DATE_EPOCH")
    ctx = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        GROUPS[ctx.group](ctx, tmp)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
