"""The adapter table of gpuinfo.exe, character for character: the same
columns, widths in console columns, sizes in binary units and cut names."""

import unicodedata
from typing import TYPE_CHECKING, List, Sequence, Tuple

if TYPE_CHECKING:
    from quillmar_gpuinfo import Adapter

NAME_COLUMN_MAX = 40  # console columns, ellipsis included
COLUMN_GAP = 2
ELLIPSIS = "\u2026"
SIZE_UNITS = ("GiB", "TiB", "PiB", "EiB")
NO_ADAPTERS = "No graphics adapters were found.\n"
# title, right-aligned
COLUMNS: Tuple[Tuple[str, bool], ...] = (("#", True), ("Name", False), ("Vendor", False), ("IDs", False),
           ("Dedicated", True), ("Shared", True), ("Driver", False), ("Software", False))


# The code points gpuinfo.exe counts as no column: combining marks of Latin,
# Greek, Cyrillic and CJK text, variation selectors, zero-width spaces and
# joiners (its zero_width table).
ZERO_WIDTH = ((0x0300, 0x036F), (0x0483, 0x0489), (0x1AB0, 0x1AFF), (0x1DC0, 0x1DFF), (0x200B, 0x200F),
              (0x2060, 0x2064), (0x20D0, 0x20FF), (0x302A, 0x302D), (0x3099, 0x309A), (0xFE00, 0xFE0F),
              (0xFE20, 0xFE2F), (0xFEFF, 0xFEFF), (0xE0100, 0xE01EF))


def char_columns(char: str) -> int:
    """Console columns of one character: East Asian Wide and Fullwidth take
    two, as gpuinfo.exe's double_width table (Unicode 14) says."""
    point = ord(char)
    if any(first <= point <= last for first, last in ZERO_WIDTH):
        return 0
    return 2 if unicodedata.east_asian_width(char) in "WF" else 1


def columns(text: str) -> int:
    return sum(char_columns(c) for c in text)


def fit_text(text: str, limit: int = NAME_COLUMN_MAX) -> str:
    """At most `limit` columns; a wider text keeps what fits in limit - 1 of
    them (marks combining with its last character included), less trailing
    spaces, and ends in an ellipsis."""
    if columns(text) <= limit:
        return text
    width = keep = 0
    for char in text:
        width += char_columns(char)
        if width > limit - 1:
            break
        keep += 1
    return text[:keep].rstrip(" ") + ELLIPSIS


def format_size(mib: int) -> str:
    """MiB below 1024 MiB, then one decimal of the largest unit that keeps
    the rounded figure under 1024."""
    if mib < 1024:
        return f"{mib} MiB"
    unit, divisor = 0, 1024
    tenths = (mib * 10 + divisor // 2) // divisor
    while tenths >= 10240 and unit + 1 < len(SIZE_UNITS):
        unit += 1
        divisor *= 1024
        tenths = (mib * 10 + divisor // 2) // divisor
    return f"{tenths // 10}.{tenths % 10} {SIZE_UNITS[unit]}"


def cells(adapter: "Adapter") -> Tuple[str, ...]:
    return (str(adapter.index),
            fit_text(adapter.name or "-"),
            fit_text(adapter.vendor),
            f"{adapter.vendor_id:04X}:{adapter.device_id:04X}",
            format_size(adapter.dedicated_vram_mb),
            format_size(adapter.shared_memory_mb),
            adapter.driver_version or "-",
            "yes" if adapter.software else "no")


def render(adapters: Sequence["Adapter"]) -> str:
    """The whole table, one line per adapter after the titles, each line
    ending in a bare newline and nothing trailing after its last cell."""
    if not adapters:
        return NO_ADAPTERS
    rows = [tuple(title for title, _ in COLUMNS)] + [cells(a) for a in adapters]
    widths = [max(columns(row[c]) for row in rows) for c in range(len(COLUMNS))]
    lines: List[str] = []
    for row in rows:
        line, pending = "", 0
        for (_, right), width, cell in zip(COLUMNS, widths, row):
            pad = width - columns(cell)
            if right:
                pending += pad
            line += " " * pending + cell
            pending = (0 if right else pad) + COLUMN_GAP
        lines.append(line + "\n")
    return "".join(lines)
