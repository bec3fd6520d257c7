#!/usr/bin/env python3
"""Uploads dist/'s .crate itself to crates.io, through the API `cargo publish`
uses (PUT /api/v1/crates/new: the crate's metadata as JSON, then the .crate's
bytes). `cargo publish` would pack the crate again with the publishing
machine's cargo, and the upload would no longer be the .crate SHA256SUMS lists
and the attestation covers; this uploads that file, so crates.io's checksum
is its SHA-256.

usage: publish_crate.py --check CRATE   exit 0: that version is published with
                                        these bytes; 3: not published; 1: it
                                        is published with other bytes
       publish_crate.py CRATE           uploads it (CARGO_REGISTRY_TOKEN)

CRATES_IO_API names another server (the tests' stand-in for crates.io).
"""
import hashlib
import io
import json
import os
import struct
import sys
import tarfile
import tomllib
import urllib.error
import urllib.request

API = os.environ.get("CRATES_IO_API", "https://crates.io")
USER_AGENT = "quillmar-dxgi-gpu-info release (https://github.com/quillmar/quillmar-dxgi-gpu-info)"
NOT_PUBLISHED = 3
TIMEOUT_S = 120


def read_crate(path):
    with open(path, "rb") as f:
        data = f.read()
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as t:
        manifest = next(m for m in t.getmembers() if m.name.count("/") == 1 and m.name.endswith("/Cargo.toml"))
        top = manifest.name.split("/")[0]
        toml = tomllib.loads(t.extractfile(manifest).read().decode("utf-8"))
        readme_name = toml["package"].get("readme")
        readme = t.extractfile(f"{top}/{readme_name}").read().decode("utf-8") if readme_name else None
    return data, toml, readme


def dependencies(toml):
    """The dependencies as the publish API lists them (cargo's NewCrateDependency)."""
    def listed(table, kind, target=None):
        for name, wanted in (table or {}).items():
            wanted = {"version": wanted} if isinstance(wanted, str) else wanted
            yield {"name": wanted.get("package", name), "version_req": wanted["version"],
                   "features": wanted.get("features", []), "optional": wanted.get("optional", False),
                   "default_features": wanted.get("default-features", True), "target": target, "kind": kind,
                   **({"explicit_name_in_toml": name} if "package" in wanted else {})}
    kinds = (("dependencies", "normal"), ("dev-dependencies", "dev"), ("build-dependencies", "build"))
    deps = [d for key, kind in kinds for d in listed(toml.get(key), kind)]
    for target, tables in (toml.get("target") or {}).items():
        deps += [d for key, kind in kinds for d in listed(tables.get(key), kind, target)]
    return deps


def metadata(toml, readme):
    package = toml["package"]
    return {
        "name": package["name"], "vers": package["version"], "deps": dependencies(toml),
        "features": toml.get("features", {}), "authors": package.get("authors", []),
        "description": package.get("description"), "documentation": package.get("documentation"),
        "homepage": package.get("homepage"), "readme": readme, "readme_file": package.get("readme"),
        "keywords": package.get("keywords", []), "categories": package.get("categories", []),
        "license": package.get("license"), "license_file": package.get("license-file"),
        "repository": package.get("repository"), "badges": {}, "links": package.get("links"),
        "rust_version": package.get("rust-version"),
    }


def request(method, path, body=None, token=None):
    headers = {"User-Agent": USER_AGENT, "Accept": "application/json"}
    if token:
        headers["Authorization"] = token
    req = urllib.request.Request(f"{API}{path}", data=body, method=method, headers=headers)
    with urllib.request.urlopen(req, timeout=TIMEOUT_S) as response:
        return json.load(response)


def published_checksum(name, version):
    try:
        return request("GET", f"/api/v1/crates/{name}/{version}")["version"]["checksum"]
    except urllib.error.HTTPError as error:
        if error.code == 404:
            return None
        raise


def main():
    args = sys.argv[1:]
    check_only = args[:1] == ["--check"]
    if check_only:
        args = args[1:]
    if len(args) != 1:
        sys.exit(__doc__)
    data, toml, readme = read_crate(args[0])
    meta = metadata(toml, readme)
    ours = hashlib.sha256(data).hexdigest()
    what = f"crates.io {meta['name']} {meta['vers']}"
    theirs = published_checksum(meta["name"], meta["vers"])
    if theirs == ours:
        print(f"publish_crate.py: {what} is already published with these bytes ({ours}): done")
        return 0
    if theirs is not None:
        print(f"publish_crate.py: {what} is already published with other bytes ({theirs}, ours {ours})",
              file=sys.stderr)
        return 1
    if check_only:
        print(f"publish_crate.py: {what} is not published yet")
        return NOT_PUBLISHED
    token = os.environ.get("CARGO_REGISTRY_TOKEN")
    if not token:
        print("publish_crate.py: no CARGO_REGISTRY_TOKEN", file=sys.stderr)
        return 1
    encoded = json.dumps(meta).encode("utf-8")
    body = struct.pack("<I", len(encoded)) + encoded + struct.pack("<I", len(data)) + data
    answer = request("PUT", "/api/v1/crates/new", body, token)
    warnings = answer.get("warnings") or {}
    print(f"publish_crate.py: uploaded {args[0]} as {what} (sha256 {ours}); warnings: {warnings}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
