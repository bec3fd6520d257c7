#!/usr/bin/env python3
"""Checks every report logged by the Wine tests by rules R1 to R6 of
docs/report.md: strict UTF-8 and strict JSON (no duplicate keys, no NaN),
exactly the compact serialisation of what it parses to, the fixed shape and
key order, the types and the values.
    check_reports.py <report log>...   every line of each log
    check_reports.py --self-test       altered copies of the example report,
                                       each of which must be refused"""
import json
import os
import sys

KEYS = ["index", "name", "vendor", "vendor_id", "device_id", "dedicated_vram_mb",
        "shared_memory_mb", "driver_version", "software"]
VENDORS = {"Microsoft", "NVIDIA", "Intel", "AMD", "VMware", "Red Hat", "QEMU", "Unknown"}


def pairs(items):
    keys = [k for k, _ in items]
    if len(keys) != len(set(keys)):
        raise ValueError(f"duplicate keys {keys}")
    return items


def reject_constant(name):
    raise ValueError(f"non-standard constant {name}")


class Bad(Exception):
    """A report that breaks a rule."""


def require(cond, message):
    # Raised, never asserted: python -O would drop an assert with its check.
    if not cond:
        raise Bad(message)


def check_line(line):
    text = line.decode("utf-8", errors="strict")
    doc = json.loads(text, object_pairs_hook=pairs, parse_constant=reject_constant)
    require([k for k, _ in doc] == ["adapters"], f"top-level keys {[k for k, _ in doc]}")
    adapters = doc[0][1]
    require(isinstance(adapters, list) and len(adapters) <= 16, "adapters is not a list of at most 16")
    plain = {"adapters": []}
    for i, items in enumerate(adapters):
        require(isinstance(items, list) and [k for k, _ in items] == KEYS, f"adapter {i}: keys {items}")
        obj = dict(items)
        require(type(obj["index"]) is int and obj["index"] == i, f"adapter {i}: index {obj['index']!r}")
        name = obj["name"]
        require(isinstance(name, str) and len(name.encode()) <= 191, f"adapter {i}: name {name!r}")
        require(not any(ord(c) < 0x20 for c in name), f"adapter {i}: control character in {name!r}")
        require(not name.endswith(" "), f"adapter {i}: trailing space in {name!r}")
        require(isinstance(obj["vendor"], str) and obj["vendor"] in VENDORS, f"adapter {i}: vendor {obj['vendor']!r}")
        for key in ("vendor_id", "device_id"):
            require(type(obj[key]) is int and 0 <= obj[key] < 2**32, f"adapter {i}: {key} {obj[key]!r}")
        for key in ("dedicated_vram_mb", "shared_memory_mb"):
            require(type(obj[key]) is int and 0 <= obj[key] < 2**44, f"adapter {i}: {key} {obj[key]!r}")
        version = obj["driver_version"]
        require(isinstance(version, str), f"adapter {i}: driver_version {version!r}")
        if version:
            words = version.split(".")
            require(len(words) == 4 and all(w.isdigit() and int(w) < 65536 and str(int(w)) == w for w in words),
                    f"adapter {i}: driver_version {version!r}")
        require(type(obj["software"]) is int and obj["software"] in (0, 1), f"adapter {i}: software {obj['software']!r}")
        require(obj["software"] == (obj["vendor_id"] == 0x1414), f"adapter {i}: software {obj['software']} for vendor {obj['vendor_id']}")
        plain["adapters"].append(obj)
    again = json.dumps(plain, separators=(",", ":"), ensure_ascii=False)
    require(again == text, f"not in compact form:\n{text}\n{again}")


# (what is altered, the example report's text, its replacement): each
# altered report breaks one rule and must be refused.
ALTERED = [
    ("a space after a colon", '"index":0', '"index": 0'),
    ("a line break at the end", '}]}', '}]}\n'),
    ("keys out of order", '"vendor_id":4098,"device_id":29631', '"device_id":29631,"vendor_id":4098'),
    ("an index that skips", '"index":1', '"index":2'),
    ("an index as text", '"index":0', '"index":"0"'),
    ("a trailing space in a name", '"Example V7 Graphics"', '"Example V7 Graphics "'),
    ("a control character in a name", '"Example V7 Graphics"', '"Example\\tV7"'),
    ("a vendor not in the table", '"vendor":"AMD"', '"vendor":"ATI"'),
    ("a negative id", '"device_id":140', '"device_id":-140'),
    ("a size past 44 bits", '"shared_memory_mb":4044', '"shared_memory_mb":17592186044416'),
    ("a driver version of three words", '"31.0.24033.1003"', '"31.0.24033"'),
    ("a driver version word with a leading zero", '"31.0.24033.1003"', '"31.00.24033.1003"'),
    ("software as a truth value", '"software":0', '"software":false'),
    ("software for a hardware vendor", '"software":0', '"software":1'),
    ("a duplicate key", '"software":0', '"software":0,"software":0'),
    ("a key more", '"software":0', '"software":0,"pci_bus":3'),
    ("not UTF-8", 'Example V7', b'Example \xff7'),
]


def self_test():
    """The example report passes, and every altered copy of it fails."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
    import checks
    example = checks.example_report()
    try:
        check_line(example.encode())
        print("ok   the example report passes")
        failed = 0
    except Exception as e:
        print(f"FAIL the example report is refused: {e!r}")
        failed = 1
    for label, old, new in ALTERED:
        if old not in example:
            print(f"FAIL {label}: {old!r} is not in the example report")
            failed += 1
            continue
        altered = example.encode().replace(old.encode(), new if isinstance(new, bytes) else new.encode(), 1)
        try:
            check_line(altered)
            print(f"FAIL {label}: accepted")
            failed += 1
        except Exception as e:
            print(f"ok   {label}: {e!r}")
    print(f"{len(ALTERED) + 1 - failed} passed, {failed} failed")
    return 1 if failed else 0


def main(paths):
    checked = failed = 0
    for path in paths:
        with open(path, "rb") as f:
            for number, line in enumerate(f.read().split(b"\n")[:-1], 1):
                checked += 1
                try:
                    check_line(line)
                except Exception as e:  # report every bad line, not just the first
                    failed += 1
                    print(f"{path}:{number}: {e!r}")
    if checked == 0:
        print("no reports were logged")
        failed += 1
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(self_test() if sys.argv[1:] == ["--self-test"] else main(sys.argv[1:]))
