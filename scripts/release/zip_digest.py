#!/usr/bin/env python3
"""SHA-256 over a zip's members (names and contents, in name order), leaving
out the members named: what a registry that adds a file of its own (NuGet's
repository signature, .signature.p7s) keeps of the uploaded package.

usage: zip_digest.py ZIP [MEMBER-TO-LEAVE-OUT...]
"""
import hashlib
import sys
import zipfile


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    left_out = set(sys.argv[2:])
    digest = hashlib.sha256()
    with zipfile.ZipFile(sys.argv[1]) as z:
        for name in sorted(n for n in z.namelist() if n not in left_out):
            digest.update(name.encode("utf-8") + b"\0" + hashlib.sha256(z.read(name)).digest())
    print(digest.hexdigest())
    return 0


if __name__ == "__main__":
    sys.exit(main())
