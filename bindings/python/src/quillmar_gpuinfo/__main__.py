"""python -m quillmar_gpuinfo, or the command quillmar-gpuinfo: the adapters
as gpuinfo.exe's table, or the library's JSON report. Exit codes as
gpuinfo.exe's."""
import sys
from typing import List, Optional, TextIO

import quillmar_gpuinfo as gpu
from quillmar_gpuinfo._table import render

PROGRAM = "quillmar_gpuinfo"
EXIT_OK = 0
EXIT_ENUMERATION_FAILED = 1
EXIT_USAGE = 2
EXIT_LIBRARY_UNUSABLE = 3

USAGE = f"""\
Usage: python -m {PROGRAM} [--json | --version | --help]
   or: quillmar-gpuinfo [--json | --version | --help]

Lists the graphics adapters that DXGI reports, using {gpu.LIBRARY_NAME}
from the folder of this package.

  (no option)  a table: index, name, vendor, vendor:device ids in hex,
               dedicated and shared memory, driver version, software adapter
  --json       the library's JSON report, unchanged
  --version    the versions of this package and of the library
  --help       this text

Exit codes:
  0  success (also when no adapter is found)
  1  the adapters could not be listed (the library's reason is printed)
  2  wrong command line
  3  the library could not be loaded or lacks one of its calls
"""
MODES = {"--json": "json", "--version": "version", "--help": "help", "-h": "help"}


def write(stream: TextIO, text: str) -> None:
    # A console shows the text as it is; files and pipes get UTF-8 with bare
    # newlines, byte for byte what gpuinfo.exe writes.
    if stream.isatty():
        stream.write(text)
        stream.flush()
    else:
        stream.flush()
        stream.buffer.write(text.encode("utf-8"))
        stream.buffer.flush()


def complain(text: str) -> None:
    write(sys.stderr, f"{PROGRAM}: {text}\n")


def main(argv: List[str]) -> int:
    if len(argv) > 1:
        complain(f"unexpected argument '{argv[1]}': give at most one option\n"
                 f"Try 'python -m {PROGRAM} --help' for more information.")
        return EXIT_USAGE
    mode: Optional[str] = "table"
    if argv:
        mode = MODES.get(argv[0])
        if mode is None:
            kind = "unknown option" if argv[0].startswith("-") else "unexpected argument"
            complain(f"{kind} '{argv[0]}'\nTry 'python -m {PROGRAM} --help' for more information.")
            return EXIT_USAGE
    if mode == "help":
        write(sys.stdout, USAGE)
        return EXIT_OK
    try:
        gpu.load()
    except gpu.GpuInfoError as error:
        complain(error.reason)
        return EXIT_LIBRARY_UNUSABLE
    if mode == "version":
        write(sys.stdout, f"{PROGRAM} {gpu.__version__} (library {gpu.version()})\n")
        return EXIT_OK
    try:
        report = gpu.report()
    except gpu.GpuInfoError as error:
        complain(error.reason)
        return EXIT_ENUMERATION_FAILED
    write(sys.stdout, report + "\n" if mode == "json" else render(gpu.parse_report(report)))
    return EXIT_OK


def run() -> int:
    """The console script quillmar-gpuinfo."""
    return main(sys.argv[1:])


if __name__ == "__main__":
    sys.exit(run())
