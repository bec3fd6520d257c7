#!/usr/bin/env python3
"""What release.sh asks of a binary before it packs it: that it is the file
the suites tested, and that its Authenticode signature carries an RFC 3161
time stamp (a signature without one dies with its certificate).

usage: authenticode.py check --tested DIR --files DIR [--unsigned-ok]
           each binary in --files (DLL, gpuinfo.exe) equals, with its
           signature removed, the file of that name in --tested; each is
           signed with an RFC 3161 time stamp, or, with --unsigned-ok (a dry
           run), unsigned
       authenticode.py strip IN OUT
           IN without its certificate table, PE checksum zeroed

Identity ignores only what signing writes: the certificate table, its
directory entry, the alignment padding before it and the PE checksum.
"""
import argparse
import os
import struct
import sys

BINARIES = ("quillmar-dxgi-gpu-info.dll", "gpuinfo.exe")
PE_SIGNATURE = b"PE\0\0"
# Offsets inside the optional header (PE32+).
CHECKSUM_OFFSET = 64
DATA_DIRECTORY_OFFSET = 112
SECURITY_DIRECTORY = 4
CERTIFICATE_ALIGNMENT = 8
# RFC 3161 time-stamp tokens as an unsigned attribute of the signer: the
# OID Authenticode uses (Microsoft's, which signtool and osslsigncode -ts
# write) and the one of RFC 3161 itself (id-aa-timeStampToken).
TIMESTAMP_OIDS = (
    bytes.fromhex("060a2b0601040182370303 01".replace(" ", "")),
    bytes.fromhex("060b2a864886f70d010910020e"),
)


class Refused(Exception):
    pass


def layout(data):
    """(checksum offset, security directory offset, certificate table offset, size)."""
    if data[:2] != b"MZ":
        raise Refused("not a PE file")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != PE_SIGNATURE:
        raise Refused("not a PE file")
    optional = pe + 24
    directory = optional + DATA_DIRECTORY_OFFSET + SECURITY_DIRECTORY * 8
    table, size = struct.unpack_from("<II", data, directory)
    return optional + CHECKSUM_OFFSET, directory, table, size


def stripped(data):
    checksum, directory, table, size = layout(data)
    body = bytearray(data[:table] if size else data)
    struct.pack_into("<I", body, checksum, 0)
    struct.pack_into("<II", body, directory, 0, 0)
    return bytes(body), data[table:table + size] if size else b""


def same_with_signature_removed(tested, signed):
    want, _ = stripped(tested)
    got, _ = stripped(signed)
    padding = got[len(want):]
    return (got[:len(want)] == want and len(padding) < CERTIFICATE_ALIGNMENT
            and padding == b"\0" * len(padding))


def check(args):
    failures = []
    for name in BINARIES:
        with open(os.path.join(args.tested, name), "rb") as f:
            tested = f.read()
        path = os.path.join(args.files, name)
        with open(path, "rb") as f:
            data = f.read()
        try:
            if not same_with_signature_removed(tested, data):
                raise Refused(f"not the tested file {os.path.join(args.tested, name)}, even with its signature removed")
            _, certificates = stripped(data)
            if not certificates:
                if not args.unsigned_ok:
                    raise Refused("unsigned (only a dry run, GPUINFO_RELEASE_DRY_RUN=1, packs unsigned binaries)")
                print(f"{name}: the tested file, unsigned (dry run)")
                continue
            if not any(oid in certificates for oid in TIMESTAMP_OIDS):
                raise Refused("signed without an RFC 3161 time stamp: the signature would stop verifying "
                              "when its certificate expires")
            print(f"{name}: the tested file, signed, with an RFC 3161 time stamp")
        except Refused as refused:
            failures.append(f"{path}: {refused}")
    for failure in failures:
        print(f"refused: {failure}", file=sys.stderr)
    return 1 if failures else 0


def strip(args):
    with open(args.input, "rb") as f:
        body, _ = stripped(f.read())
    with open(args.output, "wb") as f:
        f.write(body)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    c = commands.add_parser("check")
    c.add_argument("--tested", required=True)
    c.add_argument("--files", required=True)
    c.add_argument("--unsigned-ok", action="store_true")
    c.set_defaults(run=check)
    s = commands.add_parser("strip")
    s.add_argument("input")
    s.add_argument("output")
    s.set_defaults(run=strip)
    args = parser.parse_args()
    try:
        return args.run(args)
    except (OSError, Refused, struct.error) as error:
        print(f"refused: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
