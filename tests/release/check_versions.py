#!/usr/bin/env python3
"""Checks that every file of a release (scripts/release.sh's dist/) says the
version in VERSION and carries the same DLL, the one whose gpuinfo_version
answers under Wine.

usage: check_versions.py --dist DIR --version-file VERSION --wine WINE [--mismatches]

--mismatches: for each artifact, alters it in a copy of DIR (the version it
says, or its DLL) and expects the check to fail naming that artifact.
"""
import argparse
import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

DLL = "quillmar-dxgi-gpu-info.dll"
WINE_TIMEOUT_S = 120


class Mismatch(Exception):
    pass


def only(paths, what):
    if len(paths) != 1:
        raise Mismatch(f"{what}: expected one file, found {sorted(paths)}")
    return paths[0]


def listing(dist, pattern):
    return [os.path.join(dist, f) for f in os.listdir(dist) if re.fullmatch(pattern, f)]


def zip_member(path, pattern):
    with zipfile.ZipFile(path) as z:
        name = only([n for n in z.namelist() if re.fullmatch(pattern, n)], f"{os.path.basename(path)}: {pattern}")
        return z.read(name)


def tgz_member(path, pattern):
    with tarfile.open(path, "r:gz") as t:
        member = only([m for m in t.getmembers() if re.fullmatch(pattern, m.name)],
                      f"{os.path.basename(path)}: {pattern}")
        return t.extractfile(member).read()


def expect(label, found, version):
    if found != version:
        raise Mismatch(f"{label} says {found!r}, VERSION {version!r}")


def sha(data):
    return hashlib.sha256(data).hexdigest()


# One check per artifact: each returns the DLL it carries (or None).
def check_zip(dist, v, ctx):
    path = only(listing(dist, r"quillmar-dxgi-gpu-info-.*-win64\.zip"), "zip")
    expect("zip name", re.fullmatch(r"quillmar-dxgi-gpu-info-(.*)-win64\.zip", os.path.basename(path)).group(1), v)
    text = zip_member(path, r".*/quillmar-dxgi-gpu-info-config-version\.cmake").decode()
    m = re.search(r'set\(PACKAGE_VERSION "([^"]*)"\)', text)
    expect("CMake package version file", m.group(1) if m else None, v)
    ctx["exe"] = zip_member(path, r"bin/gpuinfo\.exe")
    return zip_member(path, r"bin/" + re.escape(DLL))


def check_wheel(dist, v, ctx):
    path = only(listing(dist, r"quillmar_gpuinfo-.*\.whl"), "wheel")
    expect("wheel name", os.path.basename(path).split("-")[1], v)
    meta = zip_member(path, r"quillmar_gpuinfo-[^/]*\.dist-info/METADATA").decode()
    expect("wheel METADATA", re.search(r"^Version: (.*)$", meta, re.M).group(1), v)
    init = zip_member(path, r"quillmar_gpuinfo/__init__\.py").decode()
    expect("wheel __version__", re.search(r'^__version__ = "(.*)"$', init, re.M).group(1), v)
    return zip_member(path, r"quillmar_gpuinfo/" + re.escape(DLL))


def check_nupkg(dist, v, ctx):
    path = only(listing(dist, r"Quillmar\.GpuInfo\..*\.nupkg"), "nupkg")
    expect("nupkg name", re.fullmatch(r"Quillmar\.GpuInfo\.(.*)\.nupkg", os.path.basename(path)).group(1), v)
    nuspec = zip_member(path, r"Quillmar\.GpuInfo\.nuspec").decode()
    expect("nupkg nuspec", re.search(r"<version>(.*?)</version>", nuspec).group(1), v)
    snupkg = only(listing(dist, r"Quillmar\.GpuInfo\..*\.snupkg"), "snupkg")
    expect("snupkg name", re.fullmatch(r"Quillmar\.GpuInfo\.(.*)\.snupkg", os.path.basename(snupkg)).group(1), v)
    return zip_member(path, r"runtimes/win-x64/native/" + re.escape(DLL))


def check_npm(dist, v, ctx):
    path = only(listing(dist, r"quillmar-dxgi-gpu-info-[0-9].*\.tgz"), "npm tarball")
    expect("npm tarball name", re.fullmatch(r"quillmar-dxgi-gpu-info-(.*)\.tgz", os.path.basename(path)).group(1), v)
    expect("npm package.json", json.loads(tgz_member(path, r"package/package\.json"))["version"], v)
    return tgz_member(path, r"package/" + re.escape(DLL))


def check_crate(dist, v, ctx):
    path = only(listing(dist, r"quillmar-gpuinfo-.*\.crate"), "crate")
    expect("crate name", re.fullmatch(r"quillmar-gpuinfo-(.*)\.crate", os.path.basename(path)).group(1), v)
    manifest = tgz_member(path, r"[^/]+/Cargo\.toml").decode()
    expect("crate Cargo.toml", re.search(r'^version = "(.*)"$', manifest, re.M).group(1), v)
    with tarfile.open(path, "r:gz") as t:
        tops = {m.name.split("/")[0] for m in t.getmembers()}
    expect("crate folder", only(sorted(tops), "crate folder"), f"quillmar-gpuinfo-{v}")
    return None


def check_maven(dist, v, ctx):
    folder = os.path.join(dist, "maven", "com", "quillmar", "quillmar-gpuinfo")
    expect("Maven folder", only(os.listdir(folder), "Maven version folder"), v)
    base = os.path.join(folder, v, f"quillmar-gpuinfo-{v}")
    for suffix in (".pom", ".jar", "-sources.jar", "-javadoc.jar"):
        if not os.path.isfile(base + suffix):
            raise Mismatch(f"Maven: no quillmar-gpuinfo-{v}{suffix}")
    with open(base + ".pom", encoding="utf-8") as f:
        pom = f.read()
    project_version = r"<artifactId>quillmar-gpuinfo</artifactId>\s*<version>(.*?)</version>"
    expect("Maven .pom", re.search(project_version, pom).group(1), v)
    inner = zip_member(base + ".jar", r"META-INF/maven/com\.quillmar/quillmar-gpuinfo/pom\.xml").decode()
    expect("the jar's pom", re.search(project_version, inner).group(1), v)
    return zip_member(base + ".jar", r"win32-x86-64/" + re.escape(DLL))


def check_go(dist, v, ctx):
    versions = []
    for at, _, files in os.walk(os.path.join(dist, "goproxy")):
        if os.path.basename(at) == "@v":
            with open(os.path.join(at, "list"), encoding="utf-8") as f:
                versions = f.read().split()
            expect("Go @v/list", only(versions, "Go @v/list"), f"v{v}")
            with open(os.path.join(at, f"v{v}.info"), encoding="utf-8") as f:
                expect("Go .info", json.load(f)["Version"], f"v{v}")
            with zipfile.ZipFile(os.path.join(at, f"v{v}.zip")) as z:
                # Every entry is <module path>@<version>/<file>.
                tops = {n.split("@", 1)[1].split("/", 1)[0] for n in z.namelist()}
            expect("Go module zip", only(sorted(tops), "Go module zip versions"), f"v{v}")
            return None
    raise Mismatch("Go: no @v folder in goproxy/")


CHECKS = [("zip", check_zip), ("wheel", check_wheel), ("nupkg", check_nupkg), ("npm", check_npm),
          ("crate", check_crate), ("maven", check_maven), ("go", check_go)]


def run_dll(wine, exe, dll, v):
    """gpuinfo.exe --version beside the DLL: the tool's version and the DLL's gpuinfo_version."""
    with tempfile.TemporaryDirectory() as work:
        for name, data in (("gpuinfo.exe", exe), (DLL, dll)):
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        out = subprocess.run([wine, os.path.join(work, "gpuinfo.exe"), "--version"], capture_output=True,
                             timeout=WINE_TIMEOUT_S, cwd=work).stdout.decode(errors="replace").strip()
    m = re.fullmatch(r"gpuinfo (\S+) \(library (\S+)\)", out)
    if not m:
        raise Mismatch(f"gpuinfo.exe --version printed {out!r}")
    expect("gpuinfo.exe's version", m.group(1), v)
    expect("the DLL's gpuinfo_version", m.group(2), v)


def check(dist, version_file, wine):
    """Every problem, one line each."""
    with open(version_file, encoding="utf-8") as f:
        v = f.readline().strip()
    problems, dlls, ctx = [], {}, {}
    for name, fn in CHECKS:
        try:
            dll = fn(dist, v, ctx)
            if dll is not None:
                dlls[name] = dll
        except (Mismatch, OSError, KeyError, AttributeError, zipfile.BadZipFile, tarfile.TarError) as e:
            problems.append(f"{name}: {e}")
    if "zip" in dlls:
        for name, dll in dlls.items():
            if sha(dll) != sha(dlls["zip"]):
                problems.append(f"{name}: carries a DLL other than the zip's ({sha(dll)[:12]} vs {sha(dlls['zip'])[:12]})")
        try:
            run_dll(wine, ctx["exe"], dlls["zip"], v)
        except Mismatch as e:
            problems.append(f"zip: {e}")
    return problems


# Hand-made mismatches: artifact, what is altered, how.
def rewrite_zip(path, pattern, edit):
    with zipfile.ZipFile(path) as z:
        entries = [(i, z.read(i)) for i in z.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in entries:
            z.writestr(info, edit(data) if re.fullmatch(pattern, info.filename) else data)


def rewrite_tgz(path, pattern, edit):
    with tarfile.open(path, "r:gz") as t:
        entries = [(m, t.extractfile(m).read() if m.isfile() else None) for m in t.getmembers()]
    with tarfile.open(path, "w:gz") as t:
        for m, data in entries:
            if data is not None and re.fullmatch(pattern, m.name):
                data = edit(data)
                m.size = len(data)
            t.addfile(m, io.BytesIO(data) if data is not None else None)


# The release's version (VERSION) and another of the same length, for the
# mismatches.
RELEASED = ""
OTHER = ""


def set_versions(version_file):
    global RELEASED, OTHER
    with open(version_file, encoding="utf-8") as f:
        RELEASED = f.readline().strip()
    # The same length, so a DLL's text can be swapped in place: its last
    # digit turned.
    OTHER = RELEASED[:-1] + str((int(RELEASED[-1]) + 1) % 10)


def bump(data):
    released, other = RELEASED.encode(), OTHER.encode()
    return data.replace(released, other, 1) if released in data else re.sub(
        rb"\d+\.\d+\.\d+", other, data, count=1)


def rename(dist, pattern, new_name):
    path = only(listing(dist, pattern), pattern)
    os.rename(path, os.path.join(dist, new_name))


def go_at(dist):
    return next(at for at, _, _ in os.walk(os.path.join(dist, "goproxy")) if os.path.basename(at) == "@v")


def maven_dir(dist):
    folder = os.path.join(dist, "maven", "com", "quillmar", "quillmar-gpuinfo")
    return os.path.join(folder, os.listdir(folder)[0])


MISMATCHES = [
    ("the DLL's gpuinfo_version", "zip", lambda d: rewrite_zip(
        listing(d, r".*-win64\.zip")[0], r"bin/" + re.escape(DLL), bump)),
    ("the CMake package version file", "zip", lambda d: rewrite_zip(
        listing(d, r".*-win64\.zip")[0], r".*-config-version\.cmake", bump)),
    ("the zip's name", "zip", lambda d: rename(d, r".*-win64\.zip", f"quillmar-dxgi-gpu-info-{OTHER}-win64.zip")),
    ("the wheel's METADATA", "wheel", lambda d: rewrite_zip(listing(d, r".*\.whl")[0], r".*/METADATA", bump)),
    ("the wheel's DLL", "wheel", lambda d: rewrite_zip(listing(d, r".*\.whl")[0], r".*\.dll", lambda b: b + b"\0")),
    ("the nupkg's nuspec", "nupkg", lambda d: rewrite_zip(listing(d, r".*\.nupkg")[0], r".*\.nuspec", bump)),
    ("the npm tarball's package.json", "npm", lambda d: rewrite_tgz(
        listing(d, r"quillmar-dxgi-gpu-info-[0-9].*\.tgz")[0], r"package/package\.json", bump)),
    ("the crate's Cargo.toml", "crate", lambda d: rewrite_tgz(
        listing(d, r".*\.crate")[0], r"[^/]+/Cargo\.toml", bump)),
    ("the jar's pom", "maven", lambda d: rewrite_zip(
        os.path.join(maven_dir(d), f"quillmar-gpuinfo-{os.path.basename(maven_dir(d))}.jar"),
        r"META-INF/maven/.*/pom\.xml", lambda b: b.replace(f"<version>{RELEASED}</version>".encode(),
                                                          f"<version>{OTHER}</version>".encode(), 1))),
    ("the Go module's @v/list", "go", lambda d: open(os.path.join(go_at(d), "list"), "w").write(f"v{OTHER}\n")),
    ("the Go module's .info", "go", lambda d: open(
        next(os.path.join(go_at(d), f) for f in os.listdir(go_at(d)) if f.endswith(".info")), "w").write(
        f'{{"Version":"v{OTHER}"}}\n')),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version-file", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--mismatches", action="store_true")
    args = parser.parse_args()
    set_versions(args.version_file)

    if not args.mismatches:
        problems = check(args.dist, args.version_file, args.wine)
        for p in problems:
            print(f"FAIL: {p}")
        print(f"release versions: {len(problems)} problem(s)")
        return 1 if problems else 0

    failed = 0
    print(f"{'altered by hand':<34} {'reported':<8} first problem")
    for what, artifact, alter in MISMATCHES:
        with tempfile.TemporaryDirectory() as work:
            copy = os.path.join(work, "dist")
            shutil.copytree(args.dist, copy)
            alter(copy)
            problems = check(copy, args.version_file, args.wine)
        named = [p for p in problems if p.startswith(artifact + ":")]
        ok = bool(named)
        failed += not ok
        print(f"{what:<34} {'yes' if ok else 'NO':<8} {named[0] if named else problems}")
        if not ok:
            print(f"FAIL: {what} altered, but no problem names {artifact}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
