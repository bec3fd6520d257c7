#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_report (tests/native/corpus/).

The layout is the one described at the top of fuzz_report.cpp. Rerun after
changing that layout:  python3 tests/native/make_corpus.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

UINT64_MAX = 2**64 - 1


def record(name, vendor, device, dedicated, shared, driver=None, software=0):
    assert len(name) <= 127
    flags = (1 if driver is not None else 0) | (2 if software else 0)
    return (bytes([len(name)]) + name +
            struct.pack("<IIQQBQ", vendor, device, dedicated, shared, flags, driver or 0))


def sample(records, software=0, version=0, description=""):
    units = description.encode("utf-16-le", "surrogatepass")
    assert len(units) // 2 <= 128
    return (bytes([len(records)]) + b"".join(records) +
            struct.pack("<iQ", software, version) +
            bytes([len(units) // 2]) + units)


SEEDS = {
    "empty": sample([]),
    "worked_example": sample(
        [record(b"Example V7 Graphics", 0x1002, 0x73BF, 17163091968, 34317172736, 0x001F00005DE103EB),
         record(b"Software Rasterizer", 0x1414, 0x008C, 0, 4241260544, None, 1)],
        software=1, version=0x001F00005DE103EB, description="Example V7 Graphics"),
    "maximum": sample(
        [record(b"A" + b'"' * 126, 0xFFFFFFFF, 0xFFFFFFFF, UINT64_MAX, UINT64_MAX, UINT64_MAX)] * 16,
        software=-2**31, version=UINT64_MAX, description="\u20ac" * 127),
    "escapes_and_controls": sample(
        [record(b'\tGPU "X" \\ 1\r\n  ', 0x10DE, 0x2684, 25757220864, 0, 0x0020000F00100D2A),
         record(bytes(range(1, 32)) + b"A \x7f\x80\xff", 0x8086, 0x4680, 1048575, 1048576, 0)],
        software=-1, version=10**19, description="A\ud83dB"),
    "utf8_cut_at_bound": sample(
        [record(b'"' * 94 + "\u20ac".encode(), 0x1AF4, 0x1050, 1 << 30, 1 << 33, 0x0001000200030004),
         record(b'"' * 95 + "\u20ac".encode(), 0x15AD, 0x0405, 0, 0),
         record(b'"' * 94 + "\U0001F600".encode(), 0x1234, 0x1111, 0, 0, None, 1),
         record(b"A" + b'"' * 94 + b"  B", 0x1022, 1, 0, 0),
         record(b'"' * 93 + "\u00e9\u00e9\u20ac".encode(), 0x10DE, 2, 0, 0),
         record(b'"' * 92 + b"\x80" * 7, 0x8086, 3, 0, 0)],
        software=2**31 - 1, version=2**20, description="\U0001F600" * 32),
    "description_surrogates": sample(
        [record("Caf\u00e9 \u20ac".encode(), 0x1002, 2, 3, 4, 5)],
        version=0x0009000A00630064, description="a" * 123 + "\U0001F600" + "\udc00\ud83d"),
    "description_widths": sample([], description="\u0416" * 64),
    "short_input": bytes([5, 3, 0x41]),
}


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
