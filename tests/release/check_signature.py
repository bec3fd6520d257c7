#!/usr/bin/env python3
"""Checks the Authenticode signatures of a signed release (scripts/release.sh
given the certificate and time-stamp authority of make_certificates.sh): the
DLL and gpuinfo.exe in the zip are dist/'s own assets, and verify against the
test's own authority and not against another; they still verify at a date
after the signer's certificate has expired, thanks to their time stamps, where
the tested DLL signed without a time stamp, or not at all, is refused; the
signed DLL passes the binary check; and the binary check refuses a signed
DLL with anything else added.

usage: check_signature.py --dist DIR --certificates DIR --tested DIR --check-binary PY
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

DLL = "quillmar-dxgi-gpu-info.dll"
failures = 0


def check(cond, message):
    global failures
    print(f"{'ok' if cond else 'FAIL'}: {message}")
    failures += not cond


# How long after the signer's certificate expired the late verification runs.
AFTER_EXPIRY_S = 2 * 24 * 3600


def verify(path, ca, at=None):
    when = ["-time", str(at)] if at is not None else []
    run = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca, *when, "-in", path],
                         capture_output=True, text=True)
    return run.returncode == 0, (run.stdout + run.stderr).strip().splitlines()


def sign_without_time_stamp(certificates, source, out):
    with open(os.path.join(certificates, "password.txt"), encoding="utf-8") as f:
        password = f.read().strip()
    subprocess.run(["osslsigncode", "sign", "-pkcs12", os.path.join(certificates, "sign.pfx"), "-pass", password,
                    "-h", "sha256", "-in", source, "-out", out], check=True, capture_output=True)


def said(lines, pattern):
    return [line.strip() for line in lines if re.search(pattern, line)]


def binary_check(script, dll, tested):
    """The check_binary.py run of the release preset's own DLL: hardened, and
    naming the PDB the tested tree holds."""
    pdb = os.path.join(tested, os.path.splitext(DLL)[0] + ".pdb")
    run = subprocess.run([sys.executable, script, "--dll", dll, "--hardened", "--pdb", pdb],
                         capture_output=True, text=True)
    return run.returncode == 0, run.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--certificates", required=True)
    parser.add_argument("--tested", required=True)
    parser.add_argument("--check-binary", required=True)
    args = parser.parse_args()
    zips = [f for f in os.listdir(args.dist) if f.endswith("-win64.zip")]
    check(len(zips) == 1, f"one release zip in {args.dist}: {zips}")
    ca = os.path.join(args.certificates, "ca.pem")
    other = os.path.join(args.certificates, "other-ca.pem")
    with tempfile.TemporaryDirectory() as work, zipfile.ZipFile(os.path.join(args.dist, zips[0])) as z:
        for name in (DLL, "gpuinfo.exe"):
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(z.read(f"bin/{name}"))
            ok, lines = verify(path, ca)
            verified = [line for line in lines if line.startswith("Signature verification")]
            check(ok, f"{name} verifies against the test's authority: {verified}")
            ok, lines = verify(path, other)
            check(not ok, f"{name} does not verify against another authority")
            with open(os.path.join(args.dist, name), "rb") as f:
                check(f.read() == z.read(f"bin/{name}"), f"dist/{name} is the zip's bin/{name}")

        # After the signer's certificate expired: only a time-stamped signature stands.
        with open(os.path.join(args.certificates, "signer-expiry.txt"), encoding="utf-8") as f:
            late = int(f.read()) + AFTER_EXPIRY_S
        stamp_less = os.path.join(work, "stamp-less.dll")
        sign_without_time_stamp(args.certificates, os.path.join(args.tested, DLL), stamp_less)
        late_cases = [
            # (what, file, verifies)
            (f"the release's {DLL}", os.path.join(work, DLL), True),
            ("the release's gpuinfo.exe", os.path.join(work, "gpuinfo.exe"), True),
            (f"the tested {DLL} signed without a time stamp", stamp_less, False),
            (f"the tested {DLL}, unsigned", os.path.join(args.tested, DLL), False),
        ]
        for what, path, verifies in late_cases:
            ok, lines = verify(path, ca, late)
            seen = said(lines, r"Timestamp time|Signature verification: |expired|No signature found")
            check(ok == verifies, f"osslsigncode verify -time {late} (after the signer's expiry) of {what}: "
                                  f"{'passes' if ok else 'fails'} {seen}")

        dll = os.path.join(work, DLL)
        ok, out = binary_check(args.check_binary, dll, args.tested)
        check(ok, "the signed DLL passes the binary check" + ("" if ok else f":\n{out}"))
        with open(dll, "rb") as f:
            signed = f.read()

        # Anything else in the file's tail, or a table that is no signature, is refused.
        offset = struct.unpack_from("<I", signed, signed.index(b"PE\0\0") + 24 + 112 + 4 * 8)[0]
        wrong_type = bytearray(signed)
        struct.pack_into("<H", wrong_type, offset + 6, 0x0001)  # X.509, not PKCS#7 signed data
        tampered = [
            ("bytes after the certificate table", signed + b"\0" * 8,
             r"certificate table at .* is not the file's tail"),
            ("a certificate entry that is no Authenticode signature", bytes(wrong_type),
             r"not an Authenticode signature"),
        ]
        for what, data, expected in tampered:
            with open(dll, "wb") as f:
                f.write(data)
            ok, out = binary_check(args.check_binary, dll, args.tested)
            check(not ok and re.search(expected, out) is not None, f"the binary check refuses {what}")
    print(f"signature checks: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
