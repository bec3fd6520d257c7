"""Which graphics adapters this Windows x64 machine has, from
quillmar-dxgi-gpu-info.dll through ctypes.

The DLL sits beside this file; load(path) takes another copy. The library
answers one call at a time and rewrites its texts on later calls, so every
call here runs under one lock and copies its text before releasing it.

On Windows that lock is the named mutex "Local\\quillmar-dxgi-gpu-info-<pid>",
which every binding of the library takes, so sub-interpreters, other copies
of this package and other languages in the same process are kept apart too.
It is made with the process token's default security; an object already
under the name that is no mutex, or not owned and labelled as this process's
own objects are, raises GpuInfoError at once, and the next call tries again.
One held for longer than LOCK_WAIT_MS (which no call of the library takes)
raises GpuInfoError rather than hang.
"""
import ctypes
import json
import os
import sys
import threading
from dataclasses import dataclass
from typing import Any, Callable, List, Optional, Union

__all__ = ["Adapter", "GpuInfoError", "LIBRARY_NAME", "adapter_count", "adapters", "default_path", "last_error",
           "load", "lock_name", "parse_report", "report", "vram_mb", "version"]
__version__ = "1.0.0"

# Outside Windows the name is that of the test build of the same source.
LIBRARY_NAME = "quillmar-dxgi-gpu-info.dll" if sys.platform == "win32" else "libquillmar-dxgi-gpu-info.so"
INT32_MIN = -2147483648
INT32_MAX = 2147483647
# Only reached if the library failed without saying why.
UNKNOWN_REASON = "adapter enumeration failed"

# The process-wide lock every binding shares; {pid} is the decimal process id.
LOCK_NAME = "Local\\quillmar-dxgi-gpu-info-{pid}"
LOCK_WAIT_MS = 30000
_WAIT_OBJECT_0 = 0
_WAIT_ABANDONED = 0x80
# The DLL's own imports come from System32 alone, never the search order.
_LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR = 0x100
_LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
_ERROR_ALREADY_EXISTS = 183
_TOKEN_QUERY = 0x0008
_TOKEN_OWNER = 4
_TOKEN_INTEGRITY_LEVEL = 25
_SE_KERNEL_OBJECT = 6
_OWNER_SECURITY_INFORMATION = 0x1
_LABEL_SECURITY_INFORMATION = 0x10
_SYSTEM_MANDATORY_LABEL_ACE_TYPE = 0x11
_MEDIUM_LEVEL = 0x2000
_ACE_SID_OFFSET = 8  # ACE_HEADER (4 bytes) and the access mask (4)

StrPath = Union[str, "os.PathLike[str]"]


class GpuInfoError(Exception):
    """The adapters could not be listed: DXGI could not be reached (.reason is
    the library's last-error text), or the DLL could not be loaded (.reason
    names its path)."""

    def __init__(self, reason: str) -> None:
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
    software: bool


class _Library:
    """The five calls of one loaded copy of the library. c_char_p results hand
    back a copy in a bytes object and never free the library's pointer,
    which lives in its static storage."""

    def __init__(self, path: str) -> None:
        try:
            library = ctypes.CDLL(path, winmode=_LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | _LOAD_LIBRARY_SEARCH_SYSTEM32)
        except OSError as error:
            raise GpuInfoError(f"cannot load {path}: {error}") from None
        self.version: Callable[[], Optional[bytes]] = self._bind(library, path, "gpuinfo_version", ctypes.c_char_p)
        self.last_error: Callable[[], Optional[bytes]] = self._bind(library, path, "gpuinfo_last_error",
                                                                    ctypes.c_char_p)
        self.get_json: Callable[[], Optional[bytes]] = self._bind(library, path, "gpuinfo_get_json", ctypes.c_char_p)
        self.adapter_count: Callable[[], int] = self._bind(library, path, "gpuinfo_adapter_count", ctypes.c_int32)
        self.vram_mb: Callable[[int], int] = self._bind(library, path, "gpuinfo_vram_mb", ctypes.c_int32,
                                                        ctypes.c_int32)

    @staticmethod
    def _bind(library: ctypes.CDLL, path: str, name: str, result: Any, *arguments: Any) -> Any:
        try:
            function = getattr(library, name)
        except AttributeError:
            raise GpuInfoError(f"cannot load {path}: it lacks the export {name}") from None
        function.restype = result
        function.argtypes = arguments
        return function


def lock_name(pid: Optional[int] = None) -> str:
    """The name of the process-wide lock for process `pid` (default: this one)."""
    return LOCK_NAME.format(pid=os.getpid() if pid is None else pid)


class _NamedMutex:
    """The named mutex that covers the process, with kernel32's and
    advapi32's functions bound once, so letting go needs no lookup that
    could fail or be interrupted half-way."""

    def __init__(self) -> None:
        c = ctypes
        handle, dword = c.c_void_p, c.c_uint32
        kernel32 = c.WinDLL("kernel32", use_last_error=True)  # type: ignore[attr-defined]
        advapi32 = c.WinDLL("advapi32", use_last_error=True)  # type: ignore[attr-defined]

        def bind(library: Any, name: str, result: Any, *arguments: Any) -> Any:
            function = getattr(library, name)
            function.restype = result
            function.argtypes = arguments
            return function

        self._create = bind(kernel32, "CreateMutexW", handle, handle, c.c_int, c.c_wchar_p)
        self._wait = bind(kernel32, "WaitForSingleObject", dword, handle, dword)
        self._release = bind(kernel32, "ReleaseMutex", c.c_int, handle)
        self._close = bind(kernel32, "CloseHandle", c.c_int, handle)
        self._local_free = bind(kernel32, "LocalFree", handle, handle)
        self._current_process = bind(kernel32, "GetCurrentProcess", handle)
        self._open_token = bind(advapi32, "OpenProcessToken", c.c_int, handle, dword, c.POINTER(handle))
        self._token_information = bind(advapi32, "GetTokenInformation", c.c_int, handle, c.c_int, c.c_void_p, dword,
                                       c.POINTER(dword))
        self._security_info = bind(advapi32, "GetSecurityInfo", dword, handle, c.c_int, dword, c.POINTER(handle),
                                   handle, handle, c.POINTER(handle), c.POINTER(handle))
        self._equal_sid = bind(advapi32, "EqualSid", c.c_int, handle, handle)
        self._get_ace = bind(advapi32, "GetAce", c.c_int, handle, dword, c.POINTER(handle))
        self._sub_authority_count = bind(advapi32, "GetSidSubAuthorityCount", c.POINTER(c.c_ubyte), handle)
        self._sub_authority = bind(advapi32, "GetSidSubAuthority", c.POINTER(dword), handle, dword)
        self._mutex: Optional[int] = None

    def _level(self, sid: Any) -> int:
        return int(self._sub_authority(sid, self._sub_authority_count(sid)[0] - 1)[0])

    def _own(self, mutex: int) -> bool:
        """Whether the mutex found under the name is owned by the owner this
        process's token gives new objects and labelled no lower than they are
        (the lower of its level and medium). Wine records no owner for
        objects of default security; Windows always does."""
        c = ctypes
        token = c.c_void_p()
        if not self._open_token(self._current_process(), _TOKEN_QUERY, c.byref(token)):
            return False
        owner_info = c.create_string_buffer(256)
        level_info = c.create_string_buffer(256)
        size = c.c_uint32()
        known = (self._token_information(token, _TOKEN_OWNER, owner_info, len(owner_info), c.byref(size))
                 and self._token_information(token, _TOKEN_INTEGRITY_LEVEL, level_info, len(level_info), c.byref(size)))
        self._close(token)
        if not known:
            return False
        # Both start with a pointer to their SID.
        token_owner = c.c_void_p.from_buffer(owner_info).value
        ours = min(self._level(c.c_void_p.from_buffer(level_info).value), _MEDIUM_LEVEL)
        owner, sacl, descriptor = c.c_void_p(), c.c_void_p(), c.c_void_p()
        if self._security_info(mutex, _SE_KERNEL_OBJECT, _OWNER_SECURITY_INFORMATION | _LABEL_SECURITY_INFORMATION,
                               c.byref(owner), None, None, c.byref(sacl), c.byref(descriptor)) != 0:
            return False
        try:
            if owner.value and not self._equal_sid(owner, token_owner):
                return False
            level = _MEDIUM_LEVEL
            # ACL: revision, padding, size (2 bytes), ACE count (2 bytes).
            count = c.c_uint16.from_address(sacl.value + 4).value if sacl.value else 0
            for i in range(count):
                ace = c.c_void_p()
                at = ace.value if self._get_ace(sacl, i, c.byref(ace)) else None
                if at and c.c_ubyte.from_address(at).value == _SYSTEM_MANDATORY_LABEL_ACE_TYPE:
                    level = self._level(at + _ACE_SID_OFFSET)
                    break
            return level >= ours
        finally:
            self._local_free(descriptor)

    def _made(self) -> int:
        """The mutex, made or checked once it is good; a failure is not kept."""
        if self._mutex is None:
            mutex = self._create(None, 0, lock_name())
            if not mutex:
                raise GpuInfoError(f"no process lock: CreateMutexW failed with {ctypes.get_last_error()}")  # type: ignore[attr-defined]
            if ctypes.get_last_error() == _ERROR_ALREADY_EXISTS and not self._own(mutex):  # type: ignore[attr-defined]
                self._close(mutex)
                raise GpuInfoError("no process lock: the mutex under its name is not this process's own")
            self._mutex = mutex
        return self._mutex

    def hold(self) -> None:
        got = self._wait(self._made(), LOCK_WAIT_MS)
        if got not in (_WAIT_OBJECT_0, _WAIT_ABANDONED):
            raise GpuInfoError(f"no process lock: WaitForSingleObject gave {got}")

    def let_go(self) -> None:
        if not self._release(self._mutex):
            raise GpuInfoError(f"no process lock: ReleaseMutex failed with {ctypes.get_last_error()}")  # type: ignore[attr-defined]


class _ProcessLock:
    """Held across each call and the copy of its text: a thread lock for this
    interpreter, and on Windows the named mutex that covers the process.
    Both are let go of in `finally`, so an exception (a KeyboardInterrupt
    too) raised in the call or while letting go leaves neither held."""

    def __init__(self) -> None:
        self._threads = threading.RLock()
        self._named = _NamedMutex() if sys.platform == "win32" else None

    def __enter__(self) -> None:
        self._threads.acquire()
        try:
            if self._named is not None:
                self._named.hold()
        except BaseException:
            self._threads.release()
            raise

    def __exit__(self, *exc: Any) -> None:
        try:
            if self._named is not None:
                self._named.let_go()
        finally:
            self._threads.release()


_lock = _ProcessLock()
_loaded: Optional[_Library] = None


def default_path() -> str:
    """The DLL beside this package."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)


def load(path: Optional[StrPath] = None) -> str:
    """Loads the library from `path` (default: beside this package) and returns
    its absolute path. Raises GpuInfoError naming the path if it can't be
    loaded or lacks one of its calls; the library loaded before stays in use
    then. The other calls load the default on first use."""
    if path is None:
        path = default_path()
    if not isinstance(path, (str, os.PathLike)) or os.fspath(path) in ("", b""):
        raise TypeError("load(path): path must be a non-empty str or os.PathLike")
    full = os.path.abspath(os.fspath(path))
    if not isinstance(full, str):
        raise TypeError("load(path): path must be a str, not bytes")
    library = _Library(full)
    global _loaded
    with _lock:
        _loaded = library
    return full


def _library() -> _Library:
    global _loaded
    if _loaded is None:
        _loaded = _Library(default_path())
    return _loaded


def _text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8") if raw is not None else ""


def _failure(library: _Library) -> GpuInfoError:
    return GpuInfoError(_text(library.last_error()) or UNKNOWN_REASON)


def parse_report(report: Union[str, bytes]) -> List[Adapter]:
    """The adapters of a report as the library writes it (str or UTF-8 bytes)."""
    if isinstance(report, bytes):
        report = report.decode("utf-8")
    return [Adapter(index=entry["index"], name=entry["name"], vendor=entry["vendor"], vendor_id=entry["vendor_id"],
                    device_id=entry["device_id"], dedicated_vram_mb=entry["dedicated_vram_mb"],
                    shared_memory_mb=entry["shared_memory_mb"], driver_version=entry["driver_version"],
                    software=bool(entry["software"]))
            for entry in json.loads(report)["adapters"]]


def version() -> str:
    """The library's version, "1.0.0". Raises GpuInfoError if it can't be loaded."""
    with _lock:
        return _text(_library().version())


def last_error() -> str:
    """Why the last enumeration failed, or "" (a report empties it first; the
    counting calls leave an earlier failure in place when they succeed)."""
    with _lock:
        return _text(_library().last_error())


def report() -> str:
    """The library's JSON report, unchanged. Raises GpuInfoError."""
    with _lock:
        library = _library()
        raw = library.get_json()
        if raw is None:
            raise _failure(library)
        return raw.decode("utf-8")


def adapters() -> List[Adapter]:
    """Every adapter DXGI reports, software ones included. Raises GpuInfoError."""
    return parse_report(report())


def adapter_count() -> int:
    """Number of adapters that are not software adapters. Raises GpuInfoError."""
    with _lock:
        library = _library()
        count = library.adapter_count()
        if count < 0:
            raise _failure(library)
        return count


def vram_mb(index: int) -> int:
    """Dedicated video memory in whole MiB of the adapter at `index` (at most
    2147483647). Raises IndexError when DXGI lists no adapter there,
    GpuInfoError when it can't be reached, TypeError for what is not an int."""
    # bool is an int to Python but never an index; a value outside int32
    # would otherwise wrap into a valid position.
    if isinstance(index, bool) or not isinstance(index, int):
        raise TypeError(f"index must be an int, not {type(index).__name__}")
    if not INT32_MIN <= index <= INT32_MAX:
        raise IndexError(f"no adapter at index {index}")
    with _lock:
        library = _library()
        mb = library.vram_mb(index)
        if mb >= 0:
            return mb
        # The library says -1 for both; one report answers, so DXGI
        # recovering in between can't turn a failure into "no adapter".
        raw = library.get_json()
        if raw is None:
            raise _failure(library)
        for adapter in parse_report(raw):
            if index >= 0 and adapter.index == index:
                return min(adapter.dedicated_vram_mb, INT32_MAX)
        raise IndexError(f"no adapter at index {index}")
