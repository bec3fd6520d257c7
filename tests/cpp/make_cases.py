#!/usr/bin/env python3
"""Writes the shared binding cases (bindings/testdata/cases.json) as C++
initializers for the wrapper's test, so the test reads the one definition
without a JSON parser of its own.

usage: make_cases.py cases.json cases.inc"""
import json
import sys


def text(value):
    """A C++ string literal of the UTF-8 bytes: octal escapes outside
    printable ASCII, so no escape runs into the next character."""
    out = []
    for byte in value.encode("utf-8"):
        char = chr(byte)
        out.append(f"\\{byte:03o}" if byte < 0x20 or byte >= 0x7F or char in '"\\?' else char)
    return '"' + "".join(out) + '"'


def adapter(a):
    return (f"{{{a['index']}, {text(a['name'])}, {text(a['vendor'])}, {a['vendor_id']}u, {a['device_id']}u, "
            f"{a['dedicated_vram_mb']}ull, {a['shared_memory_mb']}ull, {text(a['driver_version'])}, "
            f"{'true' if a['software'] else 'false'}}}")


def call(e):
    return (f"{{{text(e['call'])}, {e.get('index', 0)}, {text(e['error'])}, {text(e.get('reason', ''))}, "
            f"{e.get('result', -1)}}}")


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        data = json.load(f)
    lines = ["// Made by tests/cpp/make_cases.py from bindings/testdata/cases.json: edit that file instead.",
             "const std::vector<shared_case> shared_cases = {"]
    rule = None
    for case in data["cases"]:
        if "generation" in case:
            rule = case["generation"]
            continue
        adapters = case.get("adapters")
        lines.append(f"    {{{text(case['name'])}, {text(case.get('reason', ''))}, "
                     f"{'true' if adapters is not None else 'false'}, {case.get('adapter_count', -1)},")
        lines.append("     {" + ",\n      ".join(adapter(a) for a in adapters or []) + "},")
        lines.append("     {" + ", ".join(call(e) for e in case.get("errors", [])) + "}},")
    lines.append("};")
    lines.append("const std::vector<shared_sequence> shared_sequences = {")
    for sequence in data["sequences"]:
        lines.append(f"    {{{text(sequence['name'])}, {{")
        for step in sequence["steps"]:
            lines.append(f"        {{{text(step['scenario'])}, {call(dict(step, error=step.get('error', '')))}}},")
        lines.append("    }},")
    lines.append("};")
    lines.append(f"const changing_rule changing = {{{rule['count']['base']}u, {rule['count']['modulus']}u, "
                 f"{text(rule['name'])}}};")
    lock = data["lock"]
    lines.append(f"const lock_rule lock = {{{text(lock['name'])}, {lock['wait_ms']}u, {lock['test_wait_ms']}u}};")
    lines.append("const std::vector<squatter_row> squatters = {")
    for row in lock["squatters"]:
        lines.append(f"    {{{text(row['name'])}, {text(row['makes'])}, {text(row.get('sddl', ''))}, "
                     f"{text(row.get('error', ''))}}},")
    lines.append("};")
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
