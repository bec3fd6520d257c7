#!/usr/bin/env python3
"""Checks the finished DLL itself: its headers, exports, imports and sections
are part of what hosts rely on, whichever toolchain linked it.

Usage: check_binary.py --dll <dll> [--crt <dll>...] [--objects <obj;obj...>]
                       [--timestamp zero|repro] [--expect-failure <text>]

The image and the objects are read by the small PE/COFF reader below, the
same way for every linker, so GNU ld, ld.lld and lld-link output are judged
by the same figures. Every read is bounds-checked: a damaged or unexpected
file gives a message, never a traceback.

--objects: the DLL's own object files; none may carry a constructor or
           initialiser section, since the DLL's entry point runs no C runtime
           start-up that would call them.
--timestamp repro: allow the hash stamp of Microsoft's /Brepro, which comes
           with a debug directory holding one REPRO entry; otherwise the stamp
           must be 0.
--expect-failure: a negative run; passes only if the check fails and one of
           its messages contains the text.
"""
import argparse
import re
import struct
import sys

EXPORTS = ["gpuinfo_adapter_count", "gpuinfo_get_json", "gpuinfo_last_error",
           "gpuinfo_version", "gpuinfo_vram_mb"]
MODULE_NAME = "quillmar-dxgi-gpu-info.dll"
# Imported names that would mean threads, files, the registry, the
# environment, the heap, exit handlers, or a C runtime printf that does not
# terminate what it cuts.
FORBIDDEN = re.compile(
    r"Thread|Tls|Fls|CriticalSection|Mutex|Semaphore|Event|WaitFor|Sleep|"
    r"File|^_?open|^fopen|^fwrite|^fputc|^fputs|printf|^_?write|^_?read|"
    r"^Reg|Environment|getenv|putenv|"
    r"alloc|^free$|^_?msize|Heap|Virtual|"
    r"atexit|_onexit|_initterm|_lock|_unlock", re.I)
# Sections through which a compiler hands the C runtime code to run at load or
# unload: GNU .ctors/.dtors and .init_array/.fini_array, MSVC .CRT$X*, TLS.
INITIALISER_SECTION = re.compile(r"^(\.ctors|\.dtors|\.init_array|\.fini_array|\.CRT\$X|\.tls)")

MACHINE_AMD64 = 0x8664
PE32_PLUS = 0x20B
IMAGE_FILE_DLL = 0x2000
DLL_FLAGS = ((0x20, "HIGH_ENTROPY_VA"), (0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT"))
SECTION_EXECUTE = 0x20000000
DEBUG_TYPE_REPRO = 16
DIRECTORY = {"export": 0, "import": 1, "resource": 2, "debug": 6, "tls": 9, "delay import": 13}


class Malformed(Exception):
    """The file is not what a PE/COFF reader can follow."""


class Reader:
    def __init__(self, data, what):
        self.data = data
        self.what = what

    def unpack(self, fmt, offset):
        size = struct.calcsize(fmt)
        if offset < 0 or offset + size > len(self.data):
            raise Malformed(f"{self.what}: {size} bytes at offset {offset:#x} lie beyond the file ({len(self.data)} bytes)")
        return struct.unpack_from(fmt, self.data, offset)

    def cstring(self, offset, limit=512):
        if offset < 0 or offset >= len(self.data):
            raise Malformed(f"{self.what}: text at offset {offset:#x} lies beyond the file")
        end = self.data.find(b"\0", offset, offset + limit)
        if end < 0:
            raise Malformed(f"{self.what}: text at offset {offset:#x} has no terminator within {limit} bytes")
        return self.data[offset:end].decode("ascii", "replace")


def section_table(reader, offset, count, string_table=None):
    sections = []
    for i in range(count):
        raw_name, vsize, vaddr, rsize, rptr = reader.unpack("<8sIIII", offset + 40 * i)
        (characteristics,) = reader.unpack("<I", offset + 40 * i + 36)
        name = raw_name.rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and string_table is not None and name[1:].isdigit():
            name = reader.cstring(string_table + int(name[1:]))
        sections.append({"name": name, "vsize": vsize, "vaddr": vaddr, "rsize": rsize, "rptr": rptr,
                         "flags": characteristics})
    return sections


class Image:
    """A PE32+ image: headers, data directories and sections."""

    def __init__(self, data, path):
        self.r = Reader(data, path)
        if self.r.unpack("<2s", 0)[0] != b"MZ":
            raise Malformed(f"{path}: no MZ header")
        (pe,) = self.r.unpack("<I", 0x3C)
        if self.r.unpack("<4s", pe)[0] != b"PE\0\0":
            raise Malformed(f"{path}: no PE signature")
        (self.machine, nsections, self.timestamp, _, _, opt_size,
         self.characteristics) = self.r.unpack("<HHIIIHH", pe + 4)
        opt = pe + 24
        (self.magic,) = self.r.unpack("<H", opt)
        if self.magic != PE32_PLUS:
            raise Malformed(f"{path}: optional header magic {self.magic:#x}, not PE32+")
        (self.image_base,) = self.r.unpack("<Q", opt + 24)
        (self.dll_characteristics,) = self.r.unpack("<H", opt + 70)
        (ndirs,) = self.r.unpack("<I", opt + 108)
        self.dirs = [self.r.unpack("<II", opt + 112 + 8 * i) for i in range(min(ndirs, 16))]
        self.dirs += [(0, 0)] * (16 - len(self.dirs))
        self.sections = section_table(self.r, opt + opt_size, nsections)

    def directory(self, name):
        return self.dirs[DIRECTORY[name]]

    def section_of(self, rva):
        for s in self.sections:
            if s["vaddr"] <= rva < s["vaddr"] + max(s["vsize"], s["rsize"]):
                return s
        return None

    def offset(self, rva):
        s = self.section_of(rva)
        if s is None or rva - s["vaddr"] >= s["rsize"]:
            raise Malformed(f"RVA {rva:#x} is not backed by file data in any section")
        return s["rptr"] + rva - s["vaddr"]

    def u16(self, rva):
        return self.r.unpack("<H", self.offset(rva))[0]

    def u32(self, rva):
        return self.r.unpack("<I", self.offset(rva))[0]

    def u64(self, rva):
        return self.r.unpack("<Q", self.offset(rva))[0]

    def text(self, rva):
        return self.r.cstring(self.offset(rva))

    def exports(self):
        rva, size = self.directory("export")
        if rva == 0:
            return None
        (_, _, _, _, name, base, nfunctions, nnames, functions, names, ordinals) = \
            self.r.unpack("<IIHHIIIIIII", self.offset(rva))
        if nfunctions > 0x10000 or nnames > nfunctions:
            raise Malformed(f"export directory claims {nfunctions} functions and {nnames} names")
        return {
            "rva": rva, "size": size, "name": self.text(name), "base": base,
            "functions": [self.u32(functions + 4 * i) for i in range(nfunctions)],
            "names": [self.text(self.u32(names + 4 * i)) for i in range(nnames)],
            "ordinals": [self.u16(ordinals + 2 * i) for i in range(nnames)],
        }

    def imports(self):
        rva, _ = self.directory("import")
        result = {}
        while rva:
            lookup, _, _, name, thunks = self.r.unpack("<IIIII", self.offset(rva))
            if name == 0:
                break
            dll = self.text(name).lower()
            functions = result.setdefault(dll, [])
            entry = lookup or thunks
            for i in range(0x10000):
                value = self.u64(entry + 8 * i)
                if value == 0:
                    break
                functions.append(f"#{value & 0xFFFF}" if value >> 63 else self.text((value & 0x7FFFFFFF) + 2))
            rva += 20
        return result

    def debug_types(self):
        rva, size = self.directory("debug")
        return [self.u32(rva + i + 12) for i in range(0, size - size % 28, 28)]


def object_sections(data, path):
    """Section names of one COFF object file."""
    r = Reader(data, path)
    machine, nsections, _, symbols, nsymbols, opt_size, _ = r.unpack("<HHIIIHH", 0)
    if machine != MACHINE_AMD64:
        raise Malformed(f"{path}: not an x86-64 COFF object (machine {machine:#x})")
    string_table = symbols + 18 * nsymbols if symbols else None
    return [s["name"] for s in section_table(r, 20 + opt_size, nsections, string_table)]


class Checks:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def __call__(self, cond, message):
        if cond:
            self.passed += 1
        else:
            self.failures.append(message)
            print("FAIL:", message)
        return bool(cond)


def check_image(check, image, args):
    check(image.machine == MACHINE_AMD64, f"machine {image.machine:#x}, not x86-64")
    check(image.characteristics & IMAGE_FILE_DLL, "image is not marked as a DLL")
    for bit, name in DLL_FLAGS:
        check(image.dll_characteristics & bit, f"{name} missing from DllCharacteristics")

    debug = image.debug_types()
    if args.timestamp == "repro":
        check(image.timestamp == 0 or debug == [DEBUG_TYPE_REPRO],
              f"link time stamp {image.timestamp:#x} without a /Brepro REPRO debug entry (debug types {debug})")
    else:
        check(image.timestamp == 0, f"link time stamp is {image.timestamp:#x}, not 0")
        check(not debug, f"debug directory present (types {debug})")

    # Exports: the five undecorated names at ordinals 1 to 5, all code.
    exports = image.exports()
    if not check(exports is not None, "no export directory"):
        return
    print(f"exports: base {exports['base']}, "
          + ", ".join(f"{n}@{exports['base'] + o}" for n, o in zip(exports["names"], exports["ordinals"])))
    check(exports["name"] == MODULE_NAME, f"export directory names {exports['name']!r}, not {MODULE_NAME}")
    check(exports["base"] == 1, f"ordinal base is {exports['base']}, not 1")
    check(len(exports["functions"]) == len(EXPORTS),
          f"export address table has {len(exports['functions'])} entries, not {len(EXPORTS)}")
    check(exports["names"] == EXPORTS, f"exported names are {exports['names']}, not {EXPORTS}")
    ordinals = [exports["base"] + o for o in exports["ordinals"]]
    check(ordinals == list(range(1, len(EXPORTS) + 1)), f"ordinals are {ordinals}, not 1 to {len(EXPORTS)} in name order")
    for i, rva in enumerate(exports["functions"]):
        ordinal = exports["base"] + i
        if exports["rva"] <= rva < exports["rva"] + exports["size"]:
            check(False, f"export ordinal {ordinal} is forwarded")
            continue
        section = image.section_of(rva)
        check(section is not None and section["flags"] & SECTION_EXECUTE,
              f"export ordinal {ordinal} (RVA {rva:#x}) is not code "
              f"({section['name'] if section else 'no section'})")

    # Imports: KERNEL32 and the C runtime only, by name, and nothing for
    # threads, files, the registry, the environment or the heap.
    imports = image.imports()
    print("imports:", {dll: sorted(functions) for dll, functions in sorted(imports.items())})
    allowed = {"kernel32.dll"} | {crt.lower() for crt in args.crt}
    check(set(imports) <= allowed, f"unexpected DLLs imported: {sorted(set(imports) - allowed)} (allowed {sorted(allowed)})")
    check("kernel32.dll" in imports, "KERNEL32.dll not imported")
    for dll, functions in sorted(imports.items()):
        for function in functions:
            check(not function.startswith("#"), f"{dll} {function} is imported by ordinal")
            check(not FORBIDDEN.search(function), f"{dll} {function} is imported")

    # Nothing else in the image: no resources, TLS, delay imports, debug
    # sections or initialiser tables.
    for name in ("resource", "tls", "delay import"):
        check(image.directory(name) == (0, 0), f"{name} directory present")
    names = [s["name"] for s in image.sections]
    check(".rsrc" not in names, f"resource section present: {names}")
    check(not any(n.startswith(".debug") for n in names), f"debug sections present: {names}")
    check(not any(INITIALISER_SECTION.match(n) or n == ".CRT" for n in names), f"initialiser section present: {names}")
    print(f"size: {len(image.r.data)} bytes; sections: {' '.join(names)}")


def check_objects(check, paths):
    for path in paths:
        with open(path, "rb") as f:
            names = object_sections(f.read(), path)
        found = [n for n in names if INITIALISER_SECTION.match(n)]
        check(not found, f"{path}: initialiser sections {found}: the DLL's own entry point would never run them")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dll", required=True)
    parser.add_argument("--crt", nargs="*", default=["msvcrt.dll"])
    parser.add_argument("--objects", default="")
    parser.add_argument("--timestamp", choices=("zero", "repro"), default="zero")
    parser.add_argument("--expect-failure", default=None)
    args = parser.parse_args()
    args.crt = [c for item in args.crt for c in item.split(";") if c]

    check = Checks()
    try:
        with open(args.dll, "rb") as f:
            check_image(check, Image(f.read(), args.dll), args)
        check_objects(check, [p for p in args.objects.split(";") if p])
    except (Malformed, OSError) as error:
        check(False, str(error))

    if args.expect_failure is not None:
        caught = [m for m in check.failures if args.expect_failure in m]
        print(f"negative run: {len(check.failures)} failure(s); "
              f"{'one' if caught else 'none'} mentions {args.expect_failure!r}")
        ok = bool(caught)
        print(f"{1 if ok else 0} passed, {0 if ok else 1} failed")
        return 0 if ok else 1
    print(f"{check.passed} passed, {len(check.failures)} failed")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
