"""The binding's real code in Debian's python3 against the library's own
source built as a Linux shared library on the native tests' in-memory Windows
(tests/support/native/binding_library.cpp). Which scenario the library sees is picked
through its control call; what each must give is bindings/testdata/cases.json.

Environment: GPUINFO_STAND_IN (the shared library), GPUINFO_CASES (the
table), PYTHONPATH holding bindings/python/src.
"""
import ctypes
import dataclasses
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
from typing import Any, Callable, Dict, List, Optional, Set

import quillmar_gpuinfo as gpu
from quillmar_gpuinfo import _table

STAND_IN = os.environ["GPUINFO_STAND_IN"]
with open(os.environ["GPUINFO_CASES"], encoding="utf-8") as f:
    CASES = {case["name"]: case for case in json.load(f)["cases"]}
# Wine's own DXGI is only reached under Wine.
REACHABLE = [c for c in CASES.values() if "adapters" in c]
UNREACHABLE = [c for c in CASES.values() if "reason" in c]
with open(os.environ["GPUINFO_CASES"], encoding="utf-8") as f:
    TABLE = json.load(f)
CALLS: Dict[str, Callable[..., Any]] = {"report": gpu.report, "adapters": gpu.adapters,
                                        "adapter_count": gpu.adapter_count, "vram_mb": gpu.vram_mb}
ERRORS = {"enumeration": gpu.GpuInfoError, "index": IndexError}
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
PACKAGE_DIR = os.path.dirname(gpu.__file__)
CHILD_TIMEOUT_S = 60

_control = ctypes.CDLL(STAND_IN)
_control.gpuinfo_stand_in_scenario.argtypes = [ctypes.c_char_p]
_control.gpuinfo_stand_in_scenario.restype = ctypes.c_int


def use(name):
    if _control.gpuinfo_stand_in_scenario(name.encode()) != 1:
        raise AssertionError(f"the stand-in has no scenario {name!r}")


def expected_adapters(case):
    return [gpu.Adapter(**a) for a in case["adapters"]]


def setUpModule():
    gpu.load(STAND_IN)


class Reachable(unittest.TestCase):
    def test_adapters_are_the_report(self):
        for case in REACHABLE:
            with self.subTest(case["name"]):
                use(case["name"])
                got = gpu.adapters()
                self.assertEqual(got, expected_adapters(case))
                self.assertTrue(all(type(a) is gpu.Adapter for a in got))
                self.assertEqual(gpu.last_error(), "")

    def test_adapter_count_leaves_out_software_adapters(self):
        for case in REACHABLE:
            with self.subTest(case["name"]):
                use(case["name"])
                self.assertEqual(gpu.adapter_count(), sum(not a["software"] for a in case["adapters"]))

    def test_vram_mb_agrees_with_the_report_and_is_minus_one_around_it(self):
        for case in REACHABLE:
            with self.subTest(case["name"]):
                use(case["name"])
                adapters = case["adapters"]
                for a in adapters:
                    # The library saturates what an int can't hold.
                    self.assertEqual(gpu.vram_mb(a["index"]), min(a["dedicated_vram_mb"], INT32_MAX))
                for index in (len(adapters), -1, INT32_MAX, INT32_MIN):
                    with self.assertRaises(IndexError, msg=f"index {index}"):
                        gpu.vram_mb(index)

    def test_names_arrive_intact(self):
        use("beyond_bmp")
        name = gpu.adapters()[0].name
        # One code point each, not a pair of surrogates or replacement marks.
        self.assertEqual([hex(ord(c)) for c in name if ord(c) > 0x7F], ["0x1f600", "0x20bb7"])
        use("mixed")
        self.assertEqual(gpu.adapters()[0].name.encode("utf-8"),
                         b"Radeon Pr\xc3\xa9cision \xe2\x82\xac \xe6\xbc\xa2\xe5\xad\x97")

    def test_results_are_copies_the_next_call_does_not_rewrite(self):
        use("example")
        report, adapters = gpu.report(), gpu.adapters()
        use("mixed")
        self.assertNotEqual(gpu.report(), report)
        self.assertEqual(gpu.parse_report(report), adapters)
        self.assertEqual(adapters, expected_adapters(CASES["example"]))

    def test_adapters_are_frozen(self):
        use("example")
        adapter = gpu.adapters()[0]
        with self.assertRaises(dataclasses.FrozenInstanceError):
            adapter.name = "changed"

    def test_version(self):
        self.assertEqual(gpu.version(), gpu.__version__)

    def test_software_is_a_boolean(self):
        use("example")
        self.assertEqual([a.software for a in gpu.adapters()], [False, True])
        self.assertTrue(all(type(a.software) is bool for a in gpu.adapters()))


class Errors(unittest.TestCase):
    """Every call the shared table says must fail, with its kind of error."""

    def test_calls_fail_as_the_table_says(self) -> None:
        for case in CASES.values():
            for error in case.get("errors", []):
                if case["name"] in ("wine", "system"):
                    continue  # a machine's own DXGI: the stand-in has none
                with self.subTest(f"{case['name']}: {error}"):
                    use(case["name"])
                    args = [error["index"]] if "index" in error else []
                    with self.assertRaises(ERRORS[error["error"]]) as raised:
                        CALLS[error["call"]](*args)
                    if error["error"] == "enumeration":
                        # The reason is the error's, its text's and the library's own.
                        self.assertEqual(raised.exception.reason, case["reason"])  # type: ignore[attr-defined]
                        self.assertEqual(str(raised.exception), case["reason"])
                        self.assertEqual(gpu.last_error(), case["reason"])
                        self.assertEqual(gpu.version(), gpu.__version__)

    def test_sequences(self) -> None:
        for sequence in TABLE["sequences"]:
            for step in sequence["steps"]:
                with self.subTest(f"{sequence['name']}: {step}"):
                    use(step["scenario"])
                    args = [step["index"]] if "index" in step else []
                    if "error" in step:
                        with self.assertRaises(ERRORS[step["error"]]) as raised:
                            CALLS[step["call"]](*args)
                        if "reason" in step:
                            self.assertEqual(raised.exception.reason, step["reason"])  # type: ignore[attr-defined]
                    else:
                        self.assertEqual(CALLS[step["call"]](*args), step["result"])


class ProcessLock(unittest.TestCase):
    def test_the_name_every_binding_takes(self) -> None:
        """The named mutex is the one the shared definition gives, so this
        package and every other binding in a process take the same lock."""
        lock = TABLE["lock"]
        self.assertEqual(gpu.LOCK_NAME, lock["name"])
        self.assertEqual(gpu.LOCK_WAIT_MS, lock["wait_ms"])
        self.assertEqual(gpu.lock_name(4242), lock["name"].replace("{pid}", "4242"))
        self.assertEqual(gpu.lock_name(), lock["name"].replace("{pid}", str(os.getpid())))

    def assert_free_elsewhere(self, after: str) -> None:
        """Another thread takes the lock at once: the call let go of it."""
        taken: List[bool] = []

        def take() -> None:
            got = gpu._lock._threads.acquire(blocking=False)
            if got:
                gpu._lock._threads.release()
            taken.append(got)

        thread = threading.Thread(target=take)
        thread.start()
        thread.join()
        self.assertEqual(taken, [True], f"the lock is still held after {after}")

    def test_every_call_lets_go(self) -> None:
        use("example")
        for name, call in [("version", gpu.version), ("last_error", gpu.last_error), *CALLS.items()]:
            for args in ([0], [99]) if name == "vram_mb" else ([],):
                try:
                    call(*args)
                except IndexError:
                    pass
                self.assert_free_elsewhere(name)

    def test_an_interrupt_lets_go(self) -> None:
        """A KeyboardInterrupt in the call, or while the named mutex is let go
        of (a stand-in for it here, where there is none), leaves the lock free."""
        library = gpu._library()

        def interrupted() -> None:
            raise KeyboardInterrupt

        class Named:
            def hold(self) -> None:
                pass

            def let_go(self) -> None:
                raise KeyboardInterrupt

        saved = library.get_json
        library.get_json = interrupted
        try:
            self.assertRaises(KeyboardInterrupt, gpu.report)
        finally:
            library.get_json = saved
        self.assert_free_elsewhere("an interrupted call")
        saved_named, gpu._lock._named = gpu._lock._named, Named()
        try:
            self.assertRaises(KeyboardInterrupt, gpu.version)
        finally:
            gpu._lock._named = saved_named
        self.assert_free_elsewhere("an interrupt while letting go")


def generation(rule: Dict[str, Any], report: List[gpu.Adapter]) -> Optional[int]:
    """The one g a report of the changing case carries, if it is whole: every
    name has the same g (the digits after the template's text before {g}) and
    there are as many adapters as g gives. None for a torn report."""
    carried = re.compile(re.escape(rule["name"].split("{g}")[0]) + r"(\d+)")
    found = {int(m.group(1)) if m else None for m in (carried.match(a.name) for a in report)}
    g = found.pop() if len(found) == 1 else None
    if g is None or len(report) != rule["count"]["base"] + g % rule["count"]["modulus"]:
        return None
    return g


class Concurrency(unittest.TestCase):
    THREADS = 8
    CALLS_EACH = 250

    def test_every_result_is_one_whole_report(self) -> None:
        """Many threads call adapters() at once while every enumeration lists
        another report: each result is one whole report, each call its own."""
        rule = CASES["changing"]["generation"]
        use("changing")
        faults: List[str] = []
        generations: Set[int] = set()
        start = threading.Barrier(self.THREADS)

        def worker() -> None:
            start.wait()
            last = 0  # g only grows: each call enumerates after this thread's last one
            for _ in range(self.CALLS_EACH):
                got = gpu.adapters()
                g = generation(rule, got)
                with lock:
                    if g is None or g <= last:
                        faults.append(f"after generation {last}: {got!r}")
                    else:
                        last = g
                        generations.add(g)

        lock = threading.Lock()
        threads = [threading.Thread(target=worker) for _ in range(self.THREADS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(faults, [], f"{len(faults)} torn reports")
        self.assertEqual(len(generations), self.THREADS * self.CALLS_EACH, "enumerations shared or lost")
        print(f"\n{self.THREADS} threads x {self.CALLS_EACH} calls: {len(generations)} whole reports, none mixed",
              file=sys.stderr)


class Unreachable(unittest.TestCase):
    def test_last_error_follows_the_library_once_dxgi_is_back(self):
        use("create_fails")
        self.assertRaises(gpu.GpuInfoError, gpu.adapters)
        use("example")
        # Counting leaves the earlier failure text; the report empties it.
        self.assertEqual(gpu.adapter_count(), 1)
        self.assertEqual(gpu.last_error(), "CreateDXGIFactory failed")
        self.assertEqual(len(gpu.adapters()), 2)
        self.assertEqual(gpu.last_error(), "")


class Arguments(unittest.TestCase):
    BAD_INDEXES = [
        ("fraction", 1.5, TypeError),
        ("numeric text", "0", TypeError),
        ("None", None, TypeError),
        ("bool", True, TypeError),
        ("2**32, would wrap to 0", 2**32, IndexError),
        ("2**31", 2**31, IndexError),
        ("-(2**31) - 1", -2**31 - 1, IndexError),
    ]

    def test_vram_mb_rejects_what_is_not_an_int32(self):
        use("example")
        for label, value, error in self.BAD_INDEXES:
            with self.subTest(label):
                self.assertRaises(error, gpu.vram_mb, value)


def loaded_library_path(fragment):
    with open("/proc/self/maps") as maps:
        for line in maps:
            path = line.split()[-1]
            if fragment in os.path.basename(path):
                return path
    raise AssertionError(f"no {fragment} loaded")


class Loading(unittest.TestCase):
    def tearDown(self):
        gpu.load(STAND_IN)

    def test_explicit_path(self):
        self.assertEqual(gpu.load(STAND_IN), os.path.abspath(STAND_IN))
        self.assertEqual(gpu.version(), gpu.__version__)

    def test_failed_load_keeps_the_loaded_library(self):
        use("example")
        with tempfile.TemporaryDirectory() as empty:
            missing = os.path.join(empty, gpu.LIBRARY_NAME)
            with self.assertRaises(gpu.GpuInfoError) as raised:
                gpu.load(missing)
            self.assertTrue(raised.exception.reason.startswith(f"cannot load {missing}: "), raised.exception.reason)
        # A library without the calls, such as the C library; a file that is no library.
        libc = loaded_library_path("libc.so")
        with self.assertRaisesRegex(gpu.GpuInfoError, f"cannot load {libc}: it lacks the export gpuinfo_version"):
            gpu.load(libc)
        with self.assertRaisesRegex(gpu.GpuInfoError, f"cannot load {os.path.abspath(__file__)}: "):
            gpu.load(__file__)
        self.assertEqual(len(gpu.adapters()), 2)

    def test_load_errors_of_the_table(self):
        use("example")
        for entry in TABLE["load_errors"]:
            with self.subTest(entry["path"]):
                with self.assertRaises(gpu.GpuInfoError) as raised:
                    gpu.load(entry["path"])
                self.assertIn(os.path.abspath(entry["path"]), raised.exception.reason)
                self.assertEqual(len(gpu.adapters()), 2)

    def test_rejects_what_is_not_a_path(self):
        for bad in (42, "", b""):
            with self.subTest(repr(bad)):
                self.assertRaises(TypeError, gpu.load, bad)


class InstalledPackage(unittest.TestCase):
    """The package laid out as installed, the library beside __init__.py and
    found there without load(), run in child processes."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp()
        cls.package = os.path.join(cls.root, "with", "quillmar_gpuinfo")
        shutil.copytree(PACKAGE_DIR, cls.package, ignore=shutil.ignore_patterns("__pycache__"))
        shutil.copy(STAND_IN, os.path.join(cls.package, gpu.LIBRARY_NAME))
        cls.bare = os.path.join(cls.root, "without", "quillmar_gpuinfo")
        shutil.copytree(PACKAGE_DIR, cls.bare, ignore=shutil.ignore_patterns("__pycache__"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def run_child(self, args, scenario="example", package=None):
        env = dict(os.environ, PYTHONPATH=os.path.dirname(package or self.package), FAKE_DXGI_SCENARIO=scenario,
                   PYTHONDONTWRITEBYTECODE="1")
        return subprocess.run([sys.executable, *args], env=env, capture_output=True, timeout=CHILD_TIMEOUT_S)

    def test_found_beside_the_package(self):
        code = ("import quillmar_gpuinfo as g; print(g.default_path()); "
                "print(g.version(), g.adapter_count(), g.adapters()[0].name)")
        run = self.run_child(["-c", code])
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout.decode().splitlines(),
                         [os.path.join(self.package, gpu.LIBRARY_NAME), f"{gpu.__version__} 1 Example V7 Graphics"])

    def test_every_call_without_the_library_names_its_path(self):
        code = ("import quillmar_gpuinfo as g\n"
                "for call in (g.version, g.last_error, g.report, g.adapters, g.adapter_count, lambda: g.vram_mb(0)):\n"
                "    try:\n"
                "        call()\n"
                "        print('returned')\n"
                "    except g.GpuInfoError as e:\n"
                "        print(e.reason)\n")
        run = self.run_child(["-c", code], package=self.bare)
        self.assertEqual(run.returncode, 0, run.stderr)
        lines = run.stdout.decode().splitlines()
        self.assertEqual(len(lines), 6)
        missing = os.path.join(self.bare, gpu.LIBRARY_NAME)
        for line in lines:
            self.assertTrue(line.startswith(f"cannot load {missing}: "), line)

    def test_command_line(self):
        for case in REACHABLE:
            with self.subTest(f"table, {case['name']}"):
                run = self.run_child(["-m", "quillmar_gpuinfo"], case["name"])
                self.assertEqual((run.returncode, run.stderr), (0, b""))
                self.assertEqual(run.stdout, _table.render(expected_adapters(case)).encode("utf-8"))
        with self.subTest("--json gives the report and a newline"):
            run = self.run_child(["-m", "quillmar_gpuinfo", "--json"], "mixed")
            self.assertEqual(run.returncode, 0)
            self.assertEqual(run.stdout[-1:], b"\n")
            self.assertEqual(gpu.parse_report(run.stdout), expected_adapters(CASES["mixed"]))
        with self.subTest("--version"):
            run = self.run_child(["-m", "quillmar_gpuinfo", "--version"])
            self.assertEqual(run.stdout, f"quillmar_gpuinfo {gpu.__version__} (library {gpu.__version__})\n".encode())
        for case in UNREACHABLE:
            with self.subTest(f"exit 1, {case['name']}"):
                run = self.run_child(["-m", "quillmar_gpuinfo"], case["name"])
                self.assertEqual((run.returncode, run.stdout), (1, b""))
                self.assertEqual(run.stderr, f"quillmar_gpuinfo: {case['reason']}\n".encode())
        for args in (["--frobnicate"], ["adapters"], ["--json", "--version"]):
            with self.subTest(f"exit 2, {args}"):
                run = self.run_child(["-m", "quillmar_gpuinfo", *args])
                self.assertEqual((run.returncode, run.stdout), (2, b""))
                self.assertIn(b"--help", run.stderr)
        with self.subTest("exit 3 without the library, --help still answers"):
            run = self.run_child(["-m", "quillmar_gpuinfo"], package=self.bare)
            self.assertEqual((run.returncode, run.stdout), (3, b""))
            missing = os.path.join(self.bare, gpu.LIBRARY_NAME)
            self.assertTrue(run.stderr.startswith(f"quillmar_gpuinfo: cannot load {missing}: ".encode()), run.stderr)
            run = self.run_child(["-m", "quillmar_gpuinfo", "--help"], package=self.bare)
            self.assertEqual(run.returncode, 0)
            self.assertTrue(run.stdout.startswith(b"Usage: python -m quillmar_gpuinfo"))


class Table(unittest.TestCase):
    """The cells gpuinfo.exe writes; whole tables are compared with
    gpuinfo.exe's own under Wine (bindings/python/tests/check_table.py)."""

    def test_sizes(self):
        for mib, text in [(0, "0 MiB"), (1023, "1023 MiB"), (1024, "1.0 GiB"), (16368, "16.0 GiB"),
                          (4044, "3.9 GiB"), (1048524, "1023.9 GiB"), (1048525, "1.0 TiB"),
                          ((2**64 - 1) >> 20, "16.0 EiB")]:
            with self.subTest(mib):
                self.assertEqual(_table.format_size(mib), text)

    def test_names_come_last_and_whole(self):
        long_name = "\U0001F600" * 30 + " e\u0301 " + "x" * 60
        table = _table.render([
            gpu.Adapter(0, long_name, "AMD", 0x1002, 0x73BF, 16368, 32727, "31.0.24033.1003", False),
            gpu.Adapter(1, "", "", 0x1414, 0x8C, 0, 4044, "", True),
        ]).splitlines()
        self.assertEqual(table[0], "#  Vendor  IDs        Dedicated    Shared  Driver           Software  Name")
        self.assertEqual(table[1], "0  AMD     1002:73BF   16.0 GiB  32.0 GiB  31.0.24033.1003  no        " + long_name)
        self.assertEqual(table[2], "1  -       1414:008C      0 MiB   3.9 GiB  -                yes       -")

if __name__ == "__main__":
    unittest.main()
