#!/usr/bin/env python3
"""Two release runs of one commit give the same dist/ once the Authenticode
signatures are removed: each signature carries its own RFC 3161 time stamp,
so the signed DLL and gpuinfo.exe differ in their certificate tables, and so
does every package that carries them, and every list of hashes.

usage: compare_dists.py FIRST SECOND

Each file compares byte for byte or, failing that, by content: a PE file
without its signature (scripts/release/authenticode.py), an archive member by
member, a list of hashes (SHA256SUMS, a wheel's RECORD, the SPDX document)
with the hashes masked (what they hash is compared on its own), a detached
GPG signature not at all (it signs a file compared on its own).
"""
import gzip
import io
import os
import re
import sys
import tarfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "release"))
from authenticode import Refused, stripped  # noqa: E402

HASH_LISTS = re.compile(r"(^|/)(SHA256SUMS|RECORD|[^/]*\.spdx\.json)$")
HASH = re.compile(rb"\b[0-9a-fA-F]{40,128}\b|sha256=[A-Za-z0-9_-]{43}(,\d+)?")


def members(data):
    if data[:2] == b"PK":
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            return {i.filename: z.read(i) for i in z.infolist()}
    if data[:2] == b"\x1f\x8b":
        with tarfile.open(fileobj=io.BytesIO(gzip.decompress(data))) as t:
            return {m.name: (t.extractfile(m).read() if m.isfile() else b"") for m in t.getmembers()}
    return None


def content(name, data):
    """What must be equal: bytes, or a normal form of them."""
    if name.endswith(".asc"):
        return b"(a detached signature)"
    if HASH_LISTS.search(name):
        return HASH.sub(b"<hash>", data)
    if data[:2] == b"MZ":
        try:
            return stripped(data)[0]
        except Refused:
            return data
    inner = members(data)
    if inner is not None:
        return {member: content(member, value) for member, value in inner.items()}
    return data


def differences(name, a, b):
    ca, cb = content(name, a), content(name, b)
    if isinstance(ca, dict) and isinstance(cb, dict):
        if sorted(ca) != sorted(cb):
            return [f"{name}: members differ: {sorted(set(ca) ^ set(cb))}"]
        return [f"{name}!{m}" for m in ca if ca[m] != cb[m]]
    return [] if ca == cb else [name]


def listing(top):
    return sorted(os.path.relpath(os.path.join(d, f), top) for d, _, fs in os.walk(top) for f in fs)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    first, second = sys.argv[1:]
    files = listing(first)
    failures = []
    if files != listing(second):
        failures.append(f"the file lists differ: {sorted(set(files) ^ set(listing(second)))}")
    same = unsigned_same = 0
    for name in files:
        if not os.path.exists(os.path.join(second, name)):
            continue
        with open(os.path.join(first, name), "rb") as f:
            a = f.read()
        with open(os.path.join(second, name), "rb") as f:
            b = f.read()
        if a == b:
            same += 1
            continue
        found = differences(name, a, b)
        if found:
            failures += [f"{d} differs" for d in found]
        else:
            unsigned_same += 1
            print(f"same once the signatures are removed: {name}")
    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"{len(files)} files: {same} the same bytes, {unsigned_same} the same once the signatures are removed, "
          f"{len(failures)} different")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
