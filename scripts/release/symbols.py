#!/usr/bin/env python3
"""Packs PDBs as a symbol server lays them out, keyed by their images.

usage: symbols.py OUT.zip IMAGE PDB [IMAGE PDB ...]

Each PDB goes to <name>.pdb/<GUID><age>/<name>.pdb, where the GUID and age
are the ones its image's CodeView entry names: what a debugger asks a symbol
server for when it meets that image in a crash dump. An image whose CodeView
entry names another file, or none, is refused. Entries are in name order;
release.sh dates them (normalize.py zip), so the same inputs give the same
bytes.
"""
import struct
import sys
import zipfile

DEBUG_DIRECTORY = 6
DEBUG_ENTRY_SIZE = 28
DEBUG_TYPE_CODEVIEW = 2
CODEVIEW_PDB70 = b"RSDS"


def fail(message):
    sys.exit(f"symbols.py: {message}")


def codeview(path):
    """The image's one CodeView entry: (GUID bytes, age, PDB name)."""
    with open(path, "rb") as f:
        data = f.read()

    def at(fmt, offset):
        if offset < 0 or offset + struct.calcsize(fmt) > len(data):
            fail(f"{path}: cut short at {offset:#x}")
        return struct.unpack_from(fmt, data, offset)

    (pe,) = at("<I", 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        fail(f"{path}: not a PE image")
    nsections, optional_size = at("<H", pe + 6)[0], at("<H", pe + 20)[0]
    optional = pe + 24
    if at("<H", optional)[0] != 0x20B:
        fail(f"{path}: not PE32+")
    rva, size = at("<II", optional + 112 + 8 * DEBUG_DIRECTORY)
    sections = [at("<IIII", optional + optional_size + 40 * i + 8) for i in range(nsections)]

    def offset_of(address):
        for virtual_size, virtual_address, raw_size, raw_pointer in sections:
            if virtual_address <= address < virtual_address + max(virtual_size, raw_size):
                return raw_pointer + address - virtual_address
        fail(f"{path}: RVA {address:#x} is in no section")

    found = []
    for i in range(size // DEBUG_ENTRY_SIZE if rva else 0):
        _, _, _, kind, length, _, pointer = at("<IIIIIII", offset_of(rva) + DEBUG_ENTRY_SIZE * i)
        if kind != DEBUG_TYPE_CODEVIEW:
            continue
        record = data[pointer:pointer + length]
        if len(record) < 25 or record[:4] != CODEVIEW_PDB70:
            fail(f"{path}: CodeView entry is not an RSDS record")
        found.append((record[4:20], struct.unpack_from("<I", record, 20)[0],
                      record[24:].split(b"\0", 1)[0].decode("utf-8")))
    if len(found) != 1:
        fail(f"{path}: {len(found)} CodeView entries, not one")
    return found[0]


def key(guid, age):
    a, b, c = struct.unpack_from("<IHH", guid, 0)
    return f"{a:08X}{b:04X}{c:04X}{guid[8:].hex().upper()}{age:X}"


def main(argv):
    if len(argv) < 4 or len(argv) % 2:
        fail("usage: symbols.py OUT.zip IMAGE PDB [IMAGE PDB ...]")
    entries = []
    for image, pdb in zip(argv[2::2], argv[3::2]):
        guid, age, name = codeview(image)
        if name != pdb.replace("\\", "/").rsplit("/", 1)[-1]:
            fail(f"{image} names the PDB {name!r}, not {pdb}")
        entries.append((f"{name}/{key(guid, age)}/{name}", pdb))
    with zipfile.ZipFile(argv[1], "w", zipfile.ZIP_DEFLATED) as z:
        for member, pdb in sorted(entries):
            z.write(pdb, member)
    for member, _ in sorted(entries):
        print(member)


if __name__ == "__main__":
    main(sys.argv)
