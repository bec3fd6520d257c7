#!/usr/bin/env python3
"""Writes the reader's seed corpus (tests/reader/corpus) from the shared test
data: each file is one byte that picks the capacity (its value mod 18), then
a text for gpuinfo_read_report. Run it again after changing the data."""
import json
import os

here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "..", "..", "bindings", "testdata", "cases.json"), encoding="utf-8") as f:
    cases = {c["name"]: c for c in json.load(f)["cases"]}
# The bindings' data gives software as a truth value, the report as 0 or 1.
for case in cases.values():
    for adapter in case.get("adapters", []):
        adapter["software"] = int(adapter["software"])


def report(name, **dump):
    return json.dumps({"adapters": cases[name]["adapters"]}, ensure_ascii=dump.pop("ascii", False),
                      separators=dump.pop("separators", (",", ":")), **dump)


def adapter(**changes):
    a = dict(cases["example"]["adapters"][0], **changes)
    return json.dumps({"adapters": [a]}, separators=(",", ":"), ensure_ascii=False)


example = report("example")
seeds = {
    "example": (16, example),
    "example_room_for_one": (1, example),
    "example_no_room": (0, example),
    "mixed_indented": (16, report("mixed", indent="\t", separators=(",", ": "))),
    "beyond_bmp_escaped": (16, report("beyond_bmp", ascii=True)),
    "max16_room_for_17": (17, report("max16")),
    "empty": (3, report("empty")),
    "added_keys_reordered": (16, json.dumps(
        {"schema": 2, "host": {"v": [1, -2.5e+30, 0.125, True, False, None, "a\"\\/b", [], {}]},
         "adapters": [dict(reversed(list(a.items())), extra=[{"k": None}])
                      for a in cases["example"]["adapters"]]}, separators=(",", ":"))),
    "names_at_the_bound": (16, json.dumps({"adapters": [
        dict(cases["example"]["adapters"][0], index=i, name=name) for i, name in
        enumerate(["a" * 191, "a" * 190 + "\u00e9", "a" * 189 + "\u20ac", "a" * 188 + "\U0001F600"])]},
        separators=(",", ":"), ensure_ascii=False)),
    "escapes_of_every_length": (16, json.dumps({"adapters": [
        dict(cases["example"]["adapters"][0], name="\x01A\u00e9\u20ac\U0001F600")]}, separators=(",", ":"))),
    "simple_escapes": (16, adapter(name="q\" b\\ s/ \b\f\n\r\t", vendor="V" * 40, driver_version="9" * 70)),
    "nested_deep": (16, '{"x":' + "[" * 62 + "{}" + "]" * 62 + ',"adapters":[]}'),
    "refused_key_missing": (16, example.replace(',"vendor":"AMD"', "")),
    "refused_mistyped": (16, example.replace('"vendor_id":4098', '"vendor_id":"4098"')),
    "refused_lone_surrogate": (16, adapter(name="x").replace('"name":"x"', '"name":"\\ud83d x"')),
}

folder = os.path.join(here, "corpus")
os.makedirs(folder, exist_ok=True)
for name, (capacity, text) in seeds.items():
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes([capacity]) + text.encode("utf-8"))
