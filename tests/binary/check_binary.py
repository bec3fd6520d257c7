#!/usr/bin/env python3
"""Checks the finished DLL itself: its headers, exports, imports and sections
are part of what hosts rely on, whichever toolchain linked it.

Usage: check_binary.py [--machine x64|arm64] [--dll <dll>] [--objects <obj;obj...>] [--imports-only]
                       [--timestamp zero|repro] [--hardened] [--pdb <pdb>]
                       [--damage <kind>] [--expect-failure <text>]
       check_binary.py --match-pdb <image> <pdb>
       check_binary.py --self-test

The image is read by pefile (Debian's python3-pefile), the objects by the
small COFF reader below (pefile reads PE images only), the same way for every
linker, so GNU ld, ld.lld and lld-link output are judged by the same figures.
Every read is bounds-checked: a damaged or unexpected file gives a message,
never a traceback.

The DLL imports from KERNEL32 alone, and only the functions in
KERNEL32_IMPORTS: no C runtime DLL of any flavour (msvcrt, UCRT, VCRUNTIME).

--objects: the DLL's own object files. None may carry a constructor or
           initialiser section, since the DLL's entry point runs no C runtime
           start-up that would call them; and none may reference a symbol
           other than KERNEL32_IMPORTS or what the given objects themselves
           define. That catches at build time what only a C runtime would
           provide: a stack probe (__chkstk, ___chkstk_ms), cl's run-time
           checks (_RTC_*), a security cookie (__security_cookie,
           __stack_chk_guard) that the DLL's own load configuration does not
           carry, memcpy and the like.
--imports-only: the imports and the objects alone, for builds of any type
           (a Debug DLL has debug data and a time stamp, and keeps both).
--timestamp repro: allow the hash stamp of Microsoft's /Brepro, which comes
           with a REPRO debug entry; otherwise the stamp must be 0. Either
           way the debug directory may hold only the entries Microsoft's link
           writes without debug information (DEBUG_TYPES_ALLOWED), and
           CodeView only as --pdb says.
--pdb:     the PDB the linker wrote beside the image: the image must carry
           exactly one CodeView entry, naming the PDB by its bare file name
           (no build machine's folder), with the PDB's own GUID and age.
           Without --pdb, no CodeView entry at all.
--match-pdb: that CodeView match alone, for any image (gpuinfo.exe too).
--machine: the architecture the image and objects are for: x64 (machine
           0x8664, the default) or arm64 (0xAA64).
--hardened: the toolchain gives Control Flow Guard and the architecture's
           return protection, so the image must have them all: GUARD_CF in
           DllCharacteristics; a load configuration whose guard flags say
           instrumented, with a function table, and whose table lists every
           export and the entry point (a guarded host's indirect call to
           any of them must pass). On x64, CET_COMPAT in the extended DLL
           characteristics (the EX_DLLCHARACTERISTICS debug entry). On
           ARM64, which has no CET, return-address signing with the B key,
           read from the code: every function (each start the exception
           table, the exports and the guard table name) that saves its
           return address (a store of x30 before its first branch) begins
           with PACIBSP, and at least one does. The objects may then also
           name the guard symbols the linker defines, and must use the
           stack cookie.
Every image with a load configuration is read as the loader reads it: the
directory's size is the structure's own Size; a stack cookie at an address
in writable data holding the default value the loader replaces (or the
guard flag that says the cookie is unused); guard pointer slots in read-only
data, each pointing into code; and no guard function table entry that is an
indirect jump (x64: jmp r/m64; ARM64: BR, BLR or their authenticating
forms to a register), which would let a guarded call go anywhere.
--damage:  a negative run on a copy of the DLL damaged in memory, one fault
           each (DAMAGES): the check must name it.
--self-test: the debug directory rule and the indirect-jump readers against
           their tables of cases.
--expect-failure: a negative run; passes only if the check fails and one of
           its messages contains the text.
"""
import argparse
import os
import re
import struct
import sys

EXPORTS = ["gpuinfo_adapter_count", "gpuinfo_get_json", "gpuinfo_last_error",
           "gpuinfo_version", "gpuinfo_vram_mb"]
MODULE_NAME = "quillmar-dxgi-gpu-info.dll"
# Everything the DLL imports, and everything its objects may reference.
KERNEL32 = "kernel32.dll"
KERNEL32_IMPORTS = ["GetModuleHandleA", "GetProcAddress", "GetSystemDirectoryA", "LoadLibraryExA",
                    "WideCharToMultiByte"]
ALLOWED_REFERENCES = set(KERNEL32_IMPORTS) | {"__imp_" + name for name in KERNEL32_IMPORTS}
# What a guarded build's objects name besides: the guard pointers (in the
# library's own load configuration) and the tables the linker makes.
GUARD_REFERENCES = {"__guard_check_icall_fptr", "__guard_dispatch_icall_fptr",
                    "__guard_fids_table", "__guard_fids_count", "__guard_flags",
                    "__guard_iat_table", "__guard_iat_count", "__guard_longjmp_table", "__guard_longjmp_count"}
# The stack cookie, as cl (/GS) and clang for windows-gnu
# (-fstack-protector-strong) name it.
STACK_COOKIE_NAMES = {"__security_cookie", "__stack_chk_guard"}
# Sections through which a compiler hands the C runtime code to run at load or
# unload: GNU .ctors/.dtors and .init_array/.fini_array, MSVC .CRT$X*, TLS.
INITIALISER_SECTION = re.compile(r"^(\.ctors|\.dtors|\.init_array|\.fini_array|\.CRT\$X|\.tls)")

MACHINES = {"x64": 0x8664, "arm64": 0xAA64}
PE32_PLUS = 0x20B
IMAGE_FILE_DLL = 0x2000
DLL_FLAGS = ((0x20, "HIGH_ENTROPY_VA"), (0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT"))
DLL_GUARD_CF = 0x4000
GUARD_CF_INSTRUMENTED = 0x100
GUARD_CF_FUNCTION_TABLE_PRESENT = 0x400
GUARD_CF_FUNCTION_TABLE_SIZE_SHIFT = 28  # extra bytes per table entry, in the flags' top nibble
DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20
EX_DLLCHARACTERISTICS_CET_COMPAT = 0x1
SECTION_EXECUTE = 0x20000000
DEBUG_TYPE_CODEVIEW = 2
DEBUG_TYPE_REPRO = 16
CODEVIEW_PDB70 = b"RSDS"
CODEVIEW_PDB70_HEADER = 24  # signature, GUID, age; the PDB's name follows
# A PDB is an MSF file; its stream 1 begins with version, signature, age
# and GUID.
MSF_MAGIC = b"Microsoft C/C++ MSF 7.00\r\n\x1aDS\0\0\0"
MSF_INFO_STREAM = 1
# The load configuration, as the loader reads it.
LOAD_CONFIG_SECURITY_COOKIE = 88  # the field's offset in IMAGE_LOAD_CONFIG_DIRECTORY64
DEFAULT_SECURITY_COOKIE_64 = 0x00002B992DDFA232
GUARD_SECURITY_COOKIE_UNUSED = 0x800
SECTION_WRITE = 0x80000000
SECTION_READ = 0x40000000
# An x86-64 indirect jump: jmp r/m64 (0xFF with ModRM reg 4, or 5 for a
# far one), after any REX prefix.
X64_REX = range(0x40, 0x50)
X64_GROUP5 = 0xFF
X64_JMP_INDIRECT = (4, 5)
# An ARM64 indirect branch to a register: the unconditional branch
# (register) class with opc BR, BLR, BRAA/BRAB(Z) or BLRAA/BLRAB(Z).
ARM64_BRANCH_REGISTER_CLASS = 0b1101011
ARM64_BRANCH_REGISTER_SHIFT = 25
ARM64_INDIRECT_OPC = (0b0000, 0b0001, 0b1000, 0b1001)
# Return-address signing: PACIBSP (B key, as Windows on ARM64 is built)
# and PACIASP (A key).
ARM64_PACIBSP = 0xD503237F
ARM64_PACIASP = 0xD503233F
ARM64_LINK_REGISTER = 30
# How far into a function its prologue is looked for.
ARM64_PROLOGUE_SCAN = 32
RUNTIME_FUNCTION_SIZE = 8
# What Microsoft's link writes in a Release link without debug information.
DEBUG_TYPES_ALLOWED = {12: "VC_FEATURE", 13: "POGO", 14: "ILTCG", 16: "REPRO", 20: "EX_DLLCHARACTERISTICS"}
DEBUG_ENTRY_SIZE = 28
SYMBOL_SIZE = 18
SYMBOL_CLASS_EXTERNAL = 2
SYMBOL_CLASS_WEAK_EXTERNAL = 105
# An object's compiler features, in the value of its @feat.00 symbol: 0x800
# says its code was compiled with Control Flow Guard (its indirect calls
# checked, its address-taken functions listed).
FEATURES_SYMBOL = b"@feat.00"
FEATURE_GUARD_CF = 0x800
DIRECTORY = {"export": 0, "import": 1, "resource": 2, "exception": 3, "certificate": 4, "debug": 6, "tls": 9, "load config": 10,
             "delay import": 13}
# An Authenticode signature: WIN_CERTIFICATE entries of PKCS#7 signed data.
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
WIN_CERT_HEADER_SIZE = 8
WIN_CERT_ALIGNMENT = 8
MAX_EXPORTS = 0x10000
# Debian's python3-pefile lives in the system's dist-packages, which another
# Python 3 on the machine (one CMake may find first) does not search; pefile
# is pure Python, so any Python 3 can load it from there.
DEBIAN_DIST_PACKAGES = "/usr/lib/python3/dist-packages"


def load_pefile():
    """pefile, or None if neither this Python nor Debian's package has it."""
    try:
        import pefile
    except ImportError:
        if DEBIAN_DIST_PACKAGES in sys.path:
            return None
        sys.path.append(DEBIAN_DIST_PACKAGES)
        try:
            import pefile
        except ImportError:
            return None
    return pefile


class Malformed(Exception):
    """The file is not what the readers can follow."""


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


def text(raw):
    return raw.rstrip(b"\0").decode("ascii", "replace") if raw is not None else ""


class Image:
    """A PE32+ image as pefile reads it: headers, data directories, sections,
    exports, imports and debug entries. pefile reports what it cannot follow
    as PEFormatError, or leaves a directory out (with a warning); both become
    Malformed here, so a damaged image gives a message, not a traceback."""

    def __init__(self, data, path, pefile):
        self.data = data
        self.path = path
        try:
            self.pe = pefile.PE(data=data, fast_load=True)
        except pefile.PEFormatError as error:
            raise Malformed(f"{path}: {error.value}") from None
        header = self.pe.FILE_HEADER
        self.machine = header.Machine
        self.timestamp = header.TimeDateStamp
        self.characteristics = header.Characteristics
        optional = self.pe.OPTIONAL_HEADER
        if optional.Magic != PE32_PLUS:
            raise Malformed(f"{path}: optional header magic {optional.Magic:#x}, not PE32+")
        self.dll_characteristics = optional.DllCharacteristics
        self.dirs = [(d.VirtualAddress, d.Size) for d in optional.DATA_DIRECTORY[:16]]
        self.dirs += [(0, 0)] * (16 - len(self.dirs))
        self.sections = [{"name": text(s.Name), "flags": s.Characteristics} for s in self.pe.sections]
        wanted = [pefile.DIRECTORY_ENTRY[name] for name in ("IMAGE_DIRECTORY_ENTRY_EXPORT",
                                                            "IMAGE_DIRECTORY_ENTRY_IMPORT",
                                                            "IMAGE_DIRECTORY_ENTRY_DEBUG",
                                                            "IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG")]
        try:
            self.pe.parse_data_directories(directories=wanted)
        except pefile.PEFormatError as error:
            raise Malformed(f"{path}: {error.value}") from None

    def unreadable(self, name):
        rva, size = self.directory(name)
        warnings = "; ".join(self.pe.get_warnings()) or "no warning from pefile"
        return Malformed(f"{self.path}: the {name} directory (RVA {rva:#x}, {size} bytes) cannot be read: {warnings}")

    def directory(self, name):
        return self.dirs[DIRECTORY[name]]

    def section_of(self, rva):
        section = self.pe.get_section_by_rva(rva)
        return None if section is None else {"name": text(section.Name), "flags": section.Characteristics}

    def exports(self):
        rva, size = self.directory("export")
        if rva == 0:
            return None
        entry = getattr(self.pe, "DIRECTORY_ENTRY_EXPORT", None)
        if entry is None:
            raise self.unreadable("export")
        nfunctions, nnames = entry.struct.NumberOfFunctions, entry.struct.NumberOfNames
        if nfunctions > MAX_EXPORTS or nnames > nfunctions:
            raise Malformed(f"export directory claims {nfunctions} functions and {nnames} names")
        # pefile leaves empty slots of the address table out of its symbols;
        # each slot is read here, so every one is judged.
        functions = [self.pe.get_dword_at_rva(entry.struct.AddressOfFunctions + 4 * i) for i in range(nfunctions)]
        if None in functions:
            raise Malformed(f"export address table at RVA {entry.struct.AddressOfFunctions:#x} "
                            f"is not backed by file data")
        named = [s for s in entry.symbols if s.name is not None]
        if len(named) != nnames:
            raise Malformed(f"export directory claims {nnames} names; {len(named)} can be read")
        if entry.name is None:
            raise Malformed(f"export directory's module name at RVA {entry.struct.Name:#x} cannot be read")
        return {
            "rva": rva, "size": size, "name": text(entry.name), "base": entry.struct.Base,
            "functions": functions,
            "names": [text(s.name) for s in named],
            "ordinals": [s.ordinal - entry.struct.Base for s in named],
        }

    def imports(self):
        rva, _ = self.directory("import")
        if rva == 0:
            return {}
        entries = getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", None)
        if entries is None:
            raise self.unreadable("import")
        result = {}
        for entry in entries:
            functions = result.setdefault(text(entry.dll).lower(), [])
            for function in entry.imports:
                functions.append(f"#{function.ordinal}" if function.import_by_ordinal else text(function.name))
        return result

    def debug_entries(self):
        rva, size = self.directory("debug")
        if rva == 0 or size < DEBUG_ENTRY_SIZE:
            return []
        entries = getattr(self.pe, "DIRECTORY_ENTRY_DEBUG", None)
        if entries is None:
            raise self.unreadable("debug")
        return entries

    def debug_types(self):
        return [entry.struct.Type for entry in self.debug_entries()]

    def ex_dll_characteristics(self):
        """The extended DLL characteristics, or None without that entry."""
        for entry in self.debug_entries():
            if entry.struct.Type == DEBUG_TYPE_EX_DLLCHARACTERISTICS:
                data = self.pe.get_data(entry.struct.AddressOfRawData, entry.struct.SizeOfData)
                if len(data) < 4:
                    raise Malformed(f"{self.path}: EX_DLLCHARACTERISTICS entry of {len(data)} bytes")
                return struct.unpack_from("<I", data)[0]
        return None

    def function_starts(self):
        """The start of every function the exception table (.pdata) lists."""
        rva, size = self.directory("exception")
        starts = []
        for at in range(rva, rva + size - RUNTIME_FUNCTION_SIZE + 1, RUNTIME_FUNCTION_SIZE):
            start = self.pe.get_dword_at_rva(at)
            if start is None:
                raise self.unreadable("exception")
            starts.append(start)
        return starts

    def guard(self):
        """The load configuration's guard flags and function table (RVAs),
        or None without a load configuration."""
        rva, _ = self.directory("load config")
        if rva == 0:
            return None
        entry = getattr(self.pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
        if entry is None:
            raise self.unreadable("load config")
        config = entry.struct
        flags = getattr(config, "GuardFlags", 0)
        count = getattr(config, "GuardCFFunctionCount", 0)
        table = getattr(config, "GuardCFFunctionTable", 0)
        if count > MAX_EXPORTS * 16:
            raise Malformed(f"{self.path}: guard function table claims {count} entries")
        stride = 4 + (flags >> GUARD_CF_FUNCTION_TABLE_SIZE_SHIFT & 0xF)
        functions = []
        if table:
            start = table - self.pe.OPTIONAL_HEADER.ImageBase
            functions = [self.pe.get_dword_at_rva(start + stride * i) for i in range(count)]
            if None in functions:
                raise Malformed(f"{self.path}: guard function table at {table:#x} is not backed by file data")
        base = self.pe.OPTIONAL_HEADER.ImageBase
        return {"size": config.Size, "directory size": self.directory("load config")[1], "flags": flags,
                "functions": functions, "cookie": config.SecurityCookie,
                "slots": {"check": config.GuardCFCheckFunctionPointer,
                          "dispatch": config.GuardCFDispatchFunctionPointer},
                "base": base}

    def read_va(self, va, size):
        """The file's bytes at a virtual address of the preferred base, or
        None where the image has none."""
        rva = va - self.pe.OPTIONAL_HEADER.ImageBase
        if rva < 0 or self.pe.get_section_by_rva(rva) is None:
            return None
        data = self.pe.get_data(rva, size)
        return data if len(data) == size else None

    def section_at_va(self, va):
        return self.section_of(va - self.pe.OPTIONAL_HEADER.ImageBase)

    def codeview(self):
        """Each CodeView entry's (GUID bytes, age, PDB name)."""
        found = []
        for entry in self.debug_entries():
            if entry.struct.Type != DEBUG_TYPE_CODEVIEW:
                continue
            data = self.pe.get_data(entry.struct.AddressOfRawData, entry.struct.SizeOfData)
            if len(data) < CODEVIEW_PDB70_HEADER + 1 or data[:4] != CODEVIEW_PDB70:
                raise Malformed(f"{self.path}: CodeView entry of {len(data)} bytes is not an RSDS record")
            guid, (age,) = data[4:20], struct.unpack_from("<I", data, 20)
            name = data[CODEVIEW_PDB70_HEADER:].split(b"\0", 1)[0].decode("utf-8", "replace")
            found.append((guid, age, name))
        return found

    def entry_point(self):
        return self.pe.OPTIONAL_HEADER.AddressOfEntryPoint


def section_names(reader, offset, count, string_table):
    names = []
    for i in range(count):
        (raw_name,) = reader.unpack("<8s", offset + 40 * i)
        name = raw_name.rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and string_table is not None and name[1:].isdigit():
            name = reader.cstring(string_table + int(name[1:]))
        names.append(name)
    return names


class CoffObject:
    """Section names and undefined symbols of one COFF object file. An object
    file is no PE image (no MZ header, no optional header) and pefile does not
    read one, nor its symbol table: this small reader does."""

    def __init__(self, data, path, arch):
        r = Reader(data, path)
        machine, nsections, _, symbols, nsymbols, opt_size, _ = r.unpack("<HHIIIHH", 0)
        if machine != MACHINES[arch]:
            raise Malformed(f"{path}: not an {arch} COFF object (machine {machine:#x})")
        string_table = symbols + SYMBOL_SIZE * nsymbols if symbols else None
        self.sections = section_names(r, 20 + opt_size, nsections, string_table)
        self.undefined = []
        self.defined = []
        self.features = 0
        i = 0
        while i < nsymbols:
            raw, value, section, _, storage, aux = r.unpack("<8sIhHBB", symbols + SYMBOL_SIZE * i)
            if raw == FEATURES_SYMBOL:
                self.features = value
            # Section 0 is "not here": external with value 0 is a reference
            # (a non-zero value would be a common block), and weak too.
            if raw[:4] == b"\0\0\0\0":
                name = r.cstring(string_table + struct.unpack_from("<I", raw, 4)[0])
            else:
                name = raw.rstrip(b"\0").decode("ascii", "replace")
            if section == 0 and (storage == SYMBOL_CLASS_WEAK_EXTERNAL or
                                 (storage == SYMBOL_CLASS_EXTERNAL and value == 0)):
                self.undefined.append(name)
            elif section > 0 and storage == SYMBOL_CLASS_EXTERNAL:
                self.defined.append(name)
            i += 1 + aux


def debug_directory_problems(types, timestamp, mode, pdb_names=None, pdb_wanted=None):
    """What is wrong with a debug directory of these entry types and this
    link time stamp; an empty list if nothing is. pdb_names: the CodeView
    entries' PDB names; pdb_wanted: the PDB's bare file name when one is
    written, None when none may be named."""
    problems = []
    for t in types:
        if t == DEBUG_TYPE_CODEVIEW:
            if pdb_wanted is None:
                problems.append("debug directory has a CodeView entry (debug data, a PDB path)")
        elif t not in DEBUG_TYPES_ALLOWED:
            problems.append(f"debug directory has an entry of type {t}")
    if pdb_wanted is not None:
        names = pdb_names or []
        if len(names) != 1:
            problems.append(f"debug directory has {len(names)} CodeView entries, not one naming {pdb_wanted}")
        for name in names:
            if "/" in name or "\\" in name:
                problems.append(f"CodeView entry names the PDB {name!r} with a folder, not by its bare file name")
            elif name != pdb_wanted:
                problems.append(f"CodeView entry names the PDB {name!r}, not {pdb_wanted}")
    if mode == "repro":
        if timestamp != 0 and DEBUG_TYPE_REPRO not in types:
            problems.append(f"link time stamp {timestamp:#x} without a /Brepro REPRO debug entry (debug types {types})")
    elif timestamp != 0:
        problems.append(f"link time stamp is {timestamp:#x}, not 0")
    return problems


PDB = "quillmar-dxgi-gpu-info.pdb"
CV = DEBUG_TYPE_CODEVIEW
# (entry types, time stamp, --timestamp, CodeView names, the PDB wanted, the
# problem expected or None)
DEBUG_DIRECTORY_CASES = [
    ([], 0, "zero", [], None, None),
    ([], 0x5F3E1A2B, "zero", [], None, "not 0"),
    ([DEBUG_TYPE_REPRO], 0x5F3E1A2B, "repro", [], None, None),
    ([12, 13, 14, 16, 20], 0x5F3E1A2B, "repro", [], None, None),     # link.exe /Brepro in Release
    ([13, 12], 0x5F3E1A2B, "repro", [], None, "without a /Brepro REPRO"),
    ([CV], 0, "zero", [PDB], None, "CodeView"),                      # no PDB written, yet one named
    ([CV, DEBUG_TYPE_REPRO], 0x5F3E1A2B, "repro", [PDB], None, "CodeView"),
    ([DEBUG_TYPE_REPRO, 4], 0x5F3E1A2B, "repro", [], None, "type 4"),  # MISC: a file name
    ([CV, 20], 0, "zero", [PDB], PDB, None),                         # lld with /pdbaltpath:%_PDB%
    ([CV, 12, 13, 16, 20], 0x5F3E1A2B, "repro", [PDB], PDB, None),   # link.exe /DEBUG /Brepro
    ([20], 0, "zero", [], PDB, "0 CodeView entries"),
    ([CV, CV, 20], 0, "zero", [PDB, PDB], PDB, "2 CodeView entries"),
    ([CV], 0, "zero", ["/work/build/bin/" + PDB], PDB, "with a folder"),
    ([CV], 0, "zero", ["C:\\build\\bin\\" + PDB], PDB, "with a folder"),
    ([CV], 0, "zero", ["gpuinfo.pdb"], PDB, "not " + PDB),
]


# (architecture, the code's first bytes, whether the guard table must refuse
# it as an indirect jump): each side of every range the readers test.
INDIRECT_JUMP_CASES = [
    ("x64", "ff e0", True),        # jmp rax (ModRM reg 4)
    ("x64", "ff 20", True),        # jmp [rax]
    ("x64", "ff 28", True),        # jmp far [rax] (reg 5)
    ("x64", "40 ff e0", True),     # the first REX prefix
    ("x64", "4f ff e7", True),     # the last REX prefix, jmp r15
    ("x64", "ff d0", False),       # call rax (reg 2)
    ("x64", "ff 18", False),       # call far [rax] (reg 3)
    ("x64", "ff 30", False),       # push [rax] (reg 6)
    ("x64", "3f ff e0", False),    # below the REX prefixes
    ("x64", "50 ff e0", False),    # above them: push rax
    ("x64", "ff", False),          # cut short
    ("x64", "c3", False),          # ret
    ("arm64", "e0 01 1f d6", True),   # br x15
    ("arm64", "e0 01 3f d6", True),   # blr x15
    ("arm64", "e0 09 1f d7", True),   # braa x15, x0
    ("arm64", "e0 09 3f d7", True),   # blraa x15, x0
    ("arm64", "c0 03 5f d6", False),  # ret
    ("arm64", "e0 03 9f d6", False),  # eret
    ("arm64", "7f 23 03 d5", False),  # pacibsp
    ("arm64", "e0 01 1f", False),     # cut short
]


def self_test():
    failed = 0
    for machine, code, expected in INDIRECT_JUMP_CASES:
        got = INDIRECT_JUMP[machine](bytes.fromhex(code))
        ok = got == expected
        failed += not ok
        print(f"{'ok  ' if ok else 'FAIL'} {machine} {code}: {'an indirect jump' if got else 'no indirect jump'}")
    for types, timestamp, mode, names, wanted, expected in DEBUG_DIRECTORY_CASES:
        problems = debug_directory_problems(types, timestamp, mode, names, wanted)
        ok = not problems if expected is None else any(expected in p for p in problems)
        failed += not ok
        print(f"{'ok  ' if ok else 'FAIL'} types {types}, stamp {timestamp:#x}, {mode}, CodeView {names}, "
              f"PDB {wanted}: {problems or 'accepted'}")
    total = len(INDIRECT_JUMP_CASES) + len(DEBUG_DIRECTORY_CASES)
    print(f"{total - failed} passed, {failed} failed")
    return 1 if failed else 0


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
    print(f"machine: {image.machine:#x}")
    check(image.machine == MACHINES[args.machine], f"machine {image.machine:#x}, not {args.machine}")
    check(image.characteristics & IMAGE_FILE_DLL, "image is not marked as a DLL")
    for bit, name in DLL_FLAGS:
        check(image.dll_characteristics & bit, f"{name} missing from DllCharacteristics")

    check_imports(check, image)
    if args.imports_only:
        return
    codeview = image.codeview()
    pdb_wanted = os.path.basename(args.pdb) if args.pdb else None
    for problem in debug_directory_problems(image.debug_types(), image.timestamp, args.timestamp,
                                            [name for _, _, name in codeview], pdb_wanted):
        check(False, problem)
    if args.pdb:
        for problem in pdb_match_problems(codeview, args.pdb):
            check(False, problem)
    check_load_config(check, image)

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

    # Nothing else in the image: no resources, TLS, delay imports, debug
    # sections or initialiser tables.
    for name in ("resource", "tls", "delay import"):
        check(image.directory(name) == (0, 0), f"{name} directory present")
    for problem in certificate_table_problems(image):
        check(False, problem)
    names = [s["name"] for s in image.sections]
    check(".rsrc" not in names, f"resource section present: {names}")
    check(not any(n.startswith(".debug") for n in names), f"debug sections present: {names}")
    check(not any(INITIALISER_SECTION.match(n) or n == ".CRT" for n in names), f"initialiser section present: {names}")
    print(f"size: {len(image.data)} bytes; sections: {' '.join(names)}")
    if args.hardened:
        check_hardening(check, image, exports, args.machine)


def check_hardening(check, image, exports, arch):
    """Control Flow Guard and the architecture's return protection, whole."""
    check(image.dll_characteristics & DLL_GUARD_CF, "GUARD_CF missing from DllCharacteristics")
    guard = image.guard()
    if check(guard is not None, "no load configuration: Control Flow Guard has no guard flags or function table"):
        flags = guard["flags"]
        print(f"load configuration: {guard['size']} bytes, guard flags {flags:#x}, "
              f"function table {len(guard['functions'])} entries: "
              + " ".join(f"{rva:#x}" for rva in guard["functions"]))
        check(flags & GUARD_CF_INSTRUMENTED, f"guard flags {flags:#x} lack CF_INSTRUMENTED")
        check(flags & GUARD_CF_FUNCTION_TABLE_PRESENT, f"guard flags {flags:#x} lack CF_FUNCTION_TABLE_PRESENT")
        listed = set(guard["functions"])
        for name, ordinal in zip(exports["names"], exports["ordinals"]):
            check(exports["functions"][ordinal] in listed, f"export {name} is not in the guard function table")
        check(image.entry_point() in listed, "the entry point is not in the guard function table")
        for rva in guard["functions"]:
            code = image.pe.get_data(rva, 4)
            check(not INDIRECT_JUMP[arch](code),
                  f"guard function table lists RVA {rva:#x}, an indirect jump ({code.hex(' ')}): "
                  f"a guarded call could go anywhere through it")
    if arch == "arm64":
        starts = set(image.function_starts()) | set(exports["functions"])
        if guard is not None:
            starts |= set(guard["functions"])
        check_return_signing(check, image, sorted(starts))
        return
    ex = image.ex_dll_characteristics()
    print(f"extended DLL characteristics: {'none' if ex is None else hex(ex)}")
    check(ex is not None and ex & EX_DLLCHARACTERISTICS_CET_COMPAT,
          "CET_COMPAT missing from the extended DLL characteristics")


def is_indirect_jump(code):
    """Whether x86-64 code starts with jmp r/m64 (register or memory)."""
    at = 1 if code[:1] and code[0] in X64_REX else 0
    return len(code) > at + 1 and code[at] == X64_GROUP5 and (code[at + 1] >> 3 & 7) in X64_JMP_INDIRECT


def is_arm64_indirect_branch(code):
    """Whether ARM64 code starts with a branch to a register (BR, BLR and the
    authenticating forms; RET is no jump to an arbitrary target)."""
    if len(code) < 4:
        return False
    (insn,) = struct.unpack_from("<I", code)
    return insn >> ARM64_BRANCH_REGISTER_SHIFT == ARM64_BRANCH_REGISTER_CLASS and (insn >> 21 & 0xF) in ARM64_INDIRECT_OPC


INDIRECT_JUMP = {"x64": is_indirect_jump, "arm64": is_arm64_indirect_branch}


def arm64_is_branch(insn):
    """B, BL, B.cond, CBZ/CBNZ, TBZ/TBNZ, or any branch to a register (RET too)."""
    return ((insn & 0x7C000000) == 0x14000000 or (insn & 0xFF000010) == 0x54000000
            or (insn & 0x7E000000) in (0x34000000, 0x36000000)
            or insn >> ARM64_BRANCH_REGISTER_SHIFT == ARM64_BRANCH_REGISTER_CLASS)


def arm64_stores_link_register(insn):
    """STP (64-bit, any addressing) or STR (64-bit, immediate) of x30."""
    if (insn & 0xFFC00000) in (0xA9000000, 0xA9800000, 0xA8800000):
        return ARM64_LINK_REGISTER in (insn & 0x1F, insn >> 10 & 0x1F)
    if (insn & 0xFFC00000) == 0xF9000000 or (insn & 0xFFE00400) == 0xF8000400:
        return insn & 0x1F == ARM64_LINK_REGISTER
    return False


def check_return_signing(check, image, starts):
    """Every function that saves its return address signs it with the B key
    first: its first instruction is PACIBSP."""
    signed = 0
    for rva in starts:
        code = image.pe.get_data(rva, 4 * ARM64_PROLOGUE_SCAN)
        words = struct.unpack_from(f"<{len(code) // 4}I", code)
        saves = False
        for insn in words:
            if arm64_stores_link_register(insn):
                saves = True
            if arm64_is_branch(insn):
                break
        if not saves:
            continue
        first = words[0]
        if first == ARM64_PACIBSP:
            signed += 1
        elif first == ARM64_PACIASP:
            check(False, f"function at RVA {rva:#x} signs its return address with the A key (PACIASP), not the B key")
        else:
            check(False, f"function at RVA {rva:#x} saves its return address unsigned "
                         f"(first instruction {first:#010x}, not PACIBSP)")
    print(f"return-address signing: {signed} of {len(starts)} function starts begin with PACIBSP, "
          f"the rest save no return address")
    check(signed > 0, "no function signs its return address (PACIBSP)")


def check_load_config(check, image):
    """The load configuration as the loader reads it: its size, the stack
    cookie it seeds, and the guard pointer slots it fills."""
    config = image.guard()
    if config is None:
        return
    check(config["directory size"] == config["size"],
          f"load configuration directory is {config['directory size']} bytes, the structure says {config['size']}")
    cookie = config["cookie"]
    if config["flags"] & GUARD_SECURITY_COOKIE_UNUSED:
        print("stack cookie: unused (guard flags say so)")
    elif check(cookie != 0, "load configuration has no security cookie (0), and the guard flags do not say "
                            "it is unused: the loader refuses such an image from subsystem version 6.3 on"):
        value = image.read_va(cookie, 8)
        section = image.section_at_va(cookie)
        shown = "nothing" if value is None else hex(struct.unpack("<Q", value)[0])
        print(f"stack cookie: at {cookie:#x} ({section['name'] if section else 'no section'}), holding {shown}")
        if check(value is not None and section is not None, f"security cookie at {cookie:#x} is not in the image"):
            check(struct.unpack("<Q", value)[0] == DEFAULT_SECURITY_COOKIE_64,
                  f"security cookie at {cookie:#x} holds {shown}, not the default "
                  f"{DEFAULT_SECURITY_COOKIE_64:#x} the loader replaces")
            check(section["flags"] & SECTION_WRITE and not section["flags"] & SECTION_EXECUTE,
                  f"security cookie at {cookie:#x} is in {section['name']} ({section['flags']:#x}), "
                  f"not writable data the loader can seed")
    for name, slot in config["slots"].items():
        if slot == 0:
            continue
        section = image.section_at_va(slot)
        value = image.read_va(slot, 8)
        if not check(section is not None and value is not None, f"guard {name} slot at {slot:#x} is not in the image"):
            continue
        target = struct.unpack("<Q", value)[0]
        where = image.section_at_va(target)
        print(f"guard {name} slot: at {slot:#x} ({section['name']}), pointing at {target:#x} "
              f"({where['name'] if where else 'no section'})")
        check(section["flags"] & SECTION_READ and not section["flags"] & (SECTION_WRITE | SECTION_EXECUTE),
              f"guard {name} slot at {slot:#x} is in {section['name']} ({section['flags']:#x}), not read-only data")
        check(where is not None and where["flags"] & SECTION_EXECUTE,
              f"guard {name} slot at {slot:#x} points at {target:#x}, which is not code "
              f"({where['name'] if where else 'no section'})")


def read_pdb_identity(path):
    """A PDB's (GUID bytes, age), from its info stream."""
    with open(path, "rb") as f:
        data = f.read()
    r = Reader(data, path)
    if data[:len(MSF_MAGIC)] != MSF_MAGIC:
        raise Malformed(f"{path}: not an MSF 7.00 file")
    block_size, _, nblocks, directory_bytes, _, block_map = r.unpack("<6I", len(MSF_MAGIC))
    if block_size not in (512, 1024, 2048, 4096) or block_size * nblocks > len(data):
        raise Malformed(f"{path}: block size {block_size} with {nblocks} blocks")

    def blocks(first_index_offset, size):
        count = (size + block_size - 1) // block_size
        return [r.unpack("<I", first_index_offset + 4 * i)[0] for i in range(count)]

    def read(block_list, size):
        return b"".join(data[b * block_size:(b + 1) * block_size] for b in block_list)[:size]

    directory_blocks = [r.unpack("<I", block_map * block_size + 4 * i)[0]
                        for i in range((directory_bytes + block_size - 1) // block_size)]
    directory = Reader(read(directory_blocks, directory_bytes), f"{path} (stream directory)")
    (nstreams,) = directory.unpack("<I", 0)
    if nstreams <= MSF_INFO_STREAM:
        raise Malformed(f"{path}: {nstreams} streams, no info stream")
    sizes = [directory.unpack("<I", 4 + 4 * i)[0] for i in range(nstreams)]
    at = 4 + 4 * nstreams
    for i, size in enumerate(sizes[:MSF_INFO_STREAM + 1]):
        size = 0 if size == 0xFFFFFFFF else size
        count = (size + block_size - 1) // block_size
        if i == MSF_INFO_STREAM:
            info = read([directory.unpack("<I", at + 4 * k)[0] for k in range(count)], size)
            if len(info) < 28:
                raise Malformed(f"{path}: info stream of {len(info)} bytes")
            _, _, age = struct.unpack_from("<3I", info, 0)
            return info[12:28], age
        at += 4 * count
    raise Malformed(f"{path}: no info stream")


def guid_text(guid):
    """A GUID as a symbol server's folder spells it (no dashes, upper case)."""
    a, b, c = struct.unpack_from("<IHH", guid, 0)
    return f"{a:08X}{b:04X}{c:04X}" + guid[8:].hex().upper()


def pdb_match_problems(codeview, pdb_path):
    """Whether the image's one CodeView entry is that PDB: same GUID, same age."""
    guid, age = read_pdb_identity(pdb_path)
    print(f"PDB {os.path.basename(pdb_path)}: GUID {guid_text(guid)}, age {age}")
    problems = []
    for image_guid, image_age, name in codeview:
        print(f"CodeView entry: {name}, GUID {guid_text(image_guid)}, age {image_age}")
        if (image_guid, image_age) != (guid, age):
            problems.append(f"CodeView entry's GUID {guid_text(image_guid)} age {image_age} is not the PDB's "
                            f"({guid_text(guid)} age {age})")
    return problems


def certificate_table_problems(image):
    """A signature is the one thing signing may add: a certificate table of
    Authenticode entries from the end of the last section to the end of the
    file. Unsigned, nothing follows the last section."""
    sections_end = max((s.PointerToRawData + s.SizeOfRawData for s in image.pe.sections), default=0)
    offset, size = image.directory("certificate")  # a file offset, not an RVA
    if size == 0:
        if offset != 0:
            return [f"certificate directory at {offset:#x} with no size"]
        if len(image.data) > sections_end:
            return [f"{len(image.data) - sections_end} bytes after the last section, and no certificate table"]
        return []
    if offset < sections_end or offset + size != len(image.data):
        return [f"certificate table at {offset:#x} ({size} bytes) is not the file's tail "
                f"(sections end at {sections_end:#x}, the file at {len(image.data):#x})"]
    problems, at = [], offset
    while at < offset + size:
        if at + WIN_CERT_HEADER_SIZE > offset + size:
            return problems + [f"certificate entry at {at:#x} cut short"]
        length, revision, kind = struct.unpack_from("<IHH", image.data, at)
        if length < WIN_CERT_HEADER_SIZE or at + length > offset + size:
            return problems + [f"certificate entry at {at:#x} has length {length}"]
        if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
            problems.append(f"certificate entry at {at:#x} is revision {revision:#x} type {kind:#x}, "
                            "not an Authenticode signature")
        at += (length + WIN_CERT_ALIGNMENT - 1) // WIN_CERT_ALIGNMENT * WIN_CERT_ALIGNMENT
    return problems


def check_imports(check, image):
    """KERNEL32 alone, by name, and only the functions in KERNEL32_IMPORTS."""
    imports = image.imports()
    print("imports:", {dll: sorted(functions) for dll, functions in sorted(imports.items())})
    others = sorted(set(imports) - {KERNEL32})
    check(not others, f"DLLs other than KERNEL32 imported: {others}")
    check(KERNEL32 in imports, "KERNEL32.dll not imported")
    for dll, functions in sorted(imports.items()):
        for function in functions:
            check(dll != KERNEL32 or function in KERNEL32_IMPORTS,
                  f"{dll} {function} is imported (allowed: {', '.join(KERNEL32_IMPORTS)})")


def check_objects(check, paths, allowed, hardened, arch):
    objects = []
    for path in paths:
        with open(path, "rb") as f:
            objects.append(CoffObject(f.read(), path, arch))
    # What one of the DLL's own objects defines (its load configuration's
    # stack cookie, say) is no C runtime's.
    allowed = allowed | {name for obj in objects for name in obj.defined}
    if hardened and objects:
        check(any(set(obj.undefined) & STACK_COOKIE_NAMES for obj in objects),
              "no object uses the stack cookie: the code is not compiled with /GS or -fstack-protector-strong")
    for path, obj in zip(paths, objects):
        found = [n for n in obj.sections if INITIALISER_SECTION.match(n)]
        check(not found, f"{path}: initialiser sections {found}: the DLL's own entry point would never run them")
        print(f"{path}: references {sorted(obj.undefined)}")
        if hardened:
            check(obj.features & FEATURE_GUARD_CF,
                  f"{path}: not compiled with Control Flow Guard (@feat.00 {obj.features:#x} lacks CF_INSTRUMENTED code)")
        for name in sorted(set(obj.undefined) - allowed):
            check(False, f"{path} references {name}, which only a C runtime would provide "
                         f"(allowed: KERNEL32's {', '.join(KERNEL32_IMPORTS)})")


def damage(data, kind, pefile):
    """A copy of the image with one fault a real loader or reviewer would
    find, made in memory: the check must name it."""
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]])
    config = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    base = pe.OPTIONAL_HEADER.ImageBase
    out = bytearray(data)

    def put(va, value):
        offset = pe.get_offset_from_rva(va - base)
        out[offset:offset + 8] = struct.pack("<Q", value)

    dispatch_target = pe.get_qword_at_rva(config.GuardCFDispatchFunctionPointer - base)
    config_va = base + pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIRECTORY["load config"]].VirtualAddress
    if kind == "cookie-zero":
        put(config_va + LOAD_CONFIG_SECURITY_COOKIE, 0)
    elif kind == "dispatch-listed":
        offset = pe.get_offset_from_rva(config.GuardCFFunctionTable - base)
        out[offset:offset + 4] = struct.pack("<I", dispatch_target - base)
    elif kind == "slot-to-data":
        put(config.GuardCFDispatchFunctionPointer, config_va)
    elif kind == "directory-size":
        # What a linker that sizes the directory by its own idea of the
        # structure writes: the loader then reads fields the DLL never set.
        entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIRECTORY["load config"]]
        offset = entry.get_field_absolute_offset("Size")
        out[offset:offset + 4] = struct.pack("<I", config.Size + 128)
    elif kind == "a-key":
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
        for symbol in pe.DIRECTORY_ENTRY_EXPORT.symbols:
            offset = pe.get_offset_from_rva(symbol.address)
            if struct.unpack_from("<I", out, offset)[0] == ARM64_PACIBSP:
                out[offset:offset + 4] = struct.pack("<I", ARM64_PACIASP)
    return bytes(out)


# --damage: the fault made, and the text the check must then print.
DAMAGES = {"cookie-zero": "no security cookie", "dispatch-listed": "an indirect jump",
           "slot-to-data": "which is not code", "directory-size": "the structure says",
           "a-key": "with the A key"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machine", choices=sorted(MACHINES), default="x64")
    parser.add_argument("--dll")
    parser.add_argument("--objects", nargs="*", action="extend", default=[])
    parser.add_argument("--imports-only", action="store_true")
    parser.add_argument("--timestamp", choices=("zero", "repro"), default="zero")
    parser.add_argument("--hardened", action="store_true")
    parser.add_argument("--expect-failure", default=None)
    parser.add_argument("--pdb")
    parser.add_argument("--match-pdb", nargs=2, metavar=("IMAGE", "PDB"))
    parser.add_argument("--damage", choices=sorted(DAMAGES))
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    if args.match_pdb:
        return match_pdb(*args.match_pdb)
    if args.damage:
        args.expect_failure = DAMAGES[args.damage]
    objects = [p for arg in args.objects for p in arg.split(";") if p]
    if not args.dll and not objects:
        parser.error("nothing to check: give --dll, --objects or both")

    check = Checks()
    try:
        if args.dll:
            pefile = load_pefile()
            if pefile is None:
                check(False, "pefile is not installed (Debian: python3-pefile; scripts/setup.sh test)")
            else:
                with open(args.dll, "rb") as f:
                    data = f.read()
                if args.damage:
                    data = damage(data, args.damage, pefile)
                check_image(check, Image(data, args.dll, pefile), args)
        check_objects(check, objects, ALLOWED_REFERENCES | (GUARD_REFERENCES if args.hardened else set()), args.hardened,
                      args.machine)
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


def match_pdb(image_path, pdb_path):
    """--match-pdb: the image names that PDB by its bare name, GUID and age."""
    pefile = load_pefile()
    problems = []
    try:
        if pefile is None:
            problems.append("pefile is not installed (Debian: python3-pefile)")
        else:
            with open(image_path, "rb") as f:
                codeview = Image(f.read(), image_path, pefile).codeview()
            wanted = os.path.basename(pdb_path)
            problems += debug_directory_problems([DEBUG_TYPE_CODEVIEW] * len(codeview), 0, "zero",
                                                 [name for _, _, name in codeview], wanted)
            problems += pdb_match_problems(codeview, pdb_path)
    except (Malformed, OSError) as error:
        problems.append(str(error))
    for problem in problems:
        print("FAIL:", problem)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
