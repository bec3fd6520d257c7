#!/usr/bin/env python3
"""Checks every report logged by the Wine tests by rules R1 to R6 of
docs/report.md: strict UTF-8 and strict JSON (no duplicate keys, no NaN),
exactly the compact serialisation of what it parses to, the fixed shape and
key order, the types and the values."""
import json
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


def check(line):
    text = line.decode("utf-8", errors="strict")
    doc = json.loads(text, object_pairs_hook=pairs, parse_constant=reject_constant)
    assert [k for k, _ in doc] == ["adapters"], doc
    adapters = doc[0][1]
    assert isinstance(adapters, list) and len(adapters) <= 16, "adapters"
    plain = {"adapters": []}
    for i, items in enumerate(adapters):
        assert [k for k, _ in items] == KEYS, items
        obj = dict(items)
        assert type(obj["index"]) is int and obj["index"] == i, obj
        assert isinstance(obj["name"], str) and len(obj["name"].encode()) <= 191
        assert not any(ord(c) < 0x20 for c in obj["name"]), obj["name"]
        assert not obj["name"].endswith(" "), obj["name"]
        assert isinstance(obj["vendor"], str) and obj["vendor"] in VENDORS, obj["vendor"]
        for key in ("vendor_id", "device_id"):
            assert type(obj[key]) is int and 0 <= obj[key] < 2**32, key
        for key in ("dedicated_vram_mb", "shared_memory_mb"):
            assert type(obj[key]) is int and 0 <= obj[key] < 2**44, key
        version = obj["driver_version"]
        assert isinstance(version, str), version
        if version:
            words = version.split(".")
            assert len(words) == 4 and all(w.isdigit() and int(w) < 65536 and str(int(w)) == w for w in words)
        assert obj["software"] in (0, 1) and type(obj["software"]) is int
        assert obj["software"] == (obj["vendor_id"] == 0x1414), obj
        plain["adapters"].append(obj)
    again = json.dumps(plain, separators=(",", ":"), ensure_ascii=False)
    assert again == text, f"not in compact form:\n{text}\n{again}"


def main(paths):
    checked = failed = 0
    for path in paths:
        with open(path, "rb") as f:
            for number, line in enumerate(f.read().split(b"\n")[:-1], 1):
                checked += 1
                try:
                    check(line)
                except Exception as e:  # report every bad line, not just the first
                    failed += 1
                    print(f"{path}:{number}: {e!r}")
    if checked == 0:
        print("no reports were logged")
        failed += 1
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
