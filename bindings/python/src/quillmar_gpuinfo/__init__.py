"""Which graphics adapters this Windows x64 machine has, from
quillmar-dxgi-gpu-info.dll through ctypes.

The DLL sits beside this file; load(path) takes another copy. The library
answers one call at a time and rewrites its texts on later calls, so every
call here runs under one lock and copies its text before releasing it.
"""
import ctypes
import json
import os
import sys
import threading
from dataclasses import dataclass, fields

__all__ = ["Adapter", "GpuInfoError", "LIBRARY_NAME", "adapter_count", "adapters", "last_error", "load",
           "report", "vram_mb", "version"]
__version__ = "1.0.0"

# Outside Windows the name is that of the test build of the same source.
LIBRARY_NAME = "quillmar-dxgi-gpu-info.dll" if sys.platform == "win32" else "libquillmar-dxgi-gpu-info.so"
INT32_MIN = -2147483648
INT32_MAX = 2147483647
# Only reached if the library failed without saying why.
UNKNOWN_REASON = "adapter enumeration failed"

# name, result type, argument types. c_char_p hands back a copy in a bytes
# object and never frees the library's pointer, which lives in its static
# storage.
_SIGNATURES = (
    ("gpuinfo_version", ctypes.c_char_p, ()),
    ("gpuinfo_last_error", ctypes.c_char_p, ()),
    ("gpuinfo_get_json", ctypes.c_char_p, ()),
    ("gpuinfo_adapter_count", ctypes.c_int32, ()),
    ("gpuinfo_vram_mb", ctypes.c_int32, (ctypes.c_int32,)),
)

_lock = threading.RLock()
_calls = None


class GpuInfoError(Exception):
    """The adapters could not be listed; .reason is the library's last-error text."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


@dataclass(frozen=True)
class Adapter:
    """One adapter of the report, with the report's field names."""
    index: int
    name: str
    vendor: str
    vendor_id: int
    device_id: int
    dedicated_vram_mb: int
    shared_memory_mb: int
    driver_version: str
    software: int


_ADAPTER_FIELDS = tuple(f.name for f in fields(Adapter))


def default_path():
    """The DLL beside this package."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)


def load(path=None):
    """Loads the library from `path` (default: beside this package) and returns
    its path. Raises OSError if it can't be loaded or lacks one of its calls;
    the library loaded before stays in use then."""
    if path is None:
        path = default_path()
    if not isinstance(path, (str, os.PathLike)) or os.fspath(path) in ("", b""):
        raise TypeError("load(path): path must be a non-empty str or os.PathLike")
    path = os.path.abspath(os.fspath(path))
    library = ctypes.CDLL(path)
    calls = {}
    for name, result, arguments in _SIGNATURES:
        try:
            function = getattr(library, name)
        except AttributeError:
            raise OSError(f"{path} lacks the export {name}") from None
        function.restype = result
        function.argtypes = arguments
        calls[name] = function
    global _calls
    with _lock:
        _calls = calls
    return path


def _library():
    if _calls is None:
        load()
    return _calls


def _text(name):
    return _library()[name]().decode("utf-8")


def _failure():
    return GpuInfoError(_text("gpuinfo_last_error") or UNKNOWN_REASON)


def parse_report(report):
    """The adapters of a report as the library writes it (str or UTF-8 bytes)."""
    if isinstance(report, bytes):
        report = report.decode("utf-8")
    return [Adapter(**{key: entry[key] for key in _ADAPTER_FIELDS}) for entry in json.loads(report)["adapters"]]


def version():
    """The library's version, "1.0.0"."""
    with _lock:
        return _text("gpuinfo_version")


def last_error():
    """Why the last enumeration failed, or "" (emptied by adapters())."""
    with _lock:
        return _text("gpuinfo_last_error")


def report():
    """The library's JSON report, unchanged. Raises GpuInfoError."""
    with _lock:
        raw = _library()["gpuinfo_get_json"]()
        if raw is None:
            raise _failure()
        return raw.decode("utf-8")


def adapters():
    """Every adapter DXGI reports, software ones included. Raises GpuInfoError."""
    return parse_report(report())


def adapter_count():
    """Number of adapters that are not software adapters. Raises GpuInfoError."""
    with _lock:
        count = _library()["gpuinfo_adapter_count"]()
        if count < 0:
            raise _failure()
        return count


def vram_mb(index):
    """Dedicated video memory in MiB of the adapter at `index`, or -1 (no such
    adapter, or the enumeration failed: last_error() tells them apart)."""
    # bool is an int to Python but never an index; a value outside int32
    # would otherwise wrap into a valid position.
    if isinstance(index, bool) or not isinstance(index, int):
        raise TypeError(f"index must be an int, not {type(index).__name__}")
    if not INT32_MIN <= index <= INT32_MAX:
        raise OverflowError(f"index must be from {INT32_MIN} to {INT32_MAX}, not {index}")
    with _lock:
        return _library()["gpuinfo_vram_mb"](index)
