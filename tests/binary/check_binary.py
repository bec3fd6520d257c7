#!/usr/bin/env python3
"""Checks the built DLL itself, since its headers, exports and imports are
part of what hosts rely on. Usage: check_binary.py <objdump> <dll>"""
import re
import subprocess
import sys

EXPORTS = ["gpuinfo_adapter_count", "gpuinfo_get_json", "gpuinfo_last_error",
           "gpuinfo_version", "gpuinfo_vram_mb"]
ALLOWED_DLLS = {"kernel32.dll", "msvcrt.dll"}
# Imported names that would mean threads, files, the registry, the
# environment, the heap, or a C runtime printf that does not terminate.
FORBIDDEN = re.compile(
    r"Thread|Tls|Fls|CriticalSection|Mutex|Semaphore|Event|WaitFor|Sleep|"
    r"File|^_?open|^fopen|^fwrite|^fputc|^fputs|printf|^_?write|^_?read|"
    r"^Reg|Environment|getenv|putenv|"
    r"alloc|^free$|^_?msize|Heap|Virtual|"
    r"atexit|_onexit|_initterm|_lock|_unlock", re.I)

failures = []
passed = 0


def check(cond, message):
    global passed
    if cond:
        passed += 1
    else:
        failures.append(message)
        print("FAIL:", message)


def main(objdump, dll):
    headers = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    sections = subprocess.run([objdump, "-h", dll], check=True, capture_output=True, text=True).stdout
    with open(dll, "rb") as f:
        image = f.read()

    check("file format pei-x86-64" in headers, "not a pei-x86-64 image")
    check(re.search(r"^Magic\s+020b\s+\(PE32\+\)", headers, re.M), "not PE32+")
    flags = int(re.search(r"^Characteristics 0x([0-9a-f]+)", headers, re.M).group(1), 16)
    check(flags & 0x2000, "image is not marked as a DLL")
    check(re.search(r"^Time/Date\s+Thu Jan  1 00:00:00 1970", headers, re.M), "link time stamp is set")
    dll_flags = int(re.search(r"^DllCharacteristics\s+([0-9a-f]+)", headers, re.M).group(1), 16)
    for bit, name in ((0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT"), (0x20, "HIGH_ENTROPY_VA")):
        check(dll_flags & bit, f"{name} missing")

    # Exports: five undecorated names, ordinal base 1, alphabetical ordinals.
    check(re.search(r"^Name\s+[0-9a-f]+ quillmar-dxgi-gpu-info\.dll$", headers, re.M),
          "export directory does not name quillmar-dxgi-gpu-info.dll")
    check(re.search(r"^Ordinal Base\s+1$", headers, re.M), "ordinal base is not 1")
    check(re.search(r"^\tExport Address Table\s+0+5$", headers, re.M), "export address table is not 5 entries")
    names = re.findall(r"^\t\[\s*(\d+)\] (\S+)$", headers.split("[Ordinal/Name Pointer] Table")[1], re.M)
    check([n for _, n in names] == EXPORTS, f"exported names are {names}")
    check([int(i) for i, _ in names] == list(range(5)), f"ordinals are not 1..5 in order: {names}")
    table = headers.split("Export Address Table -- Ordinal Base 1")[1].split("[Ordinal/Name Pointer]")[0]
    rvas = re.findall(r"\+base\[\s*(\d+)\]\s+([0-9a-f]+) Export RVA", table)
    check(not re.search(r"Forwarder", table), "an export is forwarded")
    text = re.search(r"\.text\s+([0-9a-f]+)\s+([0-9a-f]+)", sections)
    base = int(re.search(r"^ImageBase\s+([0-9a-f]+)", headers, re.M).group(1), 16)
    text_start, text_size = int(text.group(2), 16) - base, int(text.group(1), 16)
    for ordinal, rva in rvas:
        check(text_start <= int(rva, 16) < text_start + text_size, f"export {ordinal} is not code (data export)")
    check(len(rvas) == 5, f"{len(rvas)} export addresses")

    # Imports: KERNEL32 and the C runtime only, and nothing for threads,
    # files, the registry, the environment or the heap.
    imports = {}
    current = None
    for line in headers.split("The Import Tables")[1].split("The Export Tables")[0].splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = m.group(1).lower()
            imports[current] = []
            continue
        m = re.match(r"\s*[0-9a-f]+\s+\d+\s+([A-Za-z_]\w*)$", line)
        if current and m:
            imports[current].append(m.group(1))
    print("imports:", {k: sorted(v) for k, v in imports.items()})
    check(set(imports) <= ALLOWED_DLLS, f"unexpected DLLs imported: {sorted(set(imports) - ALLOWED_DLLS)}")
    check("kernel32.dll" in imports, "KERNEL32.dll not imported")
    for dll_name, functions in imports.items():
        for function in functions:
            check(not FORBIDDEN.search(function), f"{dll_name} {function} is imported")

    # Nothing else in the image: no resources, no TLS, no debug data.
    for entry, what in (("2", "Resource"), ("6", "Debug"), ("9", "Thread Storage"), ("d", "Delay Import")):
        check(re.search(rf"^Entry {entry} 0+ 0+ {what}", headers, re.M), f"{what} directory present")
    section_names = re.findall(r"^\s*\d+ (\.\w+)", sections, re.M)
    check(".rsrc" not in section_names and ".tls" not in section_names, f"sections: {section_names}")
    check(not any(n.startswith(".debug") for n in section_names), "debug sections present")
    check(b"dllexport" not in image, "stray export directive")
    print(f"size: {len(image)} bytes; sections: {' '.join(section_names)}")

    print(f"{passed} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
